// The compiler's working record, shared by every phase: the tokens, the syntax
// tree, the diagnostics and the variable table of one compilation.
#pragma once

#include <cstdint>

#include "compiler/bytecode.h"
#include "compiler/compile_result.h"
#include "compiler/diagnostics.h"
#include "compiler/lexer.h"
#include "compiler/limits.h"
#include "compiler/syntax_tree.h"

namespace prendax {

struct CompilerContext {
    char source[MAX_SOURCE_BYTES + 1];  // the copy of the source the lexer reads
    Token tokens[MAX_TOKENS];
    int32_t tokenCount;
    int32_t tokenOverflow;
    Diagnostic diags[MAX_DIAGNOSTICS];
    int32_t diagCount;
    ExprNode exprPool[MAX_EXPRS];
    int32_t exprCount;
    StmtNode stmtPool[MAX_STMTS];
    int32_t stmtCount;
    StmtNode* root;
    char varNames[MAX_VARS][NAME_SIZE];
    int32_t varCount;
    int32_t varReadonly[MAX_VARS];
    char tokenDescriptions[2][DESCRIBE_SIZE];  // a message may name two tokens at once
    int32_t nextDescription;                   // 0 or 1: the buffer the next description takes
};

}  // namespace prendax
