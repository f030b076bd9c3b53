// The ship interface: the host operations the robot program reaches through the
// VM, and the copy of game values into the program's reserved variables.
#pragma once

#include <cstdint>

#include "game/world.h"
#include "vm/host.h"
#include "vm/vm.h"

namespace prendax {

void ship_move(World* world, int32_t direction);
void ship_shoot(World* world);
void ship_shield(World* world);
double world_builtin(World* world, int32_t index, double argument, int32_t hasArgument);
int32_t world_status(const World* world);

// The VmHost whose context is the world and whose operations are the above.
VmHost world_host(World* world);

// Copies health, score, enemies_left, level, shield and ticks into variables 0..5.
void sync_reserved(Vm* vm, const World* world);

}  // namespace prendax
