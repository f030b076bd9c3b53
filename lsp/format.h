// The canonical layout of a ZKV program: one statement per line, two spaces of
// indentation per block, one space around binary operators and none inside
// parentheses or after a prefix operator. Comments stay where they were, at
// the end of a statement's line or on a line of their own, and a run of blank
// lines becomes one. Only whitespace changes: the laid-out text has the same
// tokens, so it compiles to the same instructions.
#pragma once

#include <string>

#include "lsp/analysis.h"

namespace prendax::lsp {

// 1 with the laid-out text in `out`; 0 with the reason in `why` when the text
// does not lex and parse, or is beyond what the compiler reads. `scratch`
// receives the compile of the laid-out text, which is checked against `a`.
int format_document(const Analysis& a, Analysis& scratch, std::string& out, std::string& why);

}  // namespace prendax::lsp
