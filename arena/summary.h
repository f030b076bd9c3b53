// The summary of a run: per program and level the counts of outcomes, the win
// rate with its 95% Wilson interval, mean and median score, mean health and
// ticks, run-time errors and the worst seeds; with several programs, a ranking.
// Every figure is independent of the order in which the matches were added.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "arena/match_pool.h"
#include "arena/options.h"
#include "compiler/context.h"

namespace prendax {

inline constexpr int WORST_SEEDS = 5;     // seeds listed for the player to replay
inline constexpr double WILSON_Z = 1.96;  // the normal quantile of a 95% interval

struct WorstSeed {
    uint32_t seed;
    int32_t status;
    int32_t score;
    int32_t tickLimit;  // the match's --ticks, so that it can be replayed exactly
};

struct LevelSummary {
    int32_t level = 0;
    uint64_t matches = 0;
    uint64_t victories = 0;
    uint64_t defeats = 0;
    uint64_t unfinished = 0;
    uint64_t runtimeErrors = 0;  // matches whose program stopped on a run-time error
    int64_t scoreSum = 0;
    int64_t healthSum = 0;
    int64_t ticksSum = 0;
    int64_t victoryTicksSum = 0;                  // ticks of the matches won
    std::map<int32_t, uint64_t> scoreCounts;      // how many matches ended with each score
    std::map<std::string, uint64_t> errorCounts;  // how many matches ended with each error text
    WorstSeed worst[WORST_SEEDS] = {};            // worst first
    int32_t worstCount = 0;
};

struct ProgramSummary {
    const char* path = nullptr;
    const CompileResult* result = nullptr;  // the program's diagnostics when it did not compile
    bool compiled = false;
    std::vector<LevelSummary> levels;  // in the run's level order
};

struct WilsonInterval {
    double low;
    double high;
};

// The matches of all levels of one program, for the ranking.
struct ProgramTotals {
    uint64_t matches;
    uint64_t victories;
    uint64_t defeats;
    int64_t scoreSum;
    int64_t healthSum;
    int64_t victoryTicksSum;
};

// The leaderboard's order, as the text's header and the documents state it.
inline constexpr const char* LEADERBOARD_ORDER_TEXT =
    "más victorias; si empatan, menos derrotas, mayor puntuación media, más salud media restante y menos ticks "
    "medios por victoria";

void summary_add(LevelSummary& summary, uint32_t seed, const MatchResult& result);
// The same, with the match's error text as the CSV's error column holds it.
void summary_add_row(LevelSummary& summary, uint32_t seed, const MatchResult& result, const std::string& errorText);

// Whether a is a worse seed than b: a defeat before anything else, then the
// lower score, then the lower seed.
bool worse_seed(const WorstSeed& a, const WorstSeed& b);

// The Wilson score interval of wins out of n at z = 1.96; [0, 0] when n is 0.
WilsonInterval wilson_interval(uint64_t wins, uint64_t n);
double median_score(const LevelSummary& summary);
// The most frequent error text (the smallest text among equals), or null.
const std::string* most_frequent_error(const LevelSummary& summary, uint64_t& count);

ProgramTotals program_totals(const ProgramSummary& program);
// Indices of the compiled programs, best first: more victories, then fewer
// defeats, the higher mean score, the more mean health left, the fewer mean
// ticks per victory, then command-line order.
std::vector<std::size_t> rank_programs(const std::vector<ProgramSummary>& programs);

// The summary as text or, with --json, as the document, on standard output;
// returns the exit status (2 when the document did not fit its buffer).
int print_run_summary(const ArenaOptions& options, const std::vector<ProgramSummary>& programs);
// The text summary on standard output.
void print_summary(const ArenaOptions& options, const std::vector<ProgramSummary>& programs);
// The summary as one JSON document.
std::string summary_json(const ArenaOptions& options, const std::vector<ProgramSummary>& programs);

}  // namespace prendax
