// A comparison of two programs, A and B: both play every (level, seed), and the
// two matches of one (level, seed) form a pair. The pairs are judged in seed
// order (each seed's levels ascending): counted by who won, their score,
// health and ticks-to-win differences accumulated, and with the sequential
// test the run stops at the first pair after which the test decides.
#pragma once

#include <cstdint>
#include <string>

#include "arena/compare_stats.h"
#include "arena/match_pool.h"
#include "arena/options.h"
#include "compiler/enum_table.h"

namespace prendax {

inline constexpr int REGRESSION_SEEDS = 5;  // pairs listed where B loses a match that A wins

enum PairKind : int32_t { PAIR_BOTH, PAIR_ONLY_A, PAIR_ONLY_B, PAIR_NEITHER };

struct PairKindRow {
    PairKind value;
    const char* name;   // the CSV's and the JSON's word
    const char* label;  // the text report's words
};

inline constexpr PairKindRow PAIR_KIND_TABLE[] = {
    {PAIR_BOTH, "ambos", "ganan ambos"},
    {PAIR_ONLY_A, "soloA", "solo A"},
    {PAIR_ONLY_B, "soloB", "solo B"},
    {PAIR_NEITHER, "ninguno", "ninguno"},
};
inline constexpr int PAIR_KINDS = sizeof(PAIR_KIND_TABLE) / sizeof(PAIR_KIND_TABLE[0]);
static_assert(table_is_dense(PAIR_KIND_TABLE) && PAIR_KINDS == 4);

enum Verdict : int32_t { VERDICT_NO_DIFFERENCE, VERDICT_A_BETTER, VERDICT_B_BETTER };

struct VerdictRow {
    Verdict value;
    const char* text;
};

inline constexpr VerdictRow VERDICT_TABLE[] = {
    {VERDICT_NO_DIFFERENCE, "sin diferencia demostrada con estas semillas"},
    {VERDICT_A_BETTER, "A es mejor"},
    {VERDICT_B_BETTER, "B es mejor"},
};
static_assert(table_is_dense(VERDICT_TABLE) && sizeof(VERDICT_TABLE) / sizeof(VERDICT_TABLE[0]) == 3);

struct SprtDecisionRow {
    SprtDecision value;
    const char* key;   // the JSON's word
    const char* text;  // the report's words
};

inline constexpr SprtDecisionRow SPRT_DECISION_TABLE[] = {
    {SPRT_CONTINUE, "ninguna", "sin decisión: se acabaron las semillas"},
    {SPRT_ACCEPT_H0, "H0", "se acepta H0: B no es mejor"},
    {SPRT_ACCEPT_H1, "H1", "se acepta H1: B es mejor"},
};
static_assert(table_is_dense(SPRT_DECISION_TABLE) && sizeof(SPRT_DECISION_TABLE) / sizeof(SPRT_DECISION_TABLE[0]) == 3);

struct PairSeed {
    int32_t level;
    uint32_t seed;
};

// The pairs of one level, or of all levels (level 0).
struct PairTally {
    int32_t level = 0;
    uint64_t pairs = 0;
    uint64_t kinds[PAIR_KINDS] = {};
    DiffStats score;                              // B - A
    DiffStats health;                             // B - A, health left at the end
    DiffStats ticksToWin;                         // B - A, over the pairs both won
    PairSeed regressions[REGRESSION_SEEDS] = {};  // the first pairs that only A won, in seed order
    int32_t regressionCount = 0;
};

// Which of the two matches of a pair were won.
PairKind pair_kind(const MatchResult& a, const MatchResult& b);
// Counts one pair; pairs must come in seed order for the regressions to be the first.
void tally_add(PairTally& tally, PairSeed at, const MatchResult& a, const MatchResult& b);
// McNemar's verdict: a p-value below SIGNIFICANCE names the side with more discordant wins.
Verdict tally_verdict(const PairTally& tally);

// The sequential test over the discordant pairs, fed in seed order.
struct SprtState {
    double p1 = DEFAULT_SPRT_P1;
    SprtBounds bounds{};
    uint64_t pairs = 0;  // pairs judged so far
    uint64_t bWins = 0;  // discordant pairs only B won
    uint64_t aWins = 0;  // discordant pairs only A won
    double llr = 0.0;
    SprtDecision decision = SPRT_CONTINUE;
    PairSeed last{};  // the pair the test stopped at, or the last one judged
};

SprtState sprt_start(double p1, double alpha, double beta);
// Judges one more pair; gives the decision after it.
SprtDecision sprt_add(SprtState& state, PairSeed at, PairKind kind);

// A command line that replays one match, the path quoted for a POSIX shell when it needs it.
std::string replay_command(int32_t ticks, PairSeed at, const char* path);

// Runs the comparison the options describe; returns the process exit status.
int run_compare(const ArenaOptions& options);

}  // namespace prendax
