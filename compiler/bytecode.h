// Bytecode: the instruction record, the opcodes with their names, the emitter
// that enforces the program size, and the listing text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "compiler/enum_table.h"
#include "compiler/limits.h"

namespace prendax {

enum Opcode : uint8_t {
    OP_PUSH,
    OP_LOAD,
    OP_STORE,
    OP_ADD,
    OP_SUB,
    OP_MUL,
    OP_DIV,
    OP_MOD,
    OP_NEG,
    OP_NOT,
    OP_LT,
    OP_GT,
    OP_LE,
    OP_GE,
    OP_EQ,
    OP_NE,
    OP_AND,
    OP_OR,
    OP_JMP,
    OP_JZ,
    OP_JNZ,
    OP_CALL,
    OP_MOVE_UP,
    OP_MOVE_DOWN,
    OP_MOVE_LEFT,
    OP_MOVE_RIGHT,
    OP_SHOOT,
    OP_SHIELD,
    OP_WAIT,
    OP_REPEAT_START,
    OP_REPEAT_END,
    OP_HALT,
};

// How the listing shows an opcode's operand.
enum OperandKind : uint8_t {
    OPERAND_NONE,
    OPERAND_NUMBER,    // num in "%g"
    OPERAND_VARIABLE,  // the variable's name, or "#%d" outside the table
    OPERAND_ADDRESS,   // arg in "%04d"
    OPERAND_BUILTIN,   // the built-in's name
};

struct OpcodeRow {
    Opcode value;
    const char* name;
    OperandKind operand;
};

inline constexpr OpcodeRow OPCODE_TABLE[] = {
    {OP_PUSH, "PUSH", OPERAND_NUMBER},
    {OP_LOAD, "LOAD", OPERAND_VARIABLE},
    {OP_STORE, "STORE", OPERAND_VARIABLE},
    {OP_ADD, "ADD", OPERAND_NONE},
    {OP_SUB, "SUB", OPERAND_NONE},
    {OP_MUL, "MUL", OPERAND_NONE},
    {OP_DIV, "DIV", OPERAND_NONE},
    {OP_MOD, "MOD", OPERAND_NONE},
    {OP_NEG, "NEG", OPERAND_NONE},
    {OP_NOT, "NOT", OPERAND_NONE},
    {OP_LT, "LT", OPERAND_NONE},
    {OP_GT, "GT", OPERAND_NONE},
    {OP_LE, "LE", OPERAND_NONE},
    {OP_GE, "GE", OPERAND_NONE},
    {OP_EQ, "EQ", OPERAND_NONE},
    {OP_NE, "NE", OPERAND_NONE},
    {OP_AND, "AND", OPERAND_NONE},
    {OP_OR, "OR", OPERAND_NONE},
    {OP_JMP, "JMP", OPERAND_ADDRESS},
    {OP_JZ, "JZ", OPERAND_ADDRESS},
    {OP_JNZ, "JNZ", OPERAND_ADDRESS},
    {OP_CALL, "CALL", OPERAND_BUILTIN},
    {OP_MOVE_UP, "MOVE_UP", OPERAND_NONE},
    {OP_MOVE_DOWN, "MOVE_DOWN", OPERAND_NONE},
    {OP_MOVE_LEFT, "MOVE_LEFT", OPERAND_NONE},
    {OP_MOVE_RIGHT, "MOVE_RIGHT", OPERAND_NONE},
    {OP_SHOOT, "SHOOT", OPERAND_NONE},
    {OP_SHIELD, "SHIELD", OPERAND_NONE},
    {OP_WAIT, "WAIT", OPERAND_NONE},
    {OP_REPEAT_START, "REPEAT_START", OPERAND_ADDRESS},
    {OP_REPEAT_END, "REPEAT_END", OPERAND_NONE},
    {OP_HALT, "HALT", OPERAND_NONE},
};
inline constexpr int OPCODE_COUNT = sizeof(OPCODE_TABLE) / sizeof(OPCODE_TABLE[0]);
static_assert(table_is_dense(OPCODE_TABLE) && OPCODE_COUNT == 32);

struct Instruction {
    uint8_t op;    // an Opcode; any other value is an unknown opcode
    int32_t arg;   // variable index, jump target or built-in index
    int16_t line;  // source line; 0 for the closing HALT
    double num;    // PUSH's constant
};

struct CompilerContext;
struct CompileResult;

// The working record of one code generation.
struct CodeGen {
    CompilerContext* ctx;
    CompileResult* result;
    int32_t failed;
};

// "?" for any value outside 0..31.
const char* opcode_name(int32_t op);

// Appends one instruction; its address, or -1 (reported once) when the program is full.
int32_t emit(CodeGen* gen, int32_t op, int32_t arg, double num, int32_t line);

// The operand text of one instruction (empty for opcodes without one).
void operand_text(const CompileResult* result, const Instruction* ins, char (&out)[OPERAND_TEXT_SIZE]);

// The listing of the result's instructions, whole lines only.
void write_listing(const CompileResult* result, char* buffer, std::size_t capacity);

}  // namespace prendax
