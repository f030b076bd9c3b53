// The VM's time per executed instruction beside Lua 5.4's time per executed
// bytecode, on the same loop, side by side in one process:
//
//   ZKV:  WHILE i < n { IF x >= 0 { SET x x + 1 } SET i i + 1 }
//   Lua:  while i < n do if x >= 0 then x = x + 1 end i = i + 1 end   (i, x floats)
//
// The ZKV loop runs through vm_run with the world host attached and the match's
// budget of 200 instructions per call, as in a match; its instructions are counted
// by the VM's own steps. Lua's executed bytecodes are counted exactly by a count
// hook called after every instruction, in a run of its own; the timed runs go
// without the hook. Each benchmark iteration times one round of each, so that
// both see the same state of the machine; the counters report ns per instruction
// of each and their ratio (below 1: the VM is faster per instruction).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <lua.hpp>

#include "compiler/pipeline.h"
#include "game/ship.h"
#include "game/world.h"
#include "vm/vm.h"

using namespace prendax;

namespace {

constexpr const char* ZKV_LOOP =
    "SET i 0\n"
    "SET x 0\n"
    "WHILE i < 1000000 {\n"
    "  IF x >= 0 { SET x x + 1 }\n"
    "  SET i i + 1\n"
    "}\n";

constexpr const char* LUA_LOOP =
    "return function(n)\n"
    "  local i, x = 0.0, 0.0\n"
    "  while i < n do\n"
    "    if x >= 0 then x = x + 1 end\n"
    "    i = i + 1\n"
    "  end\n"
    "  return x\n"
    "end\n";

constexpr int32_t MATCH_BUDGET = 200;    // instructions per vm_run, as in a match
constexpr int32_t RUNS_PER_ROUND = 50;   // 10000 ZKV instructions per round
constexpr lua_Number LUA_PASSES = 1500;  // about 10000 Lua bytecodes per round

CompilerContext context;
CompileResult result;
Vm vm;
World world;

int64_t luaCount = 0;
void count_bytecode(lua_State*, lua_Debug*) { luaCount++; }

// Calls the loop function (on top of the stack) with n; leaves the stack as it was.
void call_lua(lua_State* L, lua_Number n) {
    lua_pushvalue(L, -1);
    lua_pushnumber(L, n);
    lua_call(L, 1, 1);
    benchmark::DoNotOptimize(lua_tonumber(L, -1));
    lua_pop(L, 1);
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_VmAgainstLua(benchmark::State& state) {
    if (!compile_source(ZKV_LOOP, &result, &context)) {
        state.SkipWithError("the ZKV loop does not compile");
        return;
    }
    world_init(&world, 1, 12345);
    const VmHost host = world_host(&world);
    vm_load(&vm, &result, &host);
    vm_reset(&vm);

    lua_State* L = luaL_newstate();
    if (L == nullptr || luaL_dostring(L, LUA_LOOP) != LUA_OK) {
        state.SkipWithError("the Lua loop does not load");
        if (L != nullptr) lua_close(L);
        return;
    }
    // The bytecodes one round executes, counted by a hook after every instruction.
    luaCount = 0;
    lua_sethook(L, count_bytecode, LUA_MASKCOUNT, 1);
    call_lua(L, LUA_PASSES);
    lua_sethook(L, nullptr, 0, 0);
    const int64_t luaPerRound = luaCount;

    double zkvSeconds = 0.0;
    double luaSeconds = 0.0;
    int64_t zkvInstructions = 0;
    int64_t luaBytecodes = 0;
    for (auto _ : state) {
        const int32_t stepsBefore = vm.steps;
        auto start = std::chrono::steady_clock::now();
        for (int32_t run = 0; run < RUNS_PER_ROUND; run++) vm_run(&vm, MATCH_BUDGET);
        zkvSeconds += seconds_since(start);
        zkvInstructions += vm.steps - stepsBefore;

        start = std::chrono::steady_clock::now();
        call_lua(L, LUA_PASSES);
        luaSeconds += seconds_since(start);
        luaBytecodes += luaPerRound;

        // The loop's counters start again well before they near the end of the loop.
        if (vm.steps > 10000000) vm_reset(&vm);
    }
    lua_close(L);
    if (vm.status != VM_EJECUTANDO || vm.hasError) {
        state.SkipWithError("the ZKV loop stopped");
        return;
    }
    const double zkvNs = zkvSeconds * 1e9 / static_cast<double>(zkvInstructions);
    const double luaNs = luaSeconds * 1e9 / static_cast<double>(luaBytecodes);
    state.counters["zkv_ns_per_instr"] = zkvNs;
    state.counters["lua_ns_per_bytecode"] = luaNs;
    state.counters["zkv_over_lua"] = zkvNs / luaNs;
    state.counters["lua_bytecodes_per_pass"] = static_cast<double>(luaPerRound) / LUA_PASSES;
}
BENCHMARK(BM_VmAgainstLua);

}  // namespace

BENCHMARK_MAIN();
