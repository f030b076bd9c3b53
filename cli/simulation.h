// One match: world and VM set-up, the tick loop and the console report.
#pragma once

#include "cli/cli.h"
#include "compiler/context.h"
#include "game/world.h"
#include "vm/vm.h"

namespace prendax {

inline constexpr int TICK_BUDGET = 200;       // instructions the program may run per tick
inline constexpr int PROGRESS_INTERVAL = 60;  // ticks between progress lines

// Sets up one match: the world from level and seed, the program loaded into the
// VM with the world as its host, reset, and the reserved variables in step.
void match_start(const CompileResult& result, int32_t level, uint32_t seed, Vm& vm, World& world);

// Plays one tick: the world moves, then the program takes its turn. Returns
// false when the match is over; the VM's status then says victoria or derrota.
bool match_tick(Vm& vm, World& world);

// Plays the compiled program for at most options.ticks ticks; prints unless quiet.
void run_simulation(const RunOptions& options, const char* displayName, const CompileResult& result, Vm& vm,
                    World& world);

}  // namespace prendax
