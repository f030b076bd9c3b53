// The C interface over the engine: one compiler context, one compile result,
// one VM and one world in static storage, the accounting of the match in play
// (its instruction profile and its events), and the two buffers the caller
// reads and writes. Built into the WebAssembly module, where each function is
// exported under its own name.
#include "playground/prendax_api.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "compiler/bytecode.h"
#include "compiler/pipeline.h"
#include "frontend/frontend.h"
#include "game/events.h"
#include "game/match.h"
#include "json/compile_json.h"
#include "json/frame_json.h"
#include "json/game_facts_json.h"
#include "json/json_out.h"
#include "vm/profile.h"

#if defined(__wasm__)
#define PRENDAX_EXPORT(name) __attribute__((export_name(#name)))
#else
#define PRENDAX_EXPORT(name)
#endif

namespace {

prendax::CompilerContext compiler_context;
prendax::CompileResult compile_result;
prendax::Vm machine;
prendax::World world;
bool match_ready = false;
char source_buffer[prendax::MAX_SOURCE_BYTES + 1];
// The compile result is the largest document; a frame is cut at the same
// capacity prendax_cli gives it.
char output_buffer[prendax::COMPILE_JSON_CAPACITY];

// The accounting of the match in play: every instruction's count, the counts
// as the current tick began, and where the budget ran out in it.
prendax::VmProfile profile;
int64_t tick_start_counts[prendax::PROFILE_SLOTS];
int32_t tick_stop_pc = -1;  // -1: the budget did not run out in the current tick

// The events of the match so far, all but the shots (one a tick for a robot
// that keeps firing, and its per-line counts show them anyway).
constexpr int32_t EVENT_HISTORY_CAPACITY = 4096;  // saturates: later events are only counted as dropped
prendax::EventLog tick_events;
prendax::MatchEvent event_history[EVENT_HISTORY_CAPACITY];
int32_t event_count = 0;
int32_t events_dropped = 0;

// Room each entry of a list document needs at most; a list stops at whole entries.
constexpr uint64_t LIST_ENTRY_ROOM = 160;

// Per-line sums of the profile, indexed by source line (a program of at most
// MAX_SOURCE_BYTES bytes has at most one line more than it has bytes).
constexpr int32_t LINE_SLOTS = prendax::MAX_SOURCE_BYTES + 2;
int64_t line_total[LINE_SLOTS];
int64_t line_tick[LINE_SLOTS];

int32_t output_length() { return static_cast<int32_t>(std::strlen(output_buffer)); }

int32_t code_count() { return compile_result.codeCount < 0 ? 0 : compile_result.codeCount; }

void begin_tick_accounting() {
    std::memcpy(tick_start_counts, profile.executed, sizeof(int64_t) * static_cast<std::size_t>(code_count() + 1));
    tick_stop_pc = -1;
}

// Keeps the tick's events from `from` on.
void keep_events(int32_t from) {
    for (int32_t i = from; i < tick_events.count && i < prendax::MAX_TICK_EVENTS; i++) {
        if (tick_events.events[i].kind == prendax::EVENT_SHOT) continue;
        if (event_count < EVENT_HISTORY_CAPACITY) {
            event_history[event_count++] = tick_events.events[i];
        } else if (events_dropped < INT32_MAX) {
            events_dropped++;
        }
    }
}

void end_tick_accounting(int32_t hitsBefore) {
    if (machine.budgetHits != hitsBefore) tick_stop_pc = machine.pc;
    keep_events(0);
}

// FNV-1a over 64-bit words: every number of the state enters by its bits.
struct Digest {
    uint64_t value = 14695981039346656037ull;
    void add(uint64_t word) {
        for (int i = 0; i < 8; i++) value = (value ^ ((word >> (8 * i)) & 0xffu)) * 1099511628211ull;
    }
    void add(double number) {
        uint64_t bits = 0;
        std::memcpy(&bits, &number, sizeof bits);
        add(bits);
    }
    void add(int32_t number) { add(static_cast<uint64_t>(static_cast<uint32_t>(number))); }
};

void digest_world(Digest& d) {
    for (double v : {world.px, world.py}) d.add(v);
    for (int32_t v : {world.health, world.score, world.level, world.wave, world.shield, world.shieldCooldown,
                      world.shootCooldown, world.ticks, world.toSpawn, world.spawnTimer, world.enemiesAlive,
                      world.status, static_cast<int32_t>(world.rng), world.hitFlash}) {
        d.add(v);
    }
    for (const prendax::Enemy& e : world.enemies) {
        for (double v : {e.x, e.y, e.speed, e.phase}) d.add(v);
        for (int32_t v : {e.hp, static_cast<int32_t>(e.type), e.alive, e.fireCooldown, e.hit}) d.add(v);
    }
    for (const prendax::Bullet& b : world.bullets) {
        for (double v : {b.x, b.y, b.vy}) d.add(v);
        for (int32_t v : {b.alive, b.friendly, b.damage}) d.add(v);
    }
    for (const prendax::Explosion& x : world.explosions) {
        for (double v : {x.x, x.y}) d.add(v);
        for (int32_t v : {x.life, x.maxLife, static_cast<int32_t>(x.kind)}) d.add(v);
    }
}

void digest_vm(Digest& d) {
    for (int32_t v :
         {machine.sp, machine.pc, machine.loopDepth, machine.wait, machine.haltTicks,
          static_cast<int32_t>(machine.status), machine.steps, machine.ticks, machine.budgetHits, machine.hasError}) {
        d.add(v);
    }
    for (int32_t i = 0; i < machine.sp && i < prendax::MAX_STACK; i++) d.add(machine.stack[i]);
    for (int32_t i = 0; i < machine.varCount && i < prendax::MAX_VARS; i++) d.add(machine.vars[i].value);
    for (int32_t i = 0; i < machine.loopDepth && i < prendax::MAX_REPEAT; i++) {
        d.add(machine.repeatStack[i].start);
        d.add(machine.repeatStack[i].remaining);
    }
}

int32_t line_of(int32_t pc) {
    if (pc < 0 || pc >= code_count()) return 0;
    const int32_t line = compile_result.code[pc].line;
    return line > 0 && line < LINE_SLOTS ? line : 0;
}

}  // namespace

