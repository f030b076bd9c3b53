// The compiler's single entry: runs lexer, parser, semantic checks and code
// generator in order, stopping at the first phase that fails.
#pragma once

#include "compiler/context.h"

namespace prendax {

// 1 on success, 0 on failure. Both records end exactly as if every byte of
// them had been cleared before the compilation, while only the part the
// previous compilation used is cleared. That needs records whose bytes are
// all zero before their first compilation (static storage, `{}`,
// `std::make_unique<T>()`, or compile_records_clear) and that nothing but
// compile_source writes afterwards. Counts read from any other record are held
// to the tables' capacities, so even then nothing outside the records is touched.
int compile_source(const char* source, CompileResult* result, CompilerContext* ctx);

// Clears every byte of both records: for records in memory of unknown content
// (an uninitialised local, `new T` without `()`, a record written by hand).
void compile_records_clear(CompileResult* result, CompilerContext* ctx);

}  // namespace prendax
