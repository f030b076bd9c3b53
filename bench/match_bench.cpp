// Cost of whole matches through the driver's own loop, without the console
// report: the default match (the built-in demo, 900 ticks, level 1, seed
// 12345) and a match of the same length whose program uses every tick's
// whole instruction budget.
#include <benchmark/benchmark.h>

#include "cli/cli.h"
#include "cli/simulation.h"
#include "compiler/pipeline.h"
#include "game/events.h"
#include "json/frame_json.h"

using namespace prendax;

namespace {

// Never waits: every tick runs the full budget of 200 instructions.
constexpr const char* SATURATING_PROGRAM =
    "START\n"
    "WHILE 1 {\n"
    "  REPEAT 12 { MOVE RIGHT SHOOT REPEAT 30 { SET busy busy + 1 } }\n"
    "  REPEAT 12 { MOVE LEFT SHOOT REPEAT 30 { SET busy busy - 1 } }\n"
    "  IF enemy_ahead() || random(100) < 2 { SHIELD }\n"
    "}\n"
    "END\n";

CompilerContext context;
CompileResult result;
Vm vm;
World world;
char frame[FRAME_JSON_CAPACITY];

void play_matches(benchmark::State& state, const char* program, bool saturates) {
    if (!compile_source(program, &result, &context)) {
        state.SkipWithError("the program does not compile");
        return;
    }
    RunOptions options;  // 900 ticks, level 1, seed 12345
    options.quiet = true;
    for (auto _ : state) {
        run_simulation(options, DEMO_DISPLAY_NAME, result, vm, world);
        benchmark::DoNotOptimize(vm.steps);
        benchmark::ClobberMemory();
    }
    if (vm.ticks != options.ticks && world.status == GAME_PLAYING) state.SkipWithError("the match was cut short");
    if (saturates && vm.budgetHits != vm.ticks) state.SkipWithError("the program left the budget unused");
    state.counters["ticks"] = vm.ticks;
    state.counters["instructions"] = vm.steps;
    state.counters["ticks_per_s"] = benchmark::Counter(
        static_cast<double>(vm.ticks) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_DefaultMatch(benchmark::State& state) { play_matches(state, demo_source, false); }

// The saturated match with the profile and the event log attached, as
// prendax_replay plays it: what the accounting costs when a tool asks for it.
VmProfile profile;
EventLog events;
void BM_BudgetSaturatedMatchAccounted(benchmark::State& state) {
    if (!compile_source(SATURATING_PROGRAM, &result, &context)) {
        state.SkipWithError("the program does not compile");
        return;
    }
    for (auto _ : state) {
        match_start(result, DEFAULT_LEVEL, DEFAULT_SEED, vm, world);
        profile_clear(&profile);
        vm.profile = &profile;
        world.events = &events;
        for (int32_t t = 0; t < DEFAULT_TICKS && match_tick(vm, world); t++) {}
        benchmark::DoNotOptimize(vm.steps);
        benchmark::ClobberMemory();
    }
    state.counters["ticks_per_s"] = benchmark::Counter(
        static_cast<double>(vm.ticks) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BudgetSaturatedMatchAccounted)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DefaultMatch)->Unit(benchmark::kMillisecond);

void BM_BudgetSaturatedMatch(benchmark::State& state) { play_matches(state, SATURATING_PROGRAM, true); }
BENCHMARK(BM_BudgetSaturatedMatch)->Unit(benchmark::kMillisecond);

// The --frame document written after the default match.
void BM_FrameAfterDefaultMatch(benchmark::State& state) {
    if (!compile_source(demo_source, &result, &context)) {
        state.SkipWithError("the program does not compile");
        return;
    }
    RunOptions options;
    options.quiet = true;
    run_simulation(options, DEMO_DISPLAY_NAME, result, vm, world);
    for (auto _ : state) {
        frame_to_json(&vm, &world, frame, sizeof frame);
        benchmark::DoNotOptimize(frame[0]);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_FrameAfterDefaultMatch);

}  // namespace
