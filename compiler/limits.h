// Limits of the compiler. A program that exceeds one of the reported limits gets
// a message naming the maximum; the saturating bounds are marked as such.
#pragma once

#include <cstdint>

namespace prendax {

inline constexpr int MAX_SOURCE_BYTES = 16384;  // largest source text compiled
inline constexpr int MAX_DIAGNOSTICS = 32;      // saturates, no message: later reports are lost
inline constexpr int MESSAGE_SIZE = 160;        // a message keeps at most 159 bytes
inline constexpr int MAX_TOKENS = 2048;         // 2047 tokens of the text plus EOF
inline constexpr int MAX_LEXEME = 47;           // bytes kept of a token's text
inline constexpr int LEXEME_SIZE = MAX_LEXEME + 1;
inline constexpr int NUMBER_TEXT_MAX = 63;  // bytes of a number's text that are converted
inline constexpr int MAX_NAME_LENGTH = 23;  // longest variable or function name
// (POSIX already takes the name NAME_MAX for a macro.)
inline constexpr int NAME_SIZE = 24;             // bytes of a name field, terminator included
inline constexpr double MAX_NUMBER = 1000000.0;  // largest number literal
inline constexpr int MAX_STMTS = 2048;           // statement nodes, the root included
inline constexpr int MAX_EXPRS = 2048;           // expression nodes
inline constexpr int MAX_DEPTH = 64;             // nesting of blocks and expressions together
inline constexpr int DESCRIBE_SIZE = 52;         // a token description keeps at most 51 bytes
inline constexpr int MAX_VARS = 64;              // variables, the six reserved ones included
inline constexpr int RESERVED_VARS = 6;          // health, score, enemies_left, level, shield, ticks
inline constexpr int BUILTIN_COUNT = 4;          // enemy_ahead, enemy_left, enemy_right, random
inline constexpr int SUGGEST_BYTES = 31;         // bytes of a name that take part in a suggestion
inline constexpr int SUGGEST_MAX_DISTANCE = 2;   // a suggestion is at most this many edits away
inline constexpr int MAX_CODE = 2048;            // instructions of a compiled program
inline constexpr int OPERAND_TEXT_SIZE = 96;     // operand text of one listing line
inline constexpr int LISTING_LINE_SIZE = 192;    // one listing line
inline constexpr int LISTING_CAPACITY = 65536;   // saturates, no message: whole lines only
inline constexpr int AST_TEXT_CAPACITY = 16384;  // saturates, no message: cut at 16383 bytes
inline constexpr int TEXT_SCRATCH_SIZE = 512;    // one formatted piece of the tree text

// A count read from a record that may be hand-made, held to 0..capacity so that
// a damaged record is never read past the end of its table.
constexpr int32_t clamp_count(int32_t count, int32_t capacity) {
    if (count < 0) return 0;
    return count < capacity ? count : capacity;
}

}  // namespace prendax
