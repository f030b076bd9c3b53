// The game's sine. The argument is brought near zero against pi/128 held in
// pieces, x = j pi/128 + t with |t| <= pi/256, and sin(j pi/128) and
// cos(j pi/128) come from a table of double pairs for the 256 steps of a turn,
// built at compile time, so no branch depends on the angle. sin(x) is then
// summed as a double pair good to about 2^-64; when that error bound leaves the
// rounding in doubt (about one call in 350), the sum is carried again to about
// 2^-100, by Taylor series and a longer reduction. Every step is an IEEE
// addition, subtraction, multiplication or division, in a fixed order.
#include "game/sine.h"

#include <array>
#include <cmath>
#include <cstdint>

namespace prendax {

namespace {

constexpr double STEPS_PER_RADIAN = 0x1.45f306dc9c883p+5;  // 128/pi
// pi/128 = STEP_1 + ... + STEP_5; the first four hold 21 bits each, so a step
// count below 2^32 times any of them is exact.
constexpr double STEP_1 = 0x1.921fb0p-6;
constexpr double STEP_2 = 0x1.5110bp-28;
constexpr double STEP_3 = 0x1.184690p-50;
constexpr double STEP_4 = 0x1.131980p-71;
constexpr double STEP_5 = 0x1.45c06e0e68948p-92;
constexpr double STEP_REST = 0x1.18469898cc517p-50;  // pi/128 - STEP_1 - STEP_2, to 2^-103
constexpr double REDUCE_LIMIT = 0x1p26;              // keeps the step count below 2^32
constexpr double TWO_PI = 0x1.921fb54442d18p+2;
constexpr double TINY = 0x1p-26;                 // below this, sin(x) rounds to x
constexpr int STEPS = 256;                       // a turn in steps of pi/128
constexpr double FAST_ERROR = 0x1p-62;           // bound on the fast sum's relative error, 4 times what it reaches ...
constexpr double FAST_ERROR_PER_STEP = 0x1p-99;  // ... plus the fast reduction's, j times this
constexpr double SERIES_END = 0x1p-110;          // a series stops at a term this small beside its sum
constexpr double SPLIT_FACTOR = 0x1p27 + 1.0;
constexpr double ROUNDING_SHIFT = 0x1.8p52;  // adding it rounds a double below 2^51 to a whole number

// Taylor coefficients of the fast path: sin t = t + t^3 (S3 + t^2 S5 + ...),
// cos t = 1 + t^2 (C2 + t^2 C4 + ...), each rounded to double.
constexpr double S3 = -0x1.5555555555555p-3;
constexpr double S5 = 0x1.1111111111111p-7;
constexpr double S7 = -0x1.a01a01a01a01ap-13;
constexpr double C2 = -0.5;
constexpr double C4 = 0x1.5555555555555p-5;
constexpr double C6 = -0x1.6c16c16c16c17p-10;
constexpr double C8 = 0x1.a01a01a01a01ap-16;

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

// sin and cos of j pi/128.
struct TableRow {
    Pair sine;
    Pair cosine;
};

using Table = std::array<TableRow, STEPS>;

// The first quadrant by series, the others by symmetry; the quarter turns exact.
constexpr Table build_table() {
    Table table{};
    const Pair step = pair_add(pair_add(pair_add(pair_add({STEP_1, 0.0}, STEP_2), STEP_3), STEP_4), STEP_5);
    for (int j = 0; j <= STEPS / 4; j++) {
        const Pair v = pair_multiply(step, {static_cast<double>(j), 0.0});
        const Pair sine = series_sine(v);
        const Pair cosine = series_cosine(v);
        table[j] = {sine, cosine};
        table[(STEPS / 2 - j) % STEPS] = {sine, negated(cosine)};
        table[(STEPS / 2 + j) % STEPS] = {negated(sine), negated(cosine)};
        table[(STEPS - j) % STEPS] = {negated(sine), cosine};
    }
    table[0] = {{0.0, 0.0}, {1.0, 0.0}};
    table[STEPS / 4] = {{1.0, 0.0}, {0.0, 0.0}};
    table[STEPS / 2] = {{0.0, 0.0}, {-1.0, 0.0}};
    table[3 * STEPS / 4] = {{-1.0, 0.0}, {0.0, 0.0}};
    return table;
}

constexpr Table TABLE = build_table();

// x = j pi/128 + t.
struct Reduced {
    const TableRow* row;  // sin and cos of j pi/128
    Pair t;
    double j;
};

// The whole number nearest to v (ties to even), for |v| below 2^51: the sum
// rounds it, exactly, and the difference is exact.
double nearest_whole(double v) { return (v + ROUNDING_SHIFT) - ROUNDING_SHIFT; }

Reduced with_row(double j, Pair t) { return {&TABLE[static_cast<int64_t>(j) & (STEPS - 1)], t, j}; }

// For 0 <= x < 2^26 the step count j stays below 2^32, so x - j * STEP_1 is
// exact, the two lying within a factor of two of each other, and so is every
// j * STEP_n but the last. pi/128 in three pieces: off by at most j * 2^-101.
Reduced reduce_fast(double x) {
    const double j = nearest_whole(x * STEPS_PER_RADIAN);
    const Pair high = two_sum(x - j * STEP_1, -(j * STEP_2));
    return with_row(j, fast_two_sum(high.hi, high.lo - j * STEP_REST));
}

// pi/128 in five pieces: to about 2^-104 of t.
Reduced reduce_accurate(double x) {
    const double j = nearest_whole(x * STEPS_PER_RADIAN);
    Pair r = {x - j * STEP_1, 0.0};
    r = pair_add(r, -(j * STEP_2));
    r = pair_add(r, -(j * STEP_3));
    r = pair_add(r, -(j * STEP_4));
    r = pair_add(r, -(j * STEP_5));
    return with_row(j, r);
}

// What t adds to the table's values, t.lo folded in as far as it counts.
struct FastTerms {
    double c;     // cos t - 1
    double tail;  // sin t - t.hi
};

FastTerms fast_terms(Pair t) {
    const double z = t.hi * t.hi;
    const double c = z * (C2 + z * (C4 + z * (C6 + z * C8))) - t.hi * t.lo;
    const double tail = t.hi * z * (S3 + z * (S5 + z * S7)) + t.lo * (1.0 + C2 * z);
    return {c, tail};
}

// With b = j pi/128: sin(b + t) = sin b + sin b (cos t - 1) + cos b sin t.
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
    return accurate_sum(*r.row, r.t);
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
    const double bound = std::fabs(sum.hi) * FAST_ERROR + r.j * FAST_ERROR_PER_STEP;
    const double value = sum.hi + (sum.lo + bound);
    const double positive = value == sum.hi + (sum.lo - bound) ? value : accurate_positive(size);
    return x < 0.0 ? -positive : positive;
}

double sine_accurate(double x) {
    if (!reduction_serves(x)) return edge_sine(x);
    const double positive = accurate_positive(std::fabs(x));
    return x < 0.0 ? -positive : positive;
}

}  // namespace prendax
