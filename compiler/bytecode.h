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

// What an opcode takes from the stack when its count depends on the operand:
// CALL pops as many values as its built-in takes arguments.
inline constexpr int8_t STACK_ARITY = -1;

struct OpcodeRow {
    Opcode value;
    const char* name;
    OperandKind operand;
    int8_t pops;          // values taken from the stack, or STACK_ARITY
    int8_t pushes;        // values left on it
    const char* meaning;  // "before -> after" on the stack, side effects in parentheses
};

inline constexpr OpcodeRow OPCODE_TABLE[] = {
    {OP_PUSH, "PUSH", OPERAND_NUMBER, 0, 1, "-> num"},
    {OP_LOAD, "LOAD", OPERAND_VARIABLE, 0, 1, "-> vars[arg]"},
    {OP_STORE, "STORE", OPERAND_VARIABLE, 1, 0, "a -> (vars[arg] = a)"},
    {OP_ADD, "ADD", OPERAND_NONE, 2, 1, "a b -> a+b"},
    {OP_SUB, "SUB", OPERAND_NONE, 2, 1, "a b -> a-b"},
    {OP_MUL, "MUL", OPERAND_NONE, 2, 1, "a b -> a*b"},
    {OP_DIV, "DIV", OPERAND_NONE, 2, 1, "a b -> a/b (error when b is 0)"},
    {OP_MOD, "MOD", OPERAND_NONE, 2, 1, "a b -> fmod(a, b) (error when b is 0)"},
    {OP_NEG, "NEG", OPERAND_NONE, 1, 1, "a -> -a"},
    {OP_NOT, "NOT", OPERAND_NONE, 1, 1, "a -> 1 if a is 0, else 0"},
    {OP_LT, "LT", OPERAND_NONE, 2, 1, "a b -> 1 if a<b, else 0"},
    {OP_GT, "GT", OPERAND_NONE, 2, 1, "a b -> 1 if a>b, else 0"},
    {OP_LE, "LE", OPERAND_NONE, 2, 1, "a b -> 1 if a<=b, else 0"},
    {OP_GE, "GE", OPERAND_NONE, 2, 1, "a b -> 1 if a>=b, else 0"},
    {OP_EQ, "EQ", OPERAND_NONE, 2, 1, "a b -> 1 if a==b, else 0"},
    {OP_NE, "NE", OPERAND_NONE, 2, 1, "a b -> 1 if a!=b, else 0"},
    {OP_AND, "AND", OPERAND_NONE, 2, 1, "a b -> 1 if both are non-zero, else 0"},
    {OP_OR, "OR", OPERAND_NONE, 2, 1, "a b -> 1 if either is non-zero, else 0"},
    {OP_JMP, "JMP", OPERAND_ADDRESS, 0, 0, "-> (pc = arg)"},
    {OP_JZ, "JZ", OPERAND_ADDRESS, 1, 0, "a -> (pc = arg when a is 0)"},
    {OP_JNZ, "JNZ", OPERAND_ADDRESS, 1, 0, "a -> (pc = arg when a is non-zero)"},
    {OP_CALL, "CALL", OPERAND_BUILTIN, STACK_ARITY, 1, "[x] -> builtin[arg]([x]) (x only when the built-in takes it)"},
    {OP_MOVE_UP, "MOVE_UP", OPERAND_NONE, 0, 0, "-> (the ship moves up)"},
    {OP_MOVE_DOWN, "MOVE_DOWN", OPERAND_NONE, 0, 0, "-> (the ship moves down)"},
    {OP_MOVE_LEFT, "MOVE_LEFT", OPERAND_NONE, 0, 0, "-> (the ship moves left)"},
    {OP_MOVE_RIGHT, "MOVE_RIGHT", OPERAND_NONE, 0, 0, "-> (the ship moves right)"},
    {OP_SHOOT, "SHOOT", OPERAND_NONE, 0, 0, "-> (the ship fires)"},
    {OP_SHIELD, "SHIELD", OPERAND_NONE, 0, 0, "-> (the ship raises its shield)"},
    {OP_WAIT, "WAIT", OPERAND_NONE, 1, 0, "n -> (waits n ticks, at most 600)"},
    {OP_REPEAT_START, "REPEAT_START", OPERAND_ADDRESS, 1, 0, "n -> (opens a loop of n passes; pc = arg when n <= 0)"},
    {OP_REPEAT_END, "REPEAT_END", OPERAND_NONE, 0, 0, "-> (pc = loop start while passes remain)"},
    {OP_HALT, "HALT", OPERAND_NONE, 0, 0, "-> (stops the program until it restarts)"},
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
