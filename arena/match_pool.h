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
    int32_t ticks;  // ticks played at most, as prendax_cli --ticks
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
};

struct MatchPool {
    std::vector<MatchWorker> workers;
};

// Plays one match exactly as prendax_cli does: set-up, then at most job.ticks ticks.
void play_match(const MatchJob& job, Vm& vm, World& world, MatchResult& out);

// Allocates the workers' machines and worlds once.
void pool_init(MatchPool& pool, int32_t workers);

// Plays jobs[0..count) into results[0..count), in parallel; returns when all are
// done, or after a caught signal when the matches in flight are done. Gives the
// number n of matches played, always jobs[0..n). The progress record (may be
// null) is advanced as matches finish.
std::size_t pool_play(MatchPool& pool, const MatchJob* jobs, MatchResult* results, std::size_t count,
                      Progress* progress);

}  // namespace prendax
