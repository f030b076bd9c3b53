// One match as prendax_cli shows it: the banner, a progress line every 60
// ticks and the result, around the engine's match loop.
#pragma once

#include "cli/cli.h"
#include "compiler/context.h"
#include "game/world.h"
#include "vm/vm.h"

namespace prendax {

inline constexpr int PROGRESS_INTERVAL = 60;  // ticks between progress lines

// Plays the compiled program for at most options.ticks ticks; prints unless quiet.
void run_simulation(const RunOptions& options, const char* displayName, const CompileResult& result, Vm& vm,
                    World& world);

}  // namespace prendax
