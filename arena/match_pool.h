// Playing matches on worker threads. Each worker owns one Vm and one World for
// the whole run; a match reads nothing else but its CompileResult, so the
// results do not depend on which worker played it or when.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "compiler/context.h"
#include "compiler/limits.h"
#include "game/world.h"
#include "vm/vm.h"

namespace prendax {

struct Progress;

inline constexpr std::size_t BLOCK_MATCHES = 8192;  // matches played between two hand-overs of results

struct MatchJob {
    const CompileResult* program;
    int32_t level;
    uint32_t seed;
    int32_t ticks;             // ticks played at most, as prendax_cli --ticks
    int32_t profileSlot = -1;  // which of the worker's profiles counts the match; -1: none
};

// What one match leaves behind, as the console report and the frame show it.
struct MatchResult {
    int32_t status;  // the VM's final status
    int32_t score;
    int32_t health;
    int32_t wave;
    int32_t ticks;      // the VM's own tick count
    int32_t tickLimit;  // the job's ticks: the most the match could last
    int32_t steps;
    int32_t budgetHits;
    int32_t hasError;
    int32_t errorLine;
    char errorMessage[MESSAGE_SIZE];
};

struct MatchWorker {
    std::unique_ptr<Vm> vm;
    std::unique_ptr<World> world;
    std::vector<std::unique_ptr<VmProfile>> profiles;  // summed counts per profile slot, for this worker's matches
};

struct MatchPool {
    std::vector<MatchWorker> workers;
};

// Plays one match exactly as prendax_cli does: set-up, then at most job.ticks ticks.
// A profile, when given, is attached for the match and adds its counts up.
void play_match(const MatchJob& job, Vm& vm, World& world, MatchResult& out, VmProfile* profile = nullptr);

// Allocates the workers' machines and worlds once.
void pool_init(MatchPool& pool, int32_t workers);

// Gives every worker `slots` cleared profiles, for jobs that name a slot.
void pool_profiles(MatchPool& pool, std::size_t slots);
// The counts of a slot summed over the workers: the same whichever worker played which match.
void pool_profile_sum(const MatchPool& pool, std::size_t slot, VmProfile* into);

// Plays jobs[0..count) into results[0..count), in parallel; returns when all are
// done, or after a caught signal when the matches in flight are done. Gives the
// number n of matches played, always jobs[0..n). The progress record (may be
// null) is advanced as matches finish.
std::size_t pool_play(MatchPool& pool, const MatchJob* jobs, MatchResult* results, std::size_t count,
                      Progress* progress);

}  // namespace prendax
