// Tree text: an indented outline of the syntax tree, one node per line, written
// into a bounded buffer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "compiler/context.h"

namespace prendax {

struct TextOut {
    char* buf;
    uint64_t cap;
    uint64_t len;  // never above cap - 1; buf[len] is always 0
};

void text_append(TextOut* out, const char* text);
void text_appendf(TextOut* out, const char* format, ...) __attribute__((format(printf, 2, 3)));

void dump_tree(const CompilerContext* ctx, char* buf, std::size_t cap);
void dump_stmts(TextOut* out, const StmtNode* first, int depth);
void dump_expr(TextOut* out, const ExprNode* node, int depth);

}  // namespace prendax
