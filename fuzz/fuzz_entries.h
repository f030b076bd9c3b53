// The three ways untrusted bytes reach the engine, each run on one raw input
// with the properties that must hold whatever the input is: the compiler with
// its result document, a short match of a program that compiles with its frame
// document, and the VM on a hand-made instruction array with the world attached.
// The libFuzzer targets and the regression test both call these.
#pragma once

#include <cstddef>
#include <cstdint>

#include "compiler/context.h"

namespace prendax {

// Match input: seed (4 bytes, little-endian), level (1 byte, signed), ticks
// field (2 bytes, little-endian), then the source text. Missing bytes read as 0.
inline constexpr std::size_t MATCH_HEADER_BYTES = 7;
inline constexpr int32_t MATCH_MAX_TICKS = 400;        // a short match: a few hundred ticks at most
inline constexpr int32_t MATCH_TICKS_BELOW_ZERO = 10;  // the ticks field also gives -10..-1

// VM input: variable count (1 byte, mod 65), seed (4), level (1, signed), ticks
// (1), budget (1, signed; 0 or less runs the default), mode (1), then up to
// 2048 instructions of 15 bytes each: opcode byte, arg (4), line (2), num (8),
// little-endian. An opcode byte below 248 gives the opcode (byte mod 32) and an
// operand mode (byte / 32); 248..255 stay as unknown opcodes. The operand mode
// can bring arg into -1..count (jump targets and variables that mostly exist)
// and num to the signed value of its first byte (counts that loops can use).
inline constexpr std::size_t VM_HEADER_BYTES = 9;
inline constexpr std::size_t VM_INSTRUCTION_BYTES = 15;
inline constexpr int VM_FIRST_UNKNOWN_OPCODE_BYTE = 248;
inline constexpr uint8_t VM_OPERAND_NEAR_ARG = 1;
inline constexpr uint8_t VM_OPERAND_SMALL_NUM = 2;
inline constexpr uint8_t VM_MODE_STEP_WAITING = 1;  // drive the machine through vm_step_waiting
inline constexpr uint8_t VM_MODE_EXTRA_STEPS = 2;   // then call vm_step a few times whatever the status

// The longest source the compile entry passes on: past the compiler's limit,
// so the size report is reached too.
inline constexpr std::size_t FUZZ_SOURCE_LIMIT = MAX_SOURCE_BYTES + 256;

// Each returns nullptr when every property held, else a text naming the first that failed.
const char* fuzz_compile_input(const uint8_t* data, std::size_t size);
const char* fuzz_match_input(const uint8_t* data, std::size_t size);
const char* fuzz_vm_input(const uint8_t* data, std::size_t size);

// Seed-corpus helpers: the bytes of a match input or of a VM input built from a
// compiled program. Both return the number of bytes written (at most capacity).
std::size_t encode_match_input(uint32_t seed, int8_t level, uint16_t ticksField, const char* text, uint8_t* out,
                               std::size_t capacity);
std::size_t encode_vm_input(const CompileResult& compiled, uint32_t seed, int8_t level, uint8_t ticks, uint8_t* out,
                            std::size_t capacity);

}  // namespace prendax
