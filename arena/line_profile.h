// The per-line profile of a sweep: the VM's per-instruction counts of every
// match of a program, summed and gathered by source line, as a table after the
// summary, as JSON, and as collapsed stacks for flame-graph viewers (one frame
// per enclosing WHILE, REPEAT or IF line, then the line itself).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "compiler/context.h"
#include "json/json_out.h"
#include "vm/profile.h"

namespace prendax {

// What a program's profile needs besides its counts: its source lines and,
// per line, the lines of the blocks that enclose it (outermost first).
struct ProgramLines {
    std::vector<std::string> text;                // text[l - 1] is line l, without its end of line
    std::vector<std::vector<int32_t>> enclosing;  // enclosing[l - 1]: WHILE/REPEAT/IF lines around line l
};

struct LineRow {
    int32_t line;
    int64_t executed;
    int64_t budgetStops;
    int64_t waitTicks;
};

// Reads the lines of the source and the blocks from the tokens of its compilation.
ProgramLines program_lines(const char* source, const CompilerContext& context);

// One row per line that holds code, in line order, from the summed counts.
std::vector<LineRow> line_rows(const VmProfile& profile, const CompileResult& result);

// The table of one program on standard output.
void print_line_profile(const char* path, const ProgramLines& lines, const std::vector<LineRow>& rows);

// {"program":...,"lines":[{"line":..,"text":..,"executed":..,"share":..,"budgetStops":..,"waitTicks":..}]}
void json_line_profile(JsonOut* out, const char* path, const ProgramLines& lines, const std::vector<LineRow>& rows);

// "program;línea 3: WHILE ...;línea 5: SHOOT N" lines, one per line with
// executions (the count is the executed instructions).
void write_collapsed(std::FILE* file, const char* path, const ProgramLines& lines, const std::vector<LineRow>& rows);

}  // namespace prendax
