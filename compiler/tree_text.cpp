// Tree text: an outline of the syntax tree, one node per line, two spaces of
// indentation per level, written into the caller's bounded buffer. A full
// buffer cuts the text at its size minus one byte; the walk goes on and every
// later piece is dropped.
#include "compiler/tree_text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "vm/runtime_contract.h"

namespace prendax {

namespace {

void indent(TextOut* out, int depth) {
    for (int i = 0; i < depth; i++) text_append(out, "  ");
}

// A name field holds at most 23 bytes; never read past the field.
int name_length(const char (&name)[NAME_SIZE]) { return static_cast<int>(strnlen(name, NAME_SIZE)); }

void dump_stmt(TextOut* out, const StmtNode* s, int depth) {
    const char* word = table_name(STMT_KIND_TABLE, s->kind, "?");
    switch (s->kind) {
        case STMT_BLOQUE:
            text_appendf(out, "%s\n", word);
            dump_stmts(out, s->body, depth + 1);
            return;
        case STMT_START:
        case STMT_END:
        case STMT_SHOOT:
        case STMT_SHIELD: text_appendf(out, "%s\n", word); return;
        case STMT_SET:
            text_appendf(out, "%s %.*s\n", word, name_length(s->name), s->name);
            dump_expr(out, s->expr, depth + 1);
            return;
        case STMT_MOVE: text_appendf(out, "%s %s\n", word, table_name(DIRECTION_TABLE, s->dir, "?")); return;
        case STMT_WAIT:
            text_appendf(out, "%s\n", word);
            dump_expr(out, s->expr, depth + 1);
            return;
        case STMT_REPEAT:
        case STMT_WHILE:
            text_appendf(out, "%s\n", word);
            dump_expr(out, s->expr, depth + 1);
            dump_stmts(out, s->body, depth + 1);
            return;
        case STMT_IF:
            text_appendf(out, "%s\n", word);
            dump_expr(out, s->expr, depth + 1);
            dump_stmts(out, s->body, depth + 1);
            if (s->elseBody != nullptr) {
                // ELSE stands at the depth of its IF.
                indent(out, depth);
                text_appendf(out, "%s\n", TOKEN_TYPE_TABLE[TOK_ELSE].name);
                dump_stmts(out, s->elseBody, depth + 1);
            }
            return;
    }
    text_append(out, "?\n");
}

}  // namespace

void text_append(TextOut* out, const char* text) {
    if (out == nullptr || out->buf == nullptr || text == nullptr) return;
    if (out->len + 1 >= out->cap) return;
    uint64_t room = out->cap - out->len - 1;
    uint64_t n = std::strlen(text);
    if (n >= room) n = room;
    std::memcpy(out->buf + out->len, text, n);
    out->len += n;
    out->buf[out->len] = '\0';
}

void text_appendf(TextOut* out, const char* format, ...) {
    char scratch[TEXT_SCRATCH_SIZE];
    va_list args;
    va_start(args, format);
    if (std::vsnprintf(scratch, sizeof scratch, format, args) < 0) scratch[0] = '\0';
    va_end(args);
    text_append(out, scratch);
}

void dump_tree(const CompilerContext* ctx, char* buf, std::size_t cap) {
    if (buf == nullptr || cap == 0) return;
    buf[0] = '\0';
    TextOut out{buf, cap, 0};
    // "Programa" stands for the root block, which has no line of its own.
    text_append(&out, "Programa\n");
    if (ctx != nullptr && ctx->root != nullptr) dump_stmts(&out, ctx->root->body, 1);
}

void dump_stmts(TextOut* out, const StmtNode* first, int depth) {
    for (const StmtNode* s = first; s != nullptr; s = s->next) {
        indent(out, depth);
        dump_stmt(out, s, depth);
    }
}

void dump_expr(TextOut* out, const ExprNode* node, int depth) {
    if (node == nullptr) return;
    indent(out, depth);
    const char* word = table_name(EXPR_KIND_TABLE, node->kind, "?");
    switch (node->kind) {
        case EXPR_NUM: text_appendf(out, "%s %g\n", word, node->value); return;
        case EXPR_BOOL:
            // A NaN is not 0.0, so it reads as true.
            text_appendf(out, "%s %s\n", word, node->value != 0.0 ? "true" : "false");
            return;
        case EXPR_VAR: text_appendf(out, "%s %.*s\n", word, name_length(node->name), node->name); return;
        case EXPR_CALL:
            text_appendf(out, "%s %.*s (%d arg%s)\n", word, name_length(node->name), node->name, node->argCount,
                         node->argCount == 1 ? "" : "s");
            // Only the first argument is linked into the tree.
            dump_expr(out, node->left, depth + 1);
            return;
        case EXPR_UNARIO:
            text_appendf(out, "%s %s\n", word, operator_text(node->op));
            dump_expr(out, node->left, depth + 1);
            return;
        case EXPR_BINARIO:
            text_appendf(out, "%s %s\n", word, operator_text(node->op));
            dump_expr(out, node->left, depth + 1);
            dump_expr(out, node->right, depth + 1);
            return;
    }
    text_append(out, "?\n");
}

}  // namespace prendax
