// The compiler's two records: the working context shared by every phase, and
// the compile result that the driver, the VM and the JSON writers consume.
#pragma once

#include <cstdint>

#include "compiler/bytecode.h"
#include "compiler/diagnostics.h"
#include "compiler/lexer.h"
#include "compiler/limits.h"
#include "compiler/syntax_tree.h"

namespace prendax {

struct CompilerContext {
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
};

struct CompileResult {
    int32_t ok;
    Phase phase;
    Instruction code[MAX_CODE];
    int32_t codeCount;
    Diagnostic errors[MAX_DIAGNOSTICS];
    int32_t errorCount;
    char varNames[MAX_VARS][NAME_SIZE];
    int32_t varCount;
    int32_t varReadonly[MAX_VARS];
    char astText[AST_TEXT_CAPACITY];
    char disasm[LISTING_CAPACITY];
};

}  // namespace prendax
