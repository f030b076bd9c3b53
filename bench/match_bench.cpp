// Cost of whole matches through the engine's match loop, without the console
// report: the default match (the built-in demo, 900 ticks, level 1, seed
// 12345) and a match of the same length whose program uses every tick's
// whole instruction budget.
#include <benchmark/benchmark.h>

#include "compiler/pipeline.h"
#include "frontend/frontend.h"
#include "game/events.h"
#include "game/match.h"
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
    for (auto _ : state) {
        match_start(result, DEFAULT_LEVEL, DEFAULT_SEED, vm, world);
        match_play(vm, world, DEFAULT_TICKS, nullptr);
        benchmark::DoNotOptimize(vm.steps);
        benchmark::ClobberMemory();
    }
    if (vm.ticks != DEFAULT_TICKS && world.status == GAME_PLAYING) state.SkipWithError("the match was cut short");
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

// A small arena sweep in one thread: seeds 1-20 at levels 1, 2 and 3, 900
// ticks each, of a robot that mostly waits (a shot and a step every 7 ticks)
// and of one that spends its whole budget every tick; matches per second.
constexpr const char* WAITING_PROGRAM =
    "START\n"
    "WHILE health > 0 {\n"
    "  SHOOT\n"
    "  IF enemy_left() { MOVE LEFT } ELSE { IF enemy_right() { MOVE RIGHT } }\n"
    "  WAIT 7\n"
    "}\n"
    "END\n";
constexpr uint32_t SWEEP_SEEDS = 20;
constexpr int32_t SWEEP_TICKS = 900;

void play_sweep(benchmark::State& state, const char* program) {
    if (!compile_source(program, &result, &context)) {
        state.SkipWithError("the program does not compile");
        return;
    }
    int64_t matches = 0;
    int64_t ticks = 0;
    for (auto _ : state) {
        for (int32_t level = 1; level <= 3; level++) {
            for (uint32_t seed = 1; seed <= SWEEP_SEEDS; seed++) {
                match_start(result, level, seed, vm, world);
                for (int32_t t = 0; t < SWEEP_TICKS && match_tick(vm, world); t++) {}
                ticks += vm.ticks;
                matches++;
            }
        }
        benchmark::DoNotOptimize(vm.steps);
    }
    state.counters["matches_per_s"] = benchmark::Counter(static_cast<double>(matches), benchmark::Counter::kIsRate);
    state.counters["ticks_per_match"] = static_cast<double>(ticks) / static_cast<double>(matches);
}

void BM_SweepWaitingRobot(benchmark::State& state) { play_sweep(state, WAITING_PROGRAM); }
BENCHMARK(BM_SweepWaitingRobot)->Unit(benchmark::kMillisecond);

void BM_SweepBudgetSaturatedRobot(benchmark::State& state) { play_sweep(state, SATURATING_PROGRAM); }
BENCHMARK(BM_SweepBudgetSaturatedRobot)->Unit(benchmark::kMillisecond);

// The --frame document written after the default match.
void BM_FrameAfterDefaultMatch(benchmark::State& state) {
    if (!compile_source(demo_source, &result, &context)) {
        state.SkipWithError("the program does not compile");
        return;
    }
    match_start(result, DEFAULT_LEVEL, DEFAULT_SEED, vm, world);
    match_play(vm, world, DEFAULT_TICKS, nullptr);
    for (auto _ : state) {
        frame_to_json(&vm, &world, frame, sizeof frame);
        benchmark::DoNotOptimize(frame[0]);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_FrameAfterDefaultMatch);

}  // namespace
