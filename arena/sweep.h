// A sweep: every program compiled once, then every (program, level, seed) match
// played on the workers, written to the CSV and folded into the summary.
#pragma once

#include <cstdio>
#include <memory>
#include <vector>

#include "arena/options.h"
#include "cli/cli.h"
#include "compiler/context.h"

namespace prendax {

// A program read and compiled once, in a heap block of its own.
struct CompiledProgram {
    const char* path;
    std::unique_ptr<CompileResult> result;
    bool compiled;
};

// Compiles source into program.result, printing the diagnostics on failure
// when asked. Compilation shares static buffers: call it from one thread only.
void compile_program(const char* source, CompiledProgram& program, CompilerContext& context, bool printDiagnostics);

// Runs the sweep the options describe; returns the process exit status.
int run_sweep(const ArenaOptions& options);

}  // namespace prendax
