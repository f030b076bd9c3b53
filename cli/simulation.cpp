// The console report of a match: the engine plays it, this prints it.
#include "cli/simulation.h"

#include "game/match.h"

namespace prendax {

namespace {

void print_banner(const char* displayName, const CompileResult& result) {
    print_out("PRENDAX %s — %s\n\n", VERSION_TEXT, displayName);
    print_out("%s\n", result.disasm);
}

bool print_progress(void* /*context*/, const Vm& vm, const World& world, int32_t tick, bool going) {
    if (going && tick % PROGRESS_INTERVAL == 0) {
        print_out("t=%4d  hp=%3d  score=%4d  wave=%d  enemigos=%2d  pc=%4d  vm=%s\n", tick, world.health, world.score,
                  world.wave, world.enemiesAlive, vm.pc, vm_status_name(vm.status));
    }
    return true;
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

void run_simulation(const RunOptions& options, const char* displayName, const CompileResult& result, Vm& vm,
                    World& world) {
    if (!options.quiet) print_banner(displayName, result);
    match_start(result, options.level, options.seed, vm, world);
    if (!options.quiet) {
        print_out("Simulando %d ticks (nivel %d, semilla %u)...\n", options.ticks, options.level, options.seed);
    }
    const MatchObserver progress{nullptr, print_progress};
    match_play(vm, world, options.ticks, options.quiet ? nullptr : &progress);
    if (!options.quiet) print_result(vm, world);
}

}  // namespace prendax
