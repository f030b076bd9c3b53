// Syntax tree: the two node pools of the compiler context, the operator
// spellings of the tree text, and the parser's reporter, which keeps only the
// first syntax error of a parse.
#include "compiler/syntax_tree.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "compiler/context.h"
#include "compiler/diagnostics.h"
#include "compiler/parser.h"
#include "compiler/text.h"

namespace prendax {

namespace {

struct OperatorText {
    TokenType op;
    const char* text;
};

// AND, OR and NOT are spelled with their symbols whatever the source used.
constexpr OperatorText OPERATOR_TEXTS[] = {
    {TOK_SUMA, "+"},      {TOK_RESTA, "-"}, {TOK_MULT, "*"},         {TOK_DIV, "/"},          {TOK_MOD, "%"},
    {TOK_MENOR, "<"},     {TOK_MAYOR, ">"}, {TOK_MENOR_IGUAL, "<="}, {TOK_MAYOR_IGUAL, ">="}, {TOK_IGUAL, "=="},
    {TOK_DISTINTO, "!="}, {TOK_AND, "&&"},  {TOK_OR, "||"},          {TOK_NOT, "!"},
};

// A pool is full at MAX_STMTS / MAX_EXPRS nodes; a count outside 0..max is
// treated as full too, so no slot outside the pool is ever handed out.
bool pool_full(int32_t count, int32_t max) { return count < 0 || count >= max; }

}  // namespace

StmtNode* alloc_stmt(Parser* p, StmtKind kind, int32_t line, int32_t col) {
    if (p == nullptr || p->ctx == nullptr) return nullptr;
    CompilerContext* ctx = p->ctx;
    if (pool_full(ctx->stmtCount, MAX_STMTS)) {
        report_syntax_error(p, peek(p), "El programa tiene demasiadas instrucciones (máximo %d)", MAX_STMTS);
        return nullptr;
    }
    StmtNode* s = &ctx->stmtPool[ctx->stmtCount++];
    std::memset(s, 0, sizeof *s);
    s->kind = kind;
    s->line = line;
    s->col = col;
    s->varSlot = -1;
    return s;
}

ExprNode* alloc_expr(Parser* p, ExprKind kind, int32_t line, int32_t col) {
    if (p == nullptr || p->ctx == nullptr) return nullptr;
    CompilerContext* ctx = p->ctx;
    if (pool_full(ctx->exprCount, MAX_EXPRS)) {
        report_syntax_error(p, peek(p), "El programa tiene demasiadas expresiones (máximo %d)", MAX_EXPRS);
        return nullptr;
    }
    ExprNode* e = &ctx->exprPool[ctx->exprCount++];
    std::memset(e, 0, sizeof *e);
    e->kind = kind;
    e->line = line;
    e->col = col;
    e->varSlot = -1;
    e->funcIndex = -1;
    return e;
}

const char* operator_text(int32_t op) {
    for (const OperatorText& row : OPERATOR_TEXTS) {
        if (row.op == op) return row.text;
    }
    return "?";
}

void copy_name(char (&dst)[NAME_SIZE], const char* src) { copy_bounded(dst, src, MAX_NAME_LENGTH); }

void report_syntax_error(Parser* p, const Token* at, const char* format, ...) {
    if (p == nullptr || p->hadError) return;
    char text[MESSAGE_SIZE];
    va_list args;
    va_start(args, format);
    if (std::vsnprintf(text, sizeof text, format, args) < 0) text[0] = '\0';
    va_end(args);
    add_diagnostic(p->ctx, PHASE_SINTACTICO, at != nullptr ? at->line : 0, at != nullptr ? at->col : 0, "%s", text);
    p->hadError = 1;
}

}  // namespace prendax
