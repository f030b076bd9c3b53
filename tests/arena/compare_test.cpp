// Unit tests of the comparison's parts that need no threads: how a pair is
// classed and counted, the verdict, the sequential test fed pair by pair, the
// replay commands and the probability options.
#include "arena/compare.h"

#include <gtest/gtest.h>

#include <cmath>

#include "arena/options.h"
#include "vm/vm.h"

namespace prendax {
namespace {

MatchResult match(int32_t status, int32_t score = 0, int32_t health = 100, int32_t ticks = 0) {
    MatchResult r{};
    r.status = status;
    r.score = score;
    r.health = health;
    r.ticks = ticks;
    return r;
}

TEST(Compare, PairKinds) {
    EXPECT_EQ(pair_kind(match(VM_VICTORIA), match(VM_VICTORIA)), PAIR_BOTH);
    EXPECT_EQ(pair_kind(match(VM_VICTORIA), match(VM_DERROTA)), PAIR_ONLY_A);
    EXPECT_EQ(pair_kind(match(VM_VICTORIA), match(VM_ESPERANDO)), PAIR_ONLY_A);  // unfinished is not a win
    EXPECT_EQ(pair_kind(match(VM_ERROR), match(VM_VICTORIA)), PAIR_ONLY_B);
    EXPECT_EQ(pair_kind(match(VM_DERROTA), match(VM_ESPERANDO)), PAIR_NEITHER);
}

TEST(Compare, TallyCountsDifferencesAndFirstRegressions) {
    PairTally t;
    // Seven pairs only A wins, then a pair both win and one neither wins.
    for (uint32_t seed = 1; seed <= 7; seed++) {
        tally_add(t, PairSeed{2, seed}, match(VM_VICTORIA, 100, 50, 900), match(VM_DERROTA, 40, 0, 700));
    }
    tally_add(t, PairSeed{2, 8}, match(VM_VICTORIA, 200, 80, 1000), match(VM_VICTORIA, 210, 90, 800));
    tally_add(t, PairSeed{2, 9}, match(VM_DERROTA, 10, 0, 300), match(VM_DERROTA, 10, 0, 300));
    EXPECT_EQ(t.pairs, 9u);
    EXPECT_EQ(t.kinds[PAIR_ONLY_A], 7u);
    EXPECT_EQ(t.kinds[PAIR_BOTH], 1u);
    EXPECT_EQ(t.kinds[PAIR_NEITHER], 1u);
    EXPECT_EQ(t.kinds[PAIR_ONLY_B], 0u);
    ASSERT_EQ(t.regressionCount, REGRESSION_SEEDS);  // the first five, in the order added
    for (int i = 0; i < REGRESSION_SEEDS; i++) EXPECT_EQ(t.regressions[i].seed, static_cast<uint32_t>(i + 1));
    EXPECT_EQ(t.score.n, 9u);
    EXPECT_DOUBLE_EQ(t.score.mean, (7 * -60.0 + 10.0 + 0.0) / 9.0);
    EXPECT_DOUBLE_EQ(t.health.mean, (7 * -50.0 + 10.0 + 0.0) / 9.0);
    EXPECT_EQ(t.ticksToWin.n, 1u);  // only the pair both won
    EXPECT_DOUBLE_EQ(t.ticksToWin.mean, -200.0);
    EXPECT_EQ(tally_verdict(t), VERDICT_A_BETTER);  // 7 to 0: p = 2 / 128
}

TEST(Compare, VerdictFollowsMcNemar) {
    struct Case {
        uint64_t onlyA;
        uint64_t onlyB;
        Verdict verdict;
    };
    const Case cases[] = {
        {0, 0, VERDICT_NO_DIFFERENCE},   {0, 5, VERDICT_NO_DIFFERENCE},  // p = 0.0625
        {0, 6, VERDICT_B_BETTER},                                        // p = 0.03125
        {6, 0, VERDICT_A_BETTER},        {1, 9, VERDICT_B_BETTER},       // p = 0.0215
        {2, 8, VERDICT_NO_DIFFERENCE},                                   // p = 0.109
        {40, 40, VERDICT_NO_DIFFERENCE},
    };
    for (const Case& c : cases) {
        PairTally t;
        t.kinds[PAIR_ONLY_A] = c.onlyA;
        t.kinds[PAIR_ONLY_B] = c.onlyB;
        t.kinds[PAIR_BOTH] = 1000;  // concordant pairs never count
        EXPECT_EQ(tally_verdict(t), c.verdict) << c.onlyA << " " << c.onlyB;
    }
}

TEST(Compare, SequentialTestStopsAtTheFirstCrossing) {
    // p1 = 0.6, alpha = beta = 0.05: +log 1.2 per win of B, +log 0.8 per win of A,
    // concordant pairs change nothing; the upper bound log 19 needs 17 net wins of B.
    SprtState s = sprt_start(0.6, 0.05, 0.05);
    uint32_t seed = 0;
    EXPECT_EQ(sprt_add(s, PairSeed{1, ++seed}, PAIR_ONLY_A), SPRT_CONTINUE);
    for (int i = 0; i < 50; i++) EXPECT_EQ(sprt_add(s, PairSeed{1, ++seed}, PAIR_BOTH), SPRT_CONTINUE);
    for (int i = 0; i < 17; i++) EXPECT_EQ(sprt_add(s, PairSeed{1, ++seed}, PAIR_ONLY_B), SPRT_CONTINUE) << i;
    EXPECT_EQ(sprt_add(s, PairSeed{3, ++seed}, PAIR_ONLY_B), SPRT_ACCEPT_H1);  // 18 log 1.2 + log 0.8 = 3.06
    EXPECT_EQ(s.pairs, 69u);
    EXPECT_EQ(s.bWins, 18u);
    EXPECT_EQ(s.aWins, 1u);
    EXPECT_EQ(s.last.seed, 69u);
    EXPECT_EQ(s.last.level, 3);
    EXPECT_NEAR(s.llr, 18 * std::log(1.2) + std::log(0.8), 1e-12);

    SprtState h0 = sprt_start(0.6, 0.05, 0.05);
    for (int i = 0; i < 13; i++) EXPECT_EQ(sprt_add(h0, PairSeed{1, 1}, PAIR_ONLY_A), SPRT_CONTINUE);
    EXPECT_EQ(sprt_add(h0, PairSeed{1, 1}, PAIR_ONLY_A), SPRT_ACCEPT_H0);
}

TEST(Compare, ReplayCommandsQuotePathsThatNeedIt) {
    PairSeed at{3, 4294967295u};
    EXPECT_EQ(replay_command(1600, at, "robots/b-2.zkv"),
              "prendax_cli --ticks 1600 --level 3 --seed 4294967295 robots/b-2.zkv");
    EXPECT_EQ(replay_command(900, PairSeed{1, 7}, "mi robot.zkv"),
              "prendax_cli --ticks 900 --level 1 --seed 7 'mi robot.zkv'");
    EXPECT_EQ(replay_command(900, PairSeed{1, 7}, "it's.zkv"),
              "prendax_cli --ticks 900 --level 1 --seed 7 'it'\\''s.zkv'");
    EXPECT_EQ(replay_command(900, PairSeed{1, 7}, "$(rm).zkv"),
              "prendax_cli --ticks 900 --level 1 --seed 7 '$(rm).zkv'");
    // A path read as an option would need "./": quoting alone does not help, but it shows the name as it is.
    EXPECT_EQ(replay_command(900, PairSeed{1, 7}, "-x.zkv"), "prendax_cli --ticks 900 --level 1 --seed 7 '-x.zkv'");
}

TEST(Compare, OpenFractions) {
    struct Case {
        const char* text;
        bool ok;
        double value;
    };
    const Case cases[] = {
        {"0.6", true, 0.6}, {"0.55", true, 0.55}, {"6e-1", true, 0.6}, {".75", true, 0.75}, {"0.5", false, 0},
        {"1", false, 0},    {"1.0", false, 0},    {"", false, 0},      {"0.6 ", false, 0},  {"+0.6", false, 0},
        {"nan", false, 0},  {"inf", false, 0},    {"0x0.8", false, 0}, {"0,6", false, 0},   {"-0.6", false, 0},
    };
    for (const Case& c : cases) {
        double value = -1.0;
        EXPECT_EQ(parse_open_fraction(c.text, 0.5, 1.0, value), c.ok) << c.text;
        EXPECT_DOUBLE_EQ(value, c.ok ? c.value : -1.0) << c.text;  // a refused value leaves the setting
    }
}

}  // namespace
}  // namespace prendax
