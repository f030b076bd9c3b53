// The frame document: a snapshot of the whole VM (status, counters, current
// instruction, stack, variables, error) and the whole visible game state (ship,
// timers, enemies, bullets, explosions), written as one line of JSON.
#include "json/frame_json.h"

#include <cstdint>

#include "compiler/bytecode.h"
#include "compiler/diagnostics.h"
#include "json/diagnostic_json.h"

namespace prendax {

namespace {

// Shown as the current instruction when pc is outside the program.
constexpr const char* NO_INSTRUCTION = "\xE2\x80\x94";  // the em dash

const char* current_instruction_name(const Vm* vm) {
    int32_t codeCount = clamp_count(vm->codeCount, MAX_CODE);
    if (vm->pc < 0 || vm->pc >= codeCount) return NO_INSTRUCTION;
    return opcode_name(vm->code[vm->pc].op);
}

// The stack from the top down: stack[sp-1] first, stack[0] last.
void write_stack(JsonOut* out, const Vm* vm) {
    int32_t sp = clamp_count(vm->sp, MAX_STACK);
    for (int32_t i = sp - 1; i >= 0; i--) {
        if (i != sp - 1) json_append(out, ",");
        json_number(out, vm->stack[i]);
    }
}

void write_vars(JsonOut* out, const Vm* vm) {
    int32_t varCount = clamp_count(vm->varCount, MAX_VARS);
    for (int32_t i = 0; i < varCount; i++) {
        const VmVar& var = vm->vars[i];
        if (i != 0) json_append(out, ",");
        json_append(out, "{\"name\":");
        json_string_bounded(out, var.name, sizeof var.name);
        json_append(out, ",\"value\":");
        json_number(out, var.value);
        json_appendf(out, ",\"readonly\":%d}", var.readonly != 0 ? 1 : 0);
    }
}

void write_error(JsonOut* out, const Vm* vm) {
    if (!vm->hasError) {
        json_append(out, "null");
        return;
    }
    json_diagnostic(out, vm->error);
}

void write_enemies(JsonOut* out, const World* world) {
    bool first = true;
    for (const Enemy& enemy : world->enemies) {
        if (!enemy.alive) continue;
        if (!first) json_append(out, ",");
        first = false;
        json_appendf(out, "{\"x\":%g,\"y\":%g,\"hp\":%d,\"type\":%d,\"hit\":%d}", enemy.x, enemy.y, enemy.hp,
                     enemy.type, enemy.hit);
    }
}

void write_bullets(JsonOut* out, const World* world) {
    bool first = true;
    for (const Bullet& bullet : world->bullets) {
        if (!bullet.alive) continue;
        if (!first) json_append(out, ",");
        first = false;
        json_appendf(out, "{\"x\":%g,\"y\":%g,\"friendly\":%d}", bullet.x, bullet.y, bullet.friendly);
    }
}

// An explosion slot is in use while its life is above 0.
void write_explosions(JsonOut* out, const World* world) {
    bool first = true;
    for (const Explosion& explosion : world->explosions) {
        if (explosion.life <= 0) continue;
        if (!first) json_append(out, ",");
        first = false;
        json_appendf(out, "{\"x\":%g,\"y\":%g,\"life\":%d,\"maxLife\":%d,\"kind\":%d}", explosion.x, explosion.y,
                     explosion.life, explosion.maxLife, explosion.kind);
    }
}

}  // namespace

void vm_to_json(JsonOut* out, const Vm* vm) {
    if (vm == nullptr) {
        json_append(out, "null");
        return;
    }
    json_append(out, "{");
    json_append(out, "\"status\":");
    json_string(out, vm_status_name(vm->status));
    json_appendf(out, ",\"statusCode\":%d,\"pc\":%d,\"steps\":%ld,\"ticks\":%ld,\"wait\":%d,\"budgetHits\":%d",
                 static_cast<int>(vm->status), vm->pc, static_cast<long>(vm->steps), static_cast<long>(vm->ticks),
                 vm->wait, vm->budgetHits);
    // After HALT or a jump this is the instruction that would run next.
    json_append(out, ",\"instruction\":");
    json_string(out, current_instruction_name(vm));
    json_append(out, ",\"stack\":[");
    write_stack(out, vm);
    json_append(out, "],\"vars\":[");
    write_vars(out, vm);
    json_appendf(out, "],\"loopDepth\":%d,\"error\":", vm->loopDepth);
    write_error(out, vm);
    json_append(out, "}");
}

void world_to_json(JsonOut* out, const World* world) {
    if (world == nullptr) {
        json_append(out, "null");
        return;
    }
    json_append(out, "{");
    // Coordinates are always finite in a real world, so "%g" needs no guard.
    json_appendf(out, "\"px\":%g,\"py\":%g,\"health\":%d,\"score\":%d,\"level\":%d,\"wave\":%d,\"ticks\":%d", world->px,
                 world->py, world->health, world->score, world->level, world->wave, world->ticks);
    json_appendf(out, ",\"shield\":%d,\"shieldCooldown\":%d,\"shootCooldown\":%d,\"hitFlash\":%d",
                 world->shield > 0 ? 1 : 0, world->shieldCooldown, world->shootCooldown, world->hitFlash);
    json_appendf(out, ",\"width\":%d,\"height\":%d,\"status\":%d", world->width, world->height, world->status);
    // Lists keep slot order; free slots are skipped.
    json_append(out, ",\"enemies\":[");
    write_enemies(out, world);
    json_append(out, "],\"bullets\":[");
    write_bullets(out, world);
    json_append(out, "],\"explosions\":[");
    write_explosions(out, world);
    json_append(out, "]}");
}

void frame_to_json(const Vm* vm, const World* world, char* buffer, std::size_t capacity) {
    JsonOut out = json_open(buffer, capacity);
    json_append(&out, "{\"vm\":");
    vm_to_json(&out, vm);
    json_append(&out, ",\"game\":");
    world_to_json(&out, world);
    json_append(&out, "}");
}

void vm_state_to_json(const Vm* vm, char* buffer, std::size_t capacity) {
    JsonOut out = json_open(buffer, capacity);
    vm_to_json(&out, vm);
}

void world_state_to_json(const World* world, char* buffer, std::size_t capacity) {
    JsonOut out = json_open(buffer, capacity);
    world_to_json(&out, world);
}

}  // namespace prendax
