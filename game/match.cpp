// The match: set-up, the rule of one tick, and the loop over ticks.
#include "game/match.h"

#include "game/events.h"
#include "game/ship.h"
#include "game/tick.h"

namespace prendax {

void match_start(const CompileResult& result, int32_t level, uint32_t seed, Vm& vm, World& world) {
    world_init(&world, level, seed);
    VmHost host = world_host(&world);
    vm_load(&vm, &result, &host);
    vm_reset(&vm);
    sync_reserved(&vm, &world);
}

bool match_tick(Vm& vm, World& world) {
    world_tick(&world);
    sync_reserved(&vm, &world);
    const int32_t hadError = vm.hasError;
    if (world.status == GAME_PLAYING) vm_run(&vm, TICK_BUDGET);
    if (vm.hasError && !hadError) event_add_error(&world, vm.error.line);
    sync_reserved(&vm, &world);
    if (world.status == GAME_PLAYING) return true;
    vm.status = world.status == GAME_VICTORY ? VM_VICTORIA : VM_DERROTA;
    return false;
}

bool match_play(Vm& vm, World& world, int32_t ticks, const MatchObserver* observer) {
    for (int32_t t = 0; t < ticks;) {
        if (observer != nullptr && observer->beforeTick != nullptr) observer->beforeTick(observer->context, t + 1);
        bool going = match_tick(vm, world);
        t++;
        if (observer != nullptr && !observer->afterTick(observer->context, vm, world, t, going)) return false;
        if (!going) break;
    }
    return true;
}

}  // namespace prendax
