// Cost of one executed VM instruction: vm_run on a loop that uses every tick's
// whole budget, with a host attached, beside a bare switch over the same code.
#include "vm/vm.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>

using namespace prendax;

namespace {

CompileResult result;
Vm vm;

struct Counters {
    int64_t statusCalls = 0;
};
Counters counters;

int32_t bench_game_status(void* context) {
    static_cast<Counters*>(context)->statusCalls++;
    return 0;
}
double bench_builtin(void*, int32_t, double, int32_t) { return 0.0; }

// v6 = v6 + 1 forever: LOAD, PUSH 1, ADD, STORE, JMP 0.
void load_counting_loop(bool withHost = true) {
    std::memset(&result, 0, sizeof result);
    const Instruction code[] = {
        {OP_LOAD, 6, 1, 0.0}, {OP_PUSH, 0, 1, 1.0}, {OP_ADD, 0, 1, 0.0}, {OP_STORE, 6, 1, 0.0}, {OP_JMP, 0, 1, 0.0},
    };
    result.codeCount = static_cast<int32_t>(sizeof code / sizeof code[0]);
    std::memcpy(result.code, code, sizeof code);
    result.varCount = 7;
    const VmHost host{&counters, nullptr, nullptr, nullptr, bench_builtin, bench_game_status, 0};
    vm_load(&vm, &result, withHost ? &host : nullptr);
    vm_reset(&vm);
}

void run_saturated(benchmark::State& state, bool withHost, VmProfile* attached = nullptr) {
    const int32_t budget = static_cast<int32_t>(state.range(0));
    load_counting_loop(withHost);
    vm.profile = attached;
    for (auto _ : state) {
        vm_run(&vm, budget);
        benchmark::DoNotOptimize(vm.vars[6].value);
    }
    if (vm.status != VM_EJECUTANDO || vm.budgetHits != vm.ticks) state.SkipWithError("the loop left the budget");
    const double instructions = static_cast<double>(state.iterations()) * budget;
    state.SetItemsProcessed(static_cast<int64_t>(instructions));
    // The inverted rate of instructions: CPU seconds per executed instruction.
    state.counters["time_per_instr"] =
        benchmark::Counter(instructions, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
void BM_VmRunBudgetSaturated(benchmark::State& state) { run_saturated(state, true); }
BENCHMARK(BM_VmRunBudgetSaturated)->Arg(DEFAULT_BUDGET)->Arg(10000);

// The same run with a profile attached: what the accounting costs a tool that
// asks for it (without one, the machine runs the code of BM_VmRunBudgetSaturated).
VmProfile profile;
void BM_VmRunProfiled(benchmark::State& state) {
    profile_clear(&profile);
    run_saturated(state, true, &profile);
    vm.profile = nullptr;
}
BENCHMARK(BM_VmRunProfiled)->Arg(DEFAULT_BUDGET);

// The same run without a host: what the per-step gameStatus call costs.
void BM_VmRunWithoutHost(benchmark::State& state) { run_saturated(state, false); }
BENCHMARK(BM_VmRunWithoutHost)->Arg(DEFAULT_BUDGET);

// The same five instructions through a plain switch with no checks and no host:
// the floor that the checked machine is measured against.
void BM_BareSwitchLoop(benchmark::State& state) {
    const int32_t budget = static_cast<int32_t>(state.range(0));
    load_counting_loop();
    double stack[MAX_STACK];
    double vars[MAX_VARS] = {};
    int32_t pc = 0;
    for (auto _ : state) {
        int32_t sp = 0;
        for (int32_t i = 0; i < budget; i++) {
            const Instruction& ins = vm.code[pc++];
            switch (ins.op) {
                case OP_PUSH: stack[sp++] = ins.num; break;
                case OP_LOAD: stack[sp++] = vars[ins.arg]; break;
                case OP_STORE: vars[ins.arg] = stack[--sp]; break;
                case OP_ADD:
                    sp--;
                    stack[sp - 1] += stack[sp];
                    break;
                case OP_JMP: pc = ins.arg; break;
                default: break;
            }
        }
        benchmark::DoNotOptimize(vars[6]);
        benchmark::DoNotOptimize(sp);
    }
    const double instructions = static_cast<double>(state.iterations()) * budget;
    state.SetItemsProcessed(static_cast<int64_t>(instructions));
    // The inverted rate of instructions: CPU seconds per executed instruction.
    state.counters["time_per_instr"] =
        benchmark::Counter(instructions, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_BareSwitchLoop)->Arg(DEFAULT_BUDGET)->Arg(10000);

}  // namespace

BENCHMARK_MAIN();
