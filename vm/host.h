// The host operations through which the VM reaches the game. Every member may be
// absent (nullptr); the VM then skips the operation. No operation touches the Vm.
#pragma once

#include <cstdint>

namespace prendax {

struct VmHost {
    void* context;                                   // handed as first argument to every operation
    void (*move)(void* context, int32_t direction);  // a Direction
    void (*shoot)(void* context);
    void (*shield)(void* context);
    double (*builtin)(void* context, int32_t index, double argument, int32_t hasArgument);
    int32_t (*gameStatus)(void* context);  // a GameStatus
    // Non-zero when the game status can change during a run only inside move, shoot,
    // shield or builtin: the VM then asks gameStatus after those operations alone
    // instead of after every instruction.
    int32_t statusChangesOnlyInOperations;
};

}  // namespace prendax
