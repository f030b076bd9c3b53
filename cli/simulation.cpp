// The match loop: each tick the world moves, the reserved variables follow it,
// the program takes its turn, and the end of the game becomes the VM's status.
#include "cli/simulation.h"

#include "game/events.h"
#include "game/ship.h"
#include "game/tick.h"

namespace prendax {

namespace {

void print_banner(const char* displayName, const CompileResult& result) {
    print_out("PRENDAX %s — %s\n\n", VERSION_TEXT, displayName);
    print_out("%s\n", result.disasm);
}

void print_progress(int32_t t, const Vm& vm, const World& world) {
    print_out("t=%4d  hp=%3d  score=%4d  wave=%d  enemigos=%2d  pc=%4d  vm=%s\n", t, world.health, world.score,
              world.wave, world.enemiesAlive, vm.pc, vm_status_name(vm.status));
}

void print_result(const Vm& vm, const World& world) {
    print_out("\nResultado: %s\n", vm_status_name(vm.status));
    print_out("Salud: %d  Puntuación: %d  Oleada: %d  Ticks: %ld\n", world.health, world.score, world.wave,
              static_cast<long>(vm.ticks));
    print_out("Instrucciones ejecutadas: %ld  Veces al límite por tick: %d\n", static_cast<long>(vm.steps),
              vm.budgetHits);
    if (vm.hasError) print_out(RUNTIME_ERROR_LINE, vm.error.line, vm.error.message);
}

}  // namespace

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

void run_simulation(const RunOptions& options, const char* displayName, const CompileResult& result, Vm& vm,
                    World& world) {
    if (!options.quiet) print_banner(displayName, result);
    match_start(result, options.level, options.seed, vm, world);
    if (!options.quiet) {
        print_out("Simulando %d ticks (nivel %d, semilla %u)...\n", options.ticks, options.level, options.seed);
    }

    for (int32_t t = 0; t < options.ticks;) {
        if (!match_tick(vm, world)) break;
        t++;
        if (!options.quiet && t % PROGRESS_INTERVAL == 0) print_progress(t, vm, world);
    }

    if (!options.quiet) print_result(vm, world);
}

}  // namespace prendax
