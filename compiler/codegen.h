// Code generator: one depth-first walk of the checked tree into the result's
// instruction array, forward jumps patched in place, then the listing.
#pragma once

#include "compiler/bytecode.h"
#include "compiler/context.h"

namespace prendax {

// 1 on success; 0 when the generation failed or added a diagnostic.
int codegen(CompilerContext* ctx, CompileResult* result);
void gen_stmt_list(CodeGen* gen, const StmtNode* first);
void gen_stmt(CodeGen* gen, const StmtNode* s);
void gen_expr(CodeGen* gen, const ExprNode* x);

}  // namespace prendax
