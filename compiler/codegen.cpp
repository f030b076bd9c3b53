// Code generator: one depth-first walk of the checked tree into the result's
// instructions. Forward jumps are emitted with target 0 and patched in place
// once their target is known; every address is final when emitted. The
// generator copies the variable table, closes the program with HALT and
// writes the listing.
#include "compiler/codegen.h"

#include "compiler/diagnostics.h"
#include "compiler/lexer.h"
#include "compiler/syntax_tree.h"
#include "vm/runtime_contract.h"

namespace prendax {

// Only the first problem of a generation is reported; it stops the walk.
static void fail(CodeGen* gen, int32_t line, int32_t col, const char* message) {
    if (!gen->failed) add_diagnostic(gen->ctx, PHASE_CODIGO, line, col, "%s", message);
    gen->failed = 1;
}

// Points the jump at `address` (the next free one); a refused emit (-1) is skipped.
static void patch_jump(CodeGen* gen, int32_t address) {
    CompileResult* result = gen->result;
    if (address >= 0 && address < result->codeCount) result->code[address].arg = result->codeCount;
}

// The opcode of a binary operator; -1 for an operator without one.
static int32_t binary_opcode(int32_t op) {
    switch (op) {
        case TOK_SUMA: return OP_ADD;
        case TOK_RESTA: return OP_SUB;
        case TOK_MULT: return OP_MUL;
        case TOK_DIV: return OP_DIV;
        case TOK_MOD: return OP_MOD;
        case TOK_MENOR: return OP_LT;
        case TOK_MAYOR: return OP_GT;
        case TOK_MENOR_IGUAL: return OP_LE;
        case TOK_MAYOR_IGUAL: return OP_GE;
        case TOK_IGUAL: return OP_EQ;
        case TOK_DISTINTO: return OP_NE;
        case TOK_AND: return OP_AND;
        case TOK_OR: return OP_OR;
        default: return -1;
    }
}

static int32_t move_opcode(int32_t dir) {
    switch (dir) {
        case DIR_UP: return OP_MOVE_UP;
        case DIR_DOWN: return OP_MOVE_DOWN;
        case DIR_LEFT: return OP_MOVE_LEFT;
        default: return OP_MOVE_RIGHT;
    }
}

// An operand is translated only while the generation has not failed.
static void gen_operand(CodeGen* gen, const ExprNode* x) {
    if (x != nullptr && !gen->failed) gen_expr(gen, x);
}

void gen_expr(CodeGen* gen, const ExprNode* x) {
    if (gen == nullptr || x == nullptr || gen->failed) return;
    switch (x->kind) {
        case EXPR_NUM: emit(gen, OP_PUSH, 0, x->value, x->line); return;
        case EXPR_BOOL: emit(gen, OP_PUSH, 0, x->value != 0.0 ? 1.0 : 0.0, x->line); return;
        case EXPR_VAR: emit(gen, OP_LOAD, x->varSlot, 0.0, x->line); return;
        case EXPR_CALL:
            gen_operand(gen, x->left);
            emit(gen, OP_CALL, x->funcIndex, 0.0, x->line);
            return;
        case EXPR_UNARIO:
            gen_operand(gen, x->left);
            emit(gen, x->op == TOK_NOT ? OP_NOT : OP_NEG, 0, 0.0, x->line);
            return;
        case EXPR_BINARIO: {
            // Both operands are always evaluated: AND and OR do not short-circuit.
            gen_operand(gen, x->left);
            gen_operand(gen, x->right);
            const int32_t op = binary_opcode(x->op);
            if (op < 0) {
                fail(gen, x->line, x->col, "Operador no soportado en bytecode");
                return;
            }
            emit(gen, op, 0, 0.0, x->line);
            return;
        }
    }
    fail(gen, x->line, x->col, "Expresión no válida en bytecode");
}

// repeat: count; REPEAT_START past the loop; body; REPEAT_END
static void gen_repeat(CodeGen* gen, const StmtNode* s) {
    gen_operand(gen, s->expr);
    const int32_t start = emit(gen, OP_REPEAT_START, 0, 0.0, s->line);
    gen_stmt_list(gen, s->body);
    emit(gen, OP_REPEAT_END, 0, 0.0, s->line);
    patch_jump(gen, start);
}

// while: top: condition; JZ past the loop; body; JMP top
static void gen_while(CodeGen* gen, const StmtNode* s) {
    const int32_t top = gen->result->codeCount;
    gen_operand(gen, s->expr);
    const int32_t leave = emit(gen, OP_JZ, 0, 0.0, s->line);
    gen_stmt_list(gen, s->body);
    emit(gen, OP_JMP, top, 0.0, s->line);
    patch_jump(gen, leave);
}

// if: condition; JZ to the else code (or past the body); body; [JMP past the else code; else code]
static void gen_if(CodeGen* gen, const StmtNode* s) {
    gen_operand(gen, s->expr);
    const int32_t skipBody = emit(gen, OP_JZ, 0, 0.0, s->line);
    gen_stmt_list(gen, s->body);
    if (s->elseBody == nullptr) {
        patch_jump(gen, skipBody);
        return;
    }
    const int32_t skipElse = emit(gen, OP_JMP, 0, 0.0, s->line);
    patch_jump(gen, skipBody);
    gen_stmt_list(gen, s->elseBody);
    patch_jump(gen, skipElse);
}

void gen_stmt(CodeGen* gen, const StmtNode* s) {
    if (gen == nullptr || s == nullptr || gen->failed) return;
    switch (s->kind) {
        case STMT_BLOQUE: gen_stmt_list(gen, s->body); return;
        case STMT_START: return;
        case STMT_END: emit(gen, OP_HALT, 0, 0.0, s->line); return;
        case STMT_SET:
            gen_operand(gen, s->expr);
            emit(gen, OP_STORE, s->varSlot, 0.0, s->line);
            return;
        case STMT_MOVE: emit(gen, move_opcode(s->dir), 0, 0.0, s->line); return;
        case STMT_SHOOT: emit(gen, OP_SHOOT, 0, 0.0, s->line); return;
        case STMT_SHIELD: emit(gen, OP_SHIELD, 0, 0.0, s->line); return;
        case STMT_WAIT:
            gen_operand(gen, s->expr);
            emit(gen, OP_WAIT, 0, 0.0, s->line);
            return;
        case STMT_REPEAT: gen_repeat(gen, s); return;
        case STMT_WHILE: gen_while(gen, s); return;
        case STMT_IF: gen_if(gen, s); return;
    }
    fail(gen, s->line, s->col, "Instrucción no válida en bytecode");
}

void gen_stmt_list(CodeGen* gen, const StmtNode* first) {
    if (gen == nullptr) return;
    for (const StmtNode* s = first; s != nullptr; s = s->next) {
        if (gen->failed) return;
        gen_stmt(gen, s);
        // Statements after an END in the same list are never reached.
        if (s->kind == STMT_END) return;
    }
}

// 1 when a jump or REPEAT_START of the program targets `address`.
static int has_jump_to(const CompileResult* result, int32_t address) {
    for (int32_t i = 0; i < result->codeCount; i++) {
        const Instruction& ins = result->code[i];
        const bool jumps = ins.op == OP_JMP || ins.op == OP_JZ || ins.op == OP_JNZ || ins.op == OP_REPEAT_START;
        if (jumps && ins.arg == address) return 1;
    }
    return 0;
}

// The program ends with HALT. A HALT already in last place is enough unless a
// jump leads past it (an IF whose last branch ends with END), in which case the
// closing HALT gives that jump an instruction to land on.
static int needs_closing_halt(const CompileResult* result) {
    const int32_t n = result->codeCount;
    if (n <= 0) return 1;
    if (n > MAX_CODE) return 0;
    if (result->code[n - 1].op != OP_HALT) return 1;
    return has_jump_to(result, n);
}

int codegen(CompilerContext* ctx, CompileResult* result) {
    if (ctx == nullptr || result == nullptr) return 0;
    const int32_t diagsBefore = ctx->diagCount;
    int32_t varCount = ctx->varCount;
    if (varCount < 0) varCount = 0;
    if (varCount > MAX_VARS) varCount = MAX_VARS;
    result->varCount = varCount;
    result->codeCount = 0;
    for (int32_t i = 0; i < varCount; i++) {
        copy_name(result->varNames[i], ctx->varNames[i]);
        result->varReadonly[i] = ctx->varReadonly[i];
    }
    CodeGen gen{ctx, result, 0};
    if (ctx->root != nullptr) gen_stmt_list(&gen, ctx->root->body);
    // Also after a failure; a full program then refuses it.
    if (needs_closing_halt(result)) emit(&gen, OP_HALT, 0, 0.0, 0);
    write_listing(result, result->disasm, LISTING_CAPACITY);
    return !gen.failed && ctx->diagCount == diagsBefore ? 1 : 0;
}

}  // namespace prendax
