// The frame document: the VM and the game state after a run.
#pragma once

#include <cstddef>

#include "game/world.h"
#include "json/json_out.h"
#include "vm/vm.h"

namespace prendax {

void frame_to_json(const Vm* vm, const World* world, char* buffer, std::size_t capacity);
void vm_to_json(JsonOut* out, const Vm* vm);
void world_to_json(JsonOut* out, const World* world);
void vm_state_to_json(const Vm* vm, char* buffer, std::size_t capacity);
void world_state_to_json(const World* world, char* buffer, std::size_t capacity);

}  // namespace prendax
