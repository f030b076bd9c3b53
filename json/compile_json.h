// The compile result document: outcome, diagnostics, tokens, tree text,
// listing, instructions and variables.
#pragma once

#include <cstddef>

#include "compiler/context.h"
#include "json/json_out.h"

namespace prendax {

// ctx may be nullptr: the token list is then empty.
void compile_result_to_json(const CompileResult* result, const CompilerContext* ctx, char* buffer,
                            std::size_t capacity);

}  // namespace prendax
