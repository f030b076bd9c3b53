// The comparison's statistics. Everything here is a pure function of its
// arguments; the callers add pairs in seed order, so every figure comes out the
// same whatever number of workers played the matches.
#include "arena/compare_stats.h"

#include <cmath>

namespace prendax {

namespace {

constexpr int BETA_FRACTION_STEPS = 100000;  // enough for a = 5e6; the fraction converges in about sqrt(a) steps
constexpr double BETA_FRACTION_EPSILON = 1e-15;
constexpr double TINY = 1e-300;        // keeps the continued fraction away from a division by zero
constexpr double MAX_T_DEGREES = 1e7;  // beyond this t differs from the normal distribution by under 1e-6
constexpr int QUANTILE_BISECTIONS = 200;
constexpr double TAIL_EPSILON = 1e-18;  // binomial terms this small against the tail no longer count

// The continued fraction of the regularized incomplete beta function (modified Lentz).
double beta_fraction(double a, double b, double x) {
    double qab = a + b;
    double qap = a + 1.0;
    double qam = a - 1.0;
    double c = 1.0;
    double d = 1.0 - qab * x / qap;
    if (std::fabs(d) < TINY) d = TINY;
    d = 1.0 / d;
    double h = d;
    for (int m = 1; m <= BETA_FRACTION_STEPS; m++) {
        double m2 = 2.0 * m;
        double aa = m * (b - m) * x / ((qam + m2) * (a + m2));
        d = 1.0 + aa * d;
        if (std::fabs(d) < TINY) d = TINY;
        c = 1.0 + aa / c;
        if (std::fabs(c) < TINY) c = TINY;
        d = 1.0 / d;
        h *= d * c;
        aa = -(a + m) * (qab + m) * x / ((a + m2) * (qap + m2));
        d = 1.0 + aa * d;
        if (std::fabs(d) < TINY) d = TINY;
        c = 1.0 + aa / c;
        if (std::fabs(c) < TINY) c = TINY;
        d = 1.0 / d;
        double step = d * c;
        h *= step;
        if (std::fabs(step - 1.0) < BETA_FRACTION_EPSILON) break;
    }
    return h;
}

// I_x(a, b), the regularized incomplete beta function, for 0 <= x <= 1.
double incomplete_beta(double a, double b, double x) {
    if (x <= 0.0) return 0.0;
    if (x >= 1.0) return 1.0;
    double front =
        std::exp(std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) + a * std::log(x) + b * std::log1p(-x));
    // The fraction converges fast on the side of the mean (a + 1) / (a + b + 2).
    if (x < (a + 1.0) / (a + b + 2.0)) return front * beta_fraction(a, b, x) / a;
    return 1.0 - front * beta_fraction(b, a, 1.0 - x) / b;
}

}  // namespace

double mcnemar_exact_p(uint64_t onlyA, uint64_t onlyB) {
    uint64_t n = onlyA + onlyB;
    uint64_t m = onlyA < onlyB ? onlyA : onlyB;
    if (n == 0 || 2 * m == n) return 1.0;
    // The tail P(X <= m) of X ~ Binomial(n, 1/2), summed from its largest term
    // down, each term found from the one above: C(n, k-1) = C(n, k) k / (n-k+1).
    double nn = static_cast<double>(n);
    double mm = static_cast<double>(m);
    double term =
        std::exp(std::lgamma(nn + 1.0) - std::lgamma(mm + 1.0) - std::lgamma(nn - mm + 1.0) - nn * std::log(2.0));
    double tail = term;
    for (uint64_t k = m; k > 0; k--) {
        term *= static_cast<double>(k) / static_cast<double>(n - k + 1);
        tail += term;
        if (term < tail * TAIL_EPSILON) break;
    }
    double p = 2.0 * tail;
    return p > 1.0 ? 1.0 : p;
}

void diff_add(DiffStats& stats, double difference) {
    stats.n++;
    double delta = difference - stats.mean;
    stats.mean += delta / static_cast<double>(stats.n);
    stats.m2 += delta * (difference - stats.mean);
}

PairedInterval paired_interval(const DiffStats& stats) {
    PairedInterval interval{stats.n, stats.mean, false, 0.0, 0.0};
    if (stats.n < 2) return interval;
    double n = static_cast<double>(stats.n);
    double sd = std::sqrt(stats.m2 / (n - 1.0));
    double half = student_t_quantile(0.5 + INTERVAL_LEVEL / 2.0, n - 1.0) * sd / std::sqrt(n);
    interval.bounded = true;
    interval.low = stats.mean - half;
    interval.high = stats.mean + half;
    return interval;
}

double student_t_cdf(double t, double df) {
    if (df > MAX_T_DEGREES) return 0.5 * std::erfc(-t / std::sqrt(2.0));
    double tail = 0.5 * incomplete_beta(df / 2.0, 0.5, df / (df + t * t));
    return t >= 0.0 ? 1.0 - tail : tail;
}

double student_t_quantile(double p, double df) {
    if (p == 0.5) return 0.0;
    if (p < 0.5) return -student_t_quantile(1.0 - p, df);
    double low = 0.0;
    double high = 1.0;
    while (student_t_cdf(high, df) < p && high < 1e300) high *= 2.0;
    for (int i = 0; i < QUANTILE_BISECTIONS && high - low > 1e-15 * high; i++) {
        double middle = low + (high - low) / 2.0;
        if (student_t_cdf(middle, df) < p) {
            low = middle;
        } else {
            high = middle;
        }
    }
    return low + (high - low) / 2.0;
}

SprtBounds sprt_bounds(double alpha, double beta) {
    return SprtBounds{std::log(beta / (1.0 - alpha)), std::log((1.0 - beta) / alpha)};
}

double sprt_llr(uint64_t bWins, uint64_t aWins, double p1) {
    return static_cast<double>(bWins) * std::log(p1 / SPRT_P0) +
           static_cast<double>(aWins) * std::log((1.0 - p1) / (1.0 - SPRT_P0));
}

SprtDecision sprt_decide(double llr, const SprtBounds& bounds) {
    if (llr >= bounds.upper) return SPRT_ACCEPT_H1;
    if (llr <= bounds.lower) return SPRT_ACCEPT_H0;
    return SPRT_CONTINUE;
}

}  // namespace prendax
