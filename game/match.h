// One match: the world and the VM set up together, and the rule of one tick
// (the world moves, the reserved variables follow it, the program takes its
// turn, the end of the game becomes the VM's status). Every front end plays
// through these, so a seed gives the same match in every tool.
#pragma once

#include <cstdint>

#include "compiler/compile_result.h"
#include "game/world.h"
#include "vm/vm.h"

namespace prendax {

inline constexpr int TICK_BUDGET = 200;  // instructions the program may run per tick

// Sets up one match: the world from level and seed, the program loaded into the
// VM with the world as its host, reset, and the reserved variables in step.
void match_start(const CompileResult& result, int32_t level, uint32_t seed, Vm& vm, World& world);

// Plays one tick: the world moves, then the program takes its turn. Returns
// false when the match is over; the VM's status then says victoria or derrota.
bool match_tick(Vm& vm, World& world);

// Told before and after every tick played, the last one of an ended match
// included. `tick` numbers the tick (1 for the first); `going` is false on the
// tick that ended the match. Returning false from afterTick stops the match
// there. beforeTick may be null.
struct MatchObserver {
    void* context;
    bool (*afterTick)(void* context, const Vm& vm, const World& world, int32_t tick, bool going);
    void (*beforeTick)(void* context, int32_t tick) = nullptr;
};

// Plays a started match for at most `ticks` ticks (none when ticks <= 0), or
// until it ends. The observer may be null. Returns false only when the observer
// stopped the match.
bool match_play(Vm& vm, World& world, int32_t ticks, const MatchObserver* observer);

}  // namespace prendax
