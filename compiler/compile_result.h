// What a compilation hands on: the bytecode and the variable table the VM runs,
// the diagnostics, the tree text and the listing. The front ends, the VM and the
// JSON writers read it; none of them needs the compiler's working record.
#pragma once

#include <cstdint>

#include "compiler/bytecode.h"
#include "compiler/diagnostics.h"
#include "compiler/limits.h"

namespace prendax {

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