extern "C" {

PRENDAX_EXPORT(prendax_source) char* prendax_source(void) { return source_buffer; }

PRENDAX_EXPORT(prendax_source_capacity) int32_t prendax_source_capacity(void) { return prendax::MAX_SOURCE_BYTES; }

PRENDAX_EXPORT(prendax_output) char* prendax_output(void) { return output_buffer; }

PRENDAX_EXPORT(prendax_output_capacity) int32_t prendax_output_capacity(void) {
    return static_cast<int32_t>(sizeof output_buffer);
}

PRENDAX_EXPORT(prendax_compile) int32_t prendax_compile(int32_t length) {
    if (length < 0) length = 0;
    if (length > prendax::MAX_SOURCE_BYTES) length = prendax::MAX_SOURCE_BYTES;
    source_buffer[length] = '\0';
    match_ready = false;
    return prendax::compile_source(source_buffer, &compile_result, &compiler_context);
}

PRENDAX_EXPORT(prendax_compile_json) int32_t prendax_compile_json(void) {
    prendax::compile_result_to_json(&compile_result, &compiler_context, output_buffer, sizeof output_buffer);
    return output_length();
}

PRENDAX_EXPORT(prendax_listing) int32_t prendax_listing(void) {
    prendax::write_listing(&compile_result, output_buffer, sizeof output_buffer);
    return output_length();
}

PRENDAX_EXPORT(prendax_start) int32_t prendax_start(int32_t level, uint32_t seed) {
    match_ready = compile_result.ok != 0;
    event_count = 0;
    events_dropped = 0;
    profile_clear(&profile);
    begin_tick_accounting();
    if (!match_ready) return 0;
    prendax::match_start(compile_result, level, seed, machine, world);
    tick_events.count = 0;
    tick_events.dropped = 0;
    machine.profile = &profile;
    world.events = &tick_events;
    return 1;
}

PRENDAX_EXPORT(prendax_tick) int32_t prendax_tick(void) {
    if (!match_ready) return 0;
    begin_tick_accounting();
    const int32_t hitsBefore = machine.budgetHits;
    match_ready = prendax::match_tick(machine, world);
    end_tick_accounting(hitsBefore);
    return match_ready ? 1 : 0;
}

PRENDAX_EXPORT(prendax_run) int32_t prendax_run(int32_t ticks) {
    int32_t played = 0;
    for (; played < ticks && match_ready; played++) prendax_tick();
    return played;
}

PRENDAX_EXPORT(prendax_step) int32_t prendax_step(void) {
    if (!match_ready) return machine.status;
    const int32_t hadError = machine.hasError;
    const int32_t status = prendax::vm_step_waiting(&machine);
    // An error met by hand is an event of the tick, as one met in a tick's run is.
    if (machine.hasError && !hadError) {
        const int32_t from = tick_events.count;
        prendax::event_add_error(&world, machine.error.line);
        keep_events(from);
    }
    return status;
}

PRENDAX_EXPORT(prendax_frame_json) int32_t prendax_frame_json(void) {
    prendax::frame_to_json(&machine, &world, output_buffer, prendax::FRAME_JSON_CAPACITY);
    return output_length();
}

PRENDAX_EXPORT(prendax_vm_json) int32_t prendax_vm_json(void) {
    prendax::vm_state_to_json(&machine, output_buffer, prendax::FRAME_JSON_CAPACITY);
    return output_length();
}

PRENDAX_EXPORT(prendax_world_json) int32_t prendax_world_json(void) {
    prendax::world_state_to_json(&world, output_buffer, prendax::FRAME_JSON_CAPACITY);
    return output_length();
}

PRENDAX_EXPORT(prendax_digest) int32_t prendax_digest(void) {
    Digest d;
    digest_world(d);
    digest_vm(d);
    prendax::JsonOut out = prendax::json_open(output_buffer, sizeof output_buffer);
    prendax::json_appendf(&out, "%016llx", static_cast<unsigned long long>(d.value));
    return output_length();
}

PRENDAX_EXPORT(prendax_lines_json) int32_t prendax_lines_json(void) {
    const int32_t count = code_count();
    int32_t first = LINE_SLOTS;
    int32_t last = 0;
    for (int32_t pc = 0; pc < count; pc++) {
        const int32_t line = line_of(pc);
        if (line == 0 || profile.executed[pc] == 0) continue;
        line_total[line] += profile.executed[pc];
        line_tick[line] += profile.executed[pc] - tick_start_counts[pc];
        if (line < first) first = line;
        if (line > last) last = line;
    }
    prendax::JsonOut out = prendax::json_open(output_buffer, sizeof output_buffer);
    prendax::json_appendf(&out, "{\"tick\":%d,\"stopLine\":%d,\"lines\":[", static_cast<int>(world.ticks),
                          static_cast<int>(tick_stop_pc < 0 ? 0 : line_of(tick_stop_pc)));
    bool firstEntry = true;
    for (int32_t line = first; line <= last; line++) {
        if (line_total[line] == 0) continue;
        prendax::json_appendf(&out, "%s[%d,%lld,%lld]", firstEntry ? "" : ",", static_cast<int>(line),
                              static_cast<long long>(line_total[line]), static_cast<long long>(line_tick[line]));
        firstEntry = false;
        line_total[line] = 0;
        line_tick[line] = 0;
    }
    prendax::json_append(&out, "]}");
    return output_length();
}

PRENDAX_EXPORT(prendax_events_json) int32_t prendax_events_json(int32_t from) {
    if (from < 0 || from > event_count) from = event_count;
    prendax::JsonOut out = prendax::json_open(output_buffer, sizeof output_buffer);
    prendax::json_appendf(&out, "{\"count\":%d,\"dropped\":%d,\"from\":%d,\"events\":[", static_cast<int>(event_count),
                          static_cast<int>(events_dropped), static_cast<int>(from));
    for (int32_t i = from; i < event_count && out.len + LIST_ENTRY_ROOM < out.cap; i++) {
        const prendax::MatchEvent& e = event_history[i];
        prendax::json_appendf(&out, "%s[%d,\"%s\",\"%s\",%d,%d,%d,%d]", i == from ? "" : ",", static_cast<int>(e.tick),
                              prendax::match_event_name(e.kind), prendax::event_cause_name(e.cause),
                              static_cast<int>(e.amount), static_cast<int>(e.enemyType), static_cast<int>(e.points),
                              static_cast<int>(e.line));
    }
    prendax::json_append(&out, "]}");
    return output_length();
}

PRENDAX_EXPORT(prendax_game_facts_json) int32_t prendax_game_facts_json(void) {
    prendax::game_facts_to_json(output_buffer, sizeof output_buffer);
    return output_length();
}

}  // extern "C"
