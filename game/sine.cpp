// The game's sine. The argument is brought near zero against pi/2 held in
// pieces, x = k pi/2 + a + t with a = i/64, and sin(k pi/2 + a) and
// cos(k pi/2 + a) come from a table of double pairs built at compile time, one
// block for even k and one for odd k, so no branch depends on the angle. sin(x) is then summed
// as a double pair good to about 2^-65; when that error bound leaves the
// rounding in doubt (about one call in six hundred), the sum is carried again to
// about 2^-100, by Taylor series and a longer reduction. Every step is an IEEE
// addition, subtraction, multiplication or division, in a fixed order.
#include "game/sine.h"

#include <array>
#include <cmath>
#include <cstdint>

namespace prendax {

namespace {

constexpr double TWO_OVER_PI = 0x1.45f306dc9c883p-1;
// pi/2 = PIO2_1 + ... + PIO2_5 to 149 bits; the first four hold 24 bits each,
// so a quadrant count below 2^29 times any of them is exact.
constexpr double PIO2_1 = 0x1.921fb4p+0;
constexpr double PIO2_2 = 0x1.4442dp-24;
constexpr double PIO2_3 = 0x1.846988p-48;
constexpr double PIO2_4 = 0x1.8cc516p-72;
constexpr double PIO2_5 = 0x1.01b839a25204ap-96;
constexpr double PIO2_REST = 0x1.8469898cc5170p-48;  // pi/2 - PIO2_1 - PIO2_2, to 2^-103
constexpr double REDUCE_LIMIT = 0x1p28;              // the pieces above serve up to here
constexpr double TWO_PI = 0x1.921fb54442d18p+2;
constexpr double TINY = 0x1p-26;      // below this, sin(x) rounds to x
constexpr double TABLE_STEPS = 64.0;  // the table holds a = i/64 ...
constexpr int TABLE_REACH = 51;       // ... for i = -51..51, past pi/4 + 1/128
constexpr int TABLE_ROWS = 2 * TABLE_REACH + 1;
constexpr int HALF_TURNS = 2;                        // the table holds quadrants 0 and 1; 2 and 3 are their negatives
constexpr double ROUNDING_SHIFT = 0x1.8p52;          // adding it rounds a double below 2^51 to a whole number
constexpr double FAST_ERROR = 0x1p-63;               // bound on the fast sum's relative error, with a margin ...
constexpr double FAST_ERROR_PER_QUADRANT = 0x1p-97;  // ... plus the fast reduction's, k times this
constexpr double SERIES_END = 0x1p-110;              // a series stops at a term this small beside its sum
constexpr double SPLIT_FACTOR = 0x1p27 + 1.0;

// Taylor coefficients of the fast path: sin t = t + t^3 (S3 + t^2 S5 + ...),
// cos t = 1 + t^2 (C2 + t^2 C4 + ...), each rounded to double.
constexpr double S3 = -0x1.5555555555555p-3;
constexpr double S5 = 0x1.1111111111111p-7;
constexpr double S7 = -0x1.a01a01a01a01ap-13;
constexpr double C2 = -0.5;
constexpr double C4 = 0x1.5555555555555p-5;
constexpr double C6 = -0x1.6c16c16c16c17p-10;

// A value held as the unevaluated sum hi + lo.
struct Pair {
    double hi;
    double lo;
};

constexpr double magnitude(double a) { return a < 0.0 ? -a : a; }

constexpr Pair negated(Pair a) { return {-a.hi, -a.lo}; }

// a + b as the rounded sum and its exact error.
constexpr Pair two_sum(double a, double b) {
    const double sum = a + b;
    const double bPart = sum - a;
    return {sum, (a - (sum - bPart)) + (b - bPart)};
}

// The same when |a| >= |b| is known.
constexpr Pair fast_two_sum(double a, double b) {
    const double sum = a + b;
    return {sum, b - (sum - a)};
}

// a as two halves of at most 26 bits, whose products are exact.
constexpr Pair split(double a) {
    const double scaled = SPLIT_FACTOR * a;
    const double hi = scaled - (scaled - a);
    return {hi, a - hi};
}

// a * b as the rounded product and its exact error.
constexpr Pair two_product(double a, double b) {
    const double product = a * b;
    const Pair x = split(a);
    const Pair y = split(b);
    return {product, ((x.hi * y.hi - product) + x.hi * y.lo + x.lo * y.hi) + x.lo * y.lo};
}

constexpr Pair pair_add(Pair a, Pair b) {
    Pair high = two_sum(a.hi, b.hi);
    const Pair low = two_sum(a.lo, b.lo);
    high = fast_two_sum(high.hi, high.lo + low.hi);
    return fast_two_sum(high.hi, high.lo + low.lo);
}

constexpr Pair pair_add(Pair a, double b) {
    const Pair sum = two_sum(a.hi, b);
    return two_sum(sum.hi, sum.lo + a.lo);
}

constexpr Pair pair_multiply(Pair a, Pair b) {
    const Pair product = two_product(a.hi, b.hi);
    return fast_two_sum(product.hi, product.lo + (a.hi * b.lo + a.lo * b.hi));
}

// a / d for a whole number d small enough to be exact.
constexpr Pair pair_divide(Pair a, double d) {
    const double first = a.hi / d;
    const Pair back = two_product(first, d);
    const double rest = ((a.hi - back.hi) - back.lo) + a.lo;
    return fast_two_sum(first, rest / d);
}

// Sums terms that each follow from the one before by times -v^2 / (n (n + 1)),
// from the given first term and order, until they no longer count.
constexpr Pair alternating_series(Pair first, int order, Pair v) {
    const Pair square = pair_multiply(v, v);
    Pair term = first;
    Pair sum = first;
    for (int n = order + 1; term.hi != 0.0 && magnitude(term.hi) > magnitude(sum.hi) * SERIES_END; n += 2) {
        term = negated(pair_divide(pair_multiply(term, square), static_cast<double>(n) * (n + 1)));
        sum = pair_add(sum, term);
    }
    return sum;
}

constexpr Pair series_sine(Pair v) { return alternating_series(v, 1, v); }

constexpr Pair series_cosine(Pair v) { return alternating_series({1.0, 0.0}, 0, v); }

// sin and cos of k pi/2 + a, for k = 0 or 1.
struct TableRow {
    Pair sine;
    Pair cosine;
};

using Table = std::array<std::array<TableRow, TABLE_ROWS>, HALF_TURNS>;

constexpr Table build_table() {
    Table table{};
    for (int i = -TABLE_REACH; i <= TABLE_REACH; i++) {
        const Pair a = {static_cast<double>(i) / TABLE_STEPS, 0.0};
        const Pair sine = series_sine(a);
        const Pair cosine = series_cosine(a);
        const int row = i + TABLE_REACH;
        table[0][row] = {sine, cosine};
        table[1][row] = {cosine, negated(sine)};
    }
    return table;
}

constexpr Table TABLE = build_table();

// x = k pi/2 + a + t, with |a + t| <= pi/4 + 2^-24 and |t| <= 1/128.
struct Reduced {
    const TableRow* row;  // sin and cos of (k mod 2) pi/2 + a
    Pair t;
    double k;
    double sign;  // -1 when k mod 4 is 2 or 3: sin(x) = sign sin((k mod 2) pi/2 + a + t)
};

constexpr double HALF_TURN_SIGN[2] = {1.0, -1.0};

// The whole number nearest to v (ties to even), for |v| below 2^51: the sum
// rounds it, exactly, and the difference is exact.
double nearest_whole(double v) { return (v + ROUNDING_SHIFT) - ROUNDING_SHIFT; }

// The table's row for quadrant count k and r = x - k pi/2, and what is left of r.
Reduced split_reduced(double k, Pair r) {
    // r.hi * 64 is exact, and so is r.hi - a: the two lie within a factor of two.
    const double i = nearest_whole(r.hi * TABLE_STEPS);
    const double t = r.hi - i / TABLE_STEPS;
    const auto quadrant = static_cast<int32_t>(static_cast<int64_t>(k) & 3);
    return {&TABLE[quadrant & 1][static_cast<int32_t>(i) + TABLE_REACH], {t, r.lo}, k, HALF_TURN_SIGN[quadrant >> 1]};
}

// For 0 <= x < 2^28 the count k stays below 2^28, so x - k * PIO2_1 is exact,
// the two lying within a factor of two of each other, and so is every k * PIO2_n
// but the last.
double quadrant_count(double x) { return nearest_whole(x * TWO_OVER_PI); }

// pi/2 in three pieces: off by at most k * 2^-99 (none for k = 0).
Reduced reduce_fast(double x) {
    const double k = quadrant_count(x);
    const Pair high = two_sum(x - k * PIO2_1, -(k * PIO2_2));
    return split_reduced(k, fast_two_sum(high.hi, high.lo - k * PIO2_REST));
}

// pi/2 in five pieces: to about 2^-104 of r.
Reduced reduce_accurate(double x) {
    const double k = quadrant_count(x);
    Pair r = {x - k * PIO2_1, 0.0};
    r = pair_add(r, -(k * PIO2_2));
    r = pair_add(r, -(k * PIO2_3));
    r = pair_add(r, -(k * PIO2_4));
    r = pair_add(r, -(k * PIO2_5));
    return split_reduced(k, r);
}

// The table's a + t, with t's correction folded in as far as it counts.
struct FastTerms {
    double c;     // cos t - 1
    double tail;  // sin t - t.hi
};

FastTerms fast_terms(Pair t) {
    const double z = t.hi * t.hi;
    const double c = z * (C2 + z * (C4 + z * C6)) - t.hi * t.lo;
    const double tail = t.hi * z * (S3 + z * (S5 + z * S7)) + t.lo * (1.0 + C2 * z);
    return {c, tail};
}

// With b = k pi/2 + a: sin(b + t) = sin b + sin b (cos t - 1) + cos b sin t.
Pair fast_sum(const TableRow& row, Pair t) {
    const FastTerms f = fast_terms(t);
    const Pair leading = two_product(row.cosine.hi, t.hi);
    const Pair head = two_sum(row.sine.hi, leading.hi);
    const double lo =
        ((head.lo + leading.lo) + (row.sine.lo + row.cosine.lo * t.hi)) + (row.sine.hi * f.c + row.cosine.hi * f.tail);
    return fast_two_sum(head.hi, lo);
}

double accurate_sum(const TableRow& row, Pair t) {
    t = two_sum(t.hi, t.lo);
    return pair_add(pair_multiply(row.sine, series_cosine(t)), pair_multiply(row.cosine, series_sine(t))).hi;
}

// sin(x) for x >= 0, through the longer reduction and the series.
double accurate_positive(double x) {
    const Reduced r = reduce_accurate(x);
    return accurate_sum(*r.row, r.t) * r.sign;
}

// sin(x) outside the reduction's range, or where it rounds to x itself.
bool reduction_serves(double x) {
    const double size = std::fabs(x);
    return size >= TINY && size < REDUCE_LIMIT;
}

double edge_sine(double x) {
    if (std::fabs(x) < TINY) return x;
    if (std::isnan(x) || std::isinf(x)) return x - x;
    const double rest = std::fmod(x, TWO_PI);  // exact
    if (std::fabs(rest) < TINY) return rest;
    return rest < 0.0 ? -accurate_positive(-rest) : accurate_positive(rest);
}

}  // namespace

// sin(-x) = -sin(x): the work is done on |x|.
double sine(double x) {
    if (!reduction_serves(x)) return edge_sine(x);
    const double size = std::fabs(x);
    const Reduced r = reduce_fast(size);
    const Pair sum = fast_sum(*r.row, r.t);
    const double bound = std::fabs(sum.hi) * FAST_ERROR + r.k * FAST_ERROR_PER_QUADRANT;
    const double value = sum.hi + (sum.lo + bound);
    const double positive = value == sum.hi + (sum.lo - bound) ? value * r.sign : accurate_positive(size);
    return x < 0.0 ? -positive : positive;
}

double sine_accurate(double x) {
    if (!reduction_serves(x)) return edge_sine(x);
    const double positive = accurate_positive(std::fabs(x));
    return x < 0.0 ? -positive : positive;
}

}  // namespace prendax
