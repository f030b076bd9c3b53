// The C interface over the engine: one compiler context, one compile result,
// one VM and one world in static storage, and the two buffers the caller
// reads and writes. Built into the WebAssembly module, where each function is
// exported under its own name.
#include "playground/prendax_api.h"

#include <cstring>

#include "cli/cli.h"
#include "cli/simulation.h"
#include "compiler/bytecode.h"
#include "compiler/pipeline.h"
#include "json/compile_json.h"
#include "json/frame_json.h"
#include "json/game_facts_json.h"

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

int32_t output_length() { return static_cast<int32_t>(std::strlen(output_buffer)); }

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
    if (match_ready) prendax::match_start(compile_result, level, seed, machine, world);
    return match_ready ? 1 : 0;
}

PRENDAX_EXPORT(prendax_tick) int32_t prendax_tick(void) {
    if (!match_ready) return 0;
    match_ready = prendax::match_tick(machine, world);
    return match_ready ? 1 : 0;
}

PRENDAX_EXPORT(prendax_run) int32_t prendax_run(int32_t ticks) {
    int32_t played = 0;
    for (; played < ticks && match_ready; played++) prendax_tick();
    return played;
}

PRENDAX_EXPORT(prendax_step) int32_t prendax_step(void) {
    if (!match_ready) return machine.status;
    return prendax::vm_step_waiting(&machine);
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

PRENDAX_EXPORT(prendax_game_facts_json) int32_t prendax_game_facts_json(void) {
    prendax::game_facts_to_json(output_buffer, sizeof output_buffer);
    return output_length();
}

}  // extern "C"
