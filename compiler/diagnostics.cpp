// Diagnostics: the bounded list every compiler phase reports through.
#include "compiler/diagnostics.h"

#include <cstdarg>
#include <cstdio>

#include "compiler/context.h"

namespace prendax {

const char* phase_name(int32_t phase) { return table_name(PHASE_TABLE, phase, PHASE_TABLE[PHASE_NINGUNA].name); }

void add_diagnostic(CompilerContext* ctx, Phase phase, int32_t line, int32_t col, const char* format, ...) {
    if (ctx == nullptr) return;
    // The first 32 diagnostics of a compilation survive; later ones vanish.
    if (ctx->diagCount < 0 || ctx->diagCount >= MAX_DIAGNOSTICS) return;
    Diagnostic& d = ctx->diags[ctx->diagCount++];
    d.phase = phase;
    d.line = line;
    d.col = col;
    va_list args;
    va_start(args, format);
    std::vsnprintf(d.message, sizeof d.message, format, args);
    va_end(args);
}

}  // namespace prendax
