// Bytecode: opcode names, the emitter that keeps a program within 2048
// instructions, and the listing text of a compiled program.
#include "compiler/bytecode.h"

#include <cstdio>
#include <cstring>

#include "compiler/context.h"
#include "compiler/sema.h"

namespace prendax {

const char* opcode_name(int32_t op) { return table_name(OPCODE_TABLE, op, "?"); }

int32_t emit(CodeGen* gen, int32_t op, int32_t arg, double num, int32_t line) {
    if (gen == nullptr || gen->result == nullptr) return -1;
    CompileResult* result = gen->result;
    const int32_t n = result->codeCount;
    if (n < 0 || n >= MAX_CODE) {
        // Only the first request beyond the limit is reported; the rest fail quietly.
        if (!gen->failed) {
            add_diagnostic(gen->ctx, PHASE_CODIGO, line, 0, "El programa genera demasiadas instrucciones (máximo %d)",
                           MAX_CODE);
        }
        gen->failed = 1;
        return -1;
    }
    Instruction& ins = result->code[n];
    ins.op = static_cast<uint8_t>(op);  // kept to 8 bits
    ins.arg = arg;
    ins.line = static_cast<int16_t>(line);  // kept to 16 bits
    ins.num = num;
    result->codeCount = n + 1;
    return n;
}

static OperandKind operand_kind(int32_t op) {
    if (op < 0 || op >= OPCODE_COUNT) return OPERAND_NONE;
    return OPCODE_TABLE[op].operand;
}

void operand_text(const CompileResult* result, const Instruction* ins, char (&out)[OPERAND_TEXT_SIZE]) {
    out[0] = '\0';
    if (ins == nullptr) return;
    switch (operand_kind(ins->op)) {
        case OPERAND_NONE: return;
        case OPERAND_NUMBER: std::snprintf(out, sizeof out, "%g", ins->num); return;
        case OPERAND_VARIABLE: {
            // An index outside the variable table is shown as a number.
            const int32_t count = result == nullptr ? 0 : result->varCount;
            if (ins->arg >= 0 && ins->arg < count && ins->arg < MAX_VARS) {
                std::snprintf(out, sizeof out, "%.*s", MAX_NAME_LENGTH, result->varNames[ins->arg]);
            } else {
                std::snprintf(out, sizeof out, "#%d", ins->arg);
            }
            return;
        }
        case OPERAND_ADDRESS: std::snprintf(out, sizeof out, "%04d", ins->arg); return;
        case OPERAND_BUILTIN: std::snprintf(out, sizeof out, "%s", builtin_name(ins->arg)); return;
    }
}

void write_listing(const CompileResult* result, char* buffer, std::size_t capacity) {
    if (buffer == nullptr || capacity == 0) return;
    buffer[0] = '\0';
    if (result == nullptr || result->codeCount <= 0) return;
    const int32_t count = result->codeCount < MAX_CODE ? result->codeCount : MAX_CODE;
    std::size_t used = 0;
    for (int32_t i = 0; i < count; i++) {
        const Instruction& ins = result->code[i];
        char operand[OPERAND_TEXT_SIZE];
        operand_text(result, &ins, operand);
        char line[LISTING_LINE_SIZE];
        if (operand[0] != '\0') {
            std::snprintf(line, sizeof line, "%04d  %-14s %s\n", i, opcode_name(ins.op), operand);
        } else {
            std::snprintf(line, sizeof line, "%04d  %s\n", i, opcode_name(ins.op));
        }
        const std::size_t length = std::strlen(line);
        // Whole lines only: a line that does not fit ends the listing.
        if (used + length + 1 >= capacity) return;
        std::memcpy(buffer + used, line, length + 1);
        used += length;
    }
}

}  // namespace prendax
