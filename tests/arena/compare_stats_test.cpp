// The comparison's statistics against values worked out independently: exact
// binomial tails with whole numbers, Student t quantiles from published
// tables, SPRT bounds and ratios by hand.
#include "arena/compare_stats.h"

#include <gtest/gtest.h>

#include <cmath>

namespace prendax {
namespace {

TEST(CompareStats, McNemarExactPValues) {
    struct Case {
        uint64_t onlyA;
        uint64_t onlyB;
        double p;  // 2 * sum_{k <= min} C(n, k) / 2^n, at most 1, computed with exact fractions
    };
    const Case cases[] = {
        {0, 0, 1.0},  // no discordant pair: nothing to tell them apart
        {0, 1, 1.0},
        {3, 3, 1.0},          // an even split
        {4, 5, 1.0},          // the tail holds half the mass: capped at 1
        {0, 5, 0.0625},       // 2 / 32
        {1, 9, 0.021484375},  // 2 * 11 / 1024
        {2, 8, 0.109375},     // 2 * 56 / 1024
        {10, 30, 0.0022214337732293643},
        {200, 150, 0.008720036530555949},
        {5000, 5200, 0.04878796312682245},  // large counts, summed in logarithms
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(mcnemar_exact_p(c.onlyA, c.onlyB), c.p, 1e-12 + c.p * 1e-9) << c.onlyA << " " << c.onlyB;
        EXPECT_EQ(mcnemar_exact_p(c.onlyA, c.onlyB), mcnemar_exact_p(c.onlyB, c.onlyA)) << "two-sided";
    }
    // Very large counts stay finite and within [0, 1].
    double p = mcnemar_exact_p(2000000000ull, 2000100000ull);
    EXPECT_GT(p, 0.0);
    EXPECT_LT(p, 1.0);
    EXPECT_EQ(mcnemar_exact_p(0, 3000000000ull), 0.0);  // underflows to 0, never NaN
}

TEST(CompareStats, StudentTQuantilesMatchTables) {
    struct Case {
        double p;
        double df;
        double t;
    };
    const Case cases[] = {
        {0.975, 1, 12.706204736174707},   {0.975, 2, 4.302652729749464},  {0.975, 4, 2.7764451051977987},
        {0.975, 5, 2.570581835636314},    {0.975, 9, 2.2621571628540993}, {0.975, 30, 2.0422724563012373},
        {0.975, 100, 1.9839715184496334}, {0.995, 10, 3.169272672616951}, {0.95, 3, 2.353363434801823},
        {0.975, 1e12, 1.959963984540054},  // the normal quantile
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(student_t_quantile(c.p, c.df), c.t, 1e-7 * c.t) << c.p << " df " << c.df;
        EXPECT_NEAR(student_t_quantile(1.0 - c.p, c.df), -c.t, 1e-7 * c.t) << "symmetry, df " << c.df;
    }
    EXPECT_EQ(student_t_quantile(0.5, 7), 0.0);
    EXPECT_NEAR(student_t_cdf(2.0, 5), 0.9490302605850709, 1e-10);
    EXPECT_NEAR(student_t_cdf(-1.0, 1), 0.25, 1e-12);  // the Cauchy distribution
}

DiffStats stats_of(std::initializer_list<double> differences) {
    DiffStats s;
    for (double d : differences) diff_add(s, d);
    return s;
}

TEST(CompareStats, PairedIntervals) {
    // mean +- t(0.975, n-1) * sd / sqrt(n), worked out by hand with the tables' t.
    PairedInterval a = paired_interval(stats_of({1, 2, 3, 4, 5}));
    EXPECT_EQ(a.n, 5u);
    EXPECT_TRUE(a.bounded);
    EXPECT_DOUBLE_EQ(a.mean, 3.0);
    EXPECT_NEAR(a.low, 1.0367568385224393, 1e-9);
    EXPECT_NEAR(a.high, 4.9632431614775605, 1e-9);

    PairedInterval b = paired_interval(stats_of({-30, 10, 0, 25, -5, 40, 15, -10}));
    EXPECT_NEAR(b.mean, 5.625, 1e-12);
    EXPECT_NEAR(b.low, -12.587089210375524, 1e-8);
    EXPECT_NEAR(b.high, 23.837089210375524, 1e-8);

    PairedInterval same = paired_interval(stats_of({7, 7, 7}));  // no spread: the interval is the mean
    EXPECT_TRUE(same.bounded);
    EXPECT_DOUBLE_EQ(same.low, 7.0);
    EXPECT_DOUBLE_EQ(same.high, 7.0);

    PairedInterval one = paired_interval(stats_of({4}));  // one pair gives no spread to measure
    EXPECT_FALSE(one.bounded);
    EXPECT_DOUBLE_EQ(one.mean, 4.0);
    PairedInterval none = paired_interval(DiffStats{});
    EXPECT_FALSE(none.bounded);
    EXPECT_EQ(none.n, 0u);
}

TEST(CompareStats, SprtBoundsRatiosAndDecisions) {
    SprtBounds d = sprt_bounds(0.05, 0.05);
    EXPECT_NEAR(d.lower, -2.9444389791664403, 1e-12);  // log(0.05 / 0.95)
    EXPECT_NEAR(d.upper, 2.9444389791664403, 1e-12);   // log(0.95 / 0.05)
    SprtBounds e = sprt_bounds(0.1, 0.2);
    EXPECT_NEAR(e.lower, -1.504077396776274, 1e-12);  // log(0.2 / 0.9)
    EXPECT_NEAR(e.upper, 2.0794415416798357, 1e-12);  // log(0.8 / 0.1)

    EXPECT_NEAR(sprt_llr(10, 2, 0.6), 1.3769284653111264, 1e-12);  // 10 log 1.2 + 2 log 0.8
    EXPECT_EQ(sprt_llr(0, 0, 0.6), 0.0);
    // With p1 = 0.6 and bounds of +-log 19: 17 wins of B in a row accept H1,
    // 16 do not; 14 wins of A in a row accept H0, 13 do not.
    EXPECT_EQ(sprt_decide(sprt_llr(16, 0, 0.6), d), SPRT_CONTINUE);
    EXPECT_EQ(sprt_decide(sprt_llr(17, 0, 0.6), d), SPRT_ACCEPT_H1);
    EXPECT_EQ(sprt_decide(sprt_llr(0, 13, 0.6), d), SPRT_CONTINUE);
    EXPECT_EQ(sprt_decide(sprt_llr(0, 14, 0.6), d), SPRT_ACCEPT_H0);
    EXPECT_EQ(sprt_decide(d.upper, d), SPRT_ACCEPT_H1);  // a bound reached counts
    EXPECT_EQ(sprt_decide(d.lower, d), SPRT_ACCEPT_H0);
}

}  // namespace
}  // namespace prendax
