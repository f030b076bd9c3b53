// The statistics of a paired comparison of two programs that played the same
// matches: McNemar's exact test on the pairs that only one of them won, the
// Student t interval of a mean paired difference, and Wald's sequential
// probability ratio test on the same discordant pairs. Pure functions.
#pragma once

#include <cstdint>

namespace prendax {

inline constexpr double SIGNIFICANCE = 0.05;        // a McNemar p-value below this shows a difference
inline constexpr double INTERVAL_LEVEL = 0.95;      // the coverage of the paired intervals
inline constexpr double SPRT_P0 = 0.5;              // H0: B wins a discordant pair no more often than A
inline constexpr double DEFAULT_SPRT_P1 = 0.6;      // H1: B wins at least 60% of the discordant pairs
inline constexpr double DEFAULT_SPRT_ALPHA = 0.05;  // chance of accepting H1 when H0 holds
inline constexpr double DEFAULT_SPRT_BETA = 0.05;   // chance of accepting H0 when H1 holds

// Two-sided exact p-value of McNemar's test: under H0 each of the n = onlyA +
// onlyB discordant pairs goes either way with probability 1/2, and the p-value
// is twice the smaller tail of that binomial, at most 1; 1 when n is 0.
double mcnemar_exact_p(uint64_t onlyA, uint64_t onlyB);

// A running mean and sum of squared deviations (Welford), added in a fixed order.
struct DiffStats {
    uint64_t n = 0;
    double mean = 0.0;
    double m2 = 0.0;  // sum of squared deviations from the mean
};

void diff_add(DiffStats& stats, double difference);

struct PairedInterval {
    uint64_t n;
    double mean;
    bool bounded;  // false when fewer than two pairs give no spread to measure
    double low;
    double high;
};

// The mean difference with its Student t interval at INTERVAL_LEVEL.
PairedInterval paired_interval(const DiffStats& stats);

// Student's t distribution: the probability of a value at most t, and the
// value whose probability is p (0 < p < 1), with df degrees of freedom (df >= 1).
double student_t_cdf(double t, double df);
double student_t_quantile(double p, double df);

struct SprtBounds {
    double lower;  // log(beta / (1 - alpha)): at or below it H0 is accepted
    double upper;  // log((1 - beta) / alpha): at or above it H1 is accepted
};

enum SprtDecision : int32_t { SPRT_CONTINUE, SPRT_ACCEPT_H0, SPRT_ACCEPT_H1 };

SprtBounds sprt_bounds(double alpha, double beta);
// The log-likelihood ratio of H1 (p = p1) against H0 (p = 1/2) after B won
// bWins discordant pairs and A won aWins.
double sprt_llr(uint64_t bWins, uint64_t aWins, double p1);
SprtDecision sprt_decide(double llr, const SprtBounds& bounds);

}  // namespace prendax
