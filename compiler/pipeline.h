// The compiler's single entry: runs lexer, parser, semantic checks and code
// generator in order, stopping at the first phase that fails.
#pragma once

#include "compiler/context.h"

namespace prendax {

// 1 on success, 0 on failure; both records are overwritten completely.
int compile_source(const char* source, CompileResult* result, CompilerContext* ctx);

}  // namespace prendax
