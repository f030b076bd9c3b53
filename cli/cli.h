// prendax_cli's settings: what its options select.
#pragma once

#include <cstdint>

#include "frontend/frontend.h"

namespace prendax {

struct RunOptions {
    int32_t ticks = DEFAULT_TICKS;
    uint32_t seed = DEFAULT_SEED;
    int32_t level = DEFAULT_LEVEL;
    bool quiet = false;
    bool json = false;
    bool frame = false;
    bool demo = false;
    const char* path = nullptr;
};

}  // namespace prendax
