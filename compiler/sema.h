// Semantic checks: build the variable table, resolve names and built-ins, and
// report every rule the program breaks.
#pragma once

#include "compiler/context.h"
#include "vm/runtime_contract.h"

namespace prendax {

// 1 when the root exists, every check passed and no diagnostic was added.
int sema_check(CompilerContext* ctx);
int check_stmt_list(CompilerContext* ctx, StmtNode* first);
int check_expr(CompilerContext* ctx, ExprNode* node);

// Index of the closest candidate within two edits, earliest on ties; -1 if none.
int closest_name(const char* name, const char* const* candidates, int count);

// "?" for any index outside 0..3.
const char* builtin_name(int32_t index);

}  // namespace prendax
