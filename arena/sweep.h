// A sweep: every program compiled once, then every (program, level, seed) match
// played on the workers, written to the CSV and folded into the summary.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "arena/options.h"
#include "compiler/context.h"
#include "frontend/frontend.h"

namespace prendax {

// A program read and compiled once, in a heap block of its own.
struct CompiledProgram {
    const char* path;
    std::unique_ptr<CompileResult> result;
    bool compiled;
};

// Reads every program's source before anything is compiled or played, so a
// missing file stops the run before any output; false (reported) when one
// cannot be read, with nothing left to free. The caller frees the sources.
bool read_sources(const std::vector<const char*>& paths, std::vector<char*>& sources);

// Compiles source into program.result, printing the diagnostics on failure
// when asked. All of the compilation's state is in `context`.
void compile_program(const char* source, CompiledProgram& program, CompilerContext& context, bool printDiagnostics);

// Runs the sweep the options describe; returns the process exit status.
int run_sweep(const ArenaOptions& options);

}  // namespace prendax
