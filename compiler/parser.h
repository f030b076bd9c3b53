// Parser: recursive descent over the token array into the node pools. Only the
// first syntax error of a parse is reported; the root is stored even then.
#pragma once

#include "compiler/context.h"
#include "compiler/syntax_tree.h"

namespace prendax {

// Token access shared by the expression and statement parsers.
const Token* peek(Parser* p);
void advance(Parser* p);
const Token* expect(Parser* p, TokenType type, const char* what);
// The text naming a token in messages, written into the context's two
// description buffers in turn: the two latest descriptions stay valid.
const char* describe_token(CompilerContext* ctx, const Token* t);

ExprNode* parse_expression(Parser* p);
StmtNode* parse_statement(Parser* p);
StmtNode* parse_block(Parser* p);
// Builds the tree and stores its root in ctx->root, also after an error.
StmtNode* parse_program(CompilerContext* ctx);

}  // namespace prendax
