// The arena's settings: which programs play, on which levels and seeds, for how
// many ticks and on how many workers, and where the results go.
#pragma once

#include <cstdint>
#include <vector>

#include "arena/compare_stats.h"
#include "frontend/frontend.h"
#include "frontend/option_scan.h"
#include "game/world.h"

namespace prendax {

inline constexpr uint32_t DEFAULT_FIRST_SEED = 1;
inline constexpr uint32_t DEFAULT_LAST_SEED = 100;
inline constexpr uint32_t MAX_SEED = UINT32_MAX;  // seeds are 32-bit, as prendax_cli reads them
inline constexpr int LEVEL_COUNT = MAX_LEVEL - MIN_LEVEL + 1;
// Ticks per match unless --ticks says otherwise: every match of the example
// robots over seeds 1 to 1000 at levels 1 to 3 ends by then (the longest lasts
// 4660 ticks), so an unfinished match tells of the robot, not of the limit.
inline constexpr int32_t ARENA_DEFAULT_TICKS = 5000;
inline constexpr int MAX_JOBS = 256;  // saturates, no message: more workers are not started

struct ArenaOptions {
    uint32_t firstSeed = DEFAULT_FIRST_SEED;
    uint32_t lastSeed = DEFAULT_LAST_SEED;
    int32_t levels[LEVEL_COUNT] = {1, 2, 3};  // ascending, no level twice
    int32_t levelCount = LEVEL_COUNT;
    int32_t ticks = ARENA_DEFAULT_TICKS;
    bool ticksGiven = false;  // --ticks was on the command line
    int32_t jobs = 0;         // 0: one worker per core
    const char* csvPath = nullptr;
    const char* verifyPath = nullptr;
    bool json = false;
    bool profile = false;                 // the per-line profile after the summary
    const char* collapsedPath = nullptr;  // the profile as collapsed stacks
    bool summary = false;                 // the arguments are CSVs to summarise, not programs to play
    bool trustPaths = false;              // --verify may read programs outside the current folder
    bool compare = false;                 // the two programs play as A and B, pair by pair
    bool sprt = false;                    // with compare: seeds in order until the sequential test decides
    double sprtP1 = DEFAULT_SPRT_P1;
    double sprtAlpha = DEFAULT_SPRT_ALPHA;
    double sprtBeta = DEFAULT_SPRT_BETA;
    bool sprtParameterGiven = false;    // --p1, --alpha or --beta was given
    std::vector<const char*> programs;  // in command-line order
};

// Scans the command line; option errors are reported on standard error.
ScanOutcome scan_arena_options(int argc, char** argv, ArenaOptions& options);

// "N" is seeds 1..N (N at least 1); "A-B" is seeds A..B with A <= B. Every number
// is plain decimal digits within 32 bits.
bool parse_seed_range(const char* text, uint32_t& first, uint32_t& last);
// Comma-separated levels 1..3, none twice; stored ascending.
bool parse_level_list(const char* text, int32_t (&levels)[LEVEL_COUNT], int32_t& count);
// A decimal number strictly between low and high ("0.6", "5e-2"), nothing else.
bool parse_open_fraction(const char* text, double low, double high, double& value);
// An optional minus sign and decimal digits, within the signed 32-bit range.
bool parse_int32(const char* text, int32_t& value);

// The number of workers a run starts: the option (or one per core), at most
// MAX_JOBS and at most one per match.
int32_t worker_count(int32_t jobs, uint64_t matches);

}  // namespace prendax
