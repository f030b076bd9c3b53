// The game tick: one step of the match, its phases in a fixed order.
#pragma once

#include "game/world.h"

namespace prendax {

// One tick; an ended match is left unchanged. The caller reads world->status.
void world_tick(World* world);

}  // namespace prendax
