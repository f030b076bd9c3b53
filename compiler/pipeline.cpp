// The compile pipeline: lexer, parser, semantic checks and code generator in
// order, stopping at the first phase that fails. The tree text and the
// diagnostics reach the result on every outcome.
#include "compiler/pipeline.h"

#include <cstring>

#include "compiler/codegen.h"
#include "compiler/lexer.h"
#include "compiler/parser.h"
#include "compiler/sema.h"
#include "compiler/tree_text.h"

namespace prendax {

namespace {

constexpr const char* MSG_SOURCE_TOO_LONG = "El programa supera el tamaño máximo de %d bytes";

void copy_diagnostics(CompileResult* result, const CompilerContext* ctx) {
    int32_t n = ctx->diagCount;
    if (n < 0) n = 0;
    if (n > MAX_DIAGNOSTICS) n = MAX_DIAGNOSTICS;
    result->errorCount = n;
    std::memcpy(result->errors, ctx->diags, sizeof(Diagnostic) * static_cast<std::size_t>(n));
}

int fail(CompileResult* result, const CompilerContext* ctx, Phase phase) {
    result->ok = 0;
    result->phase = phase;
    copy_diagnostics(result, ctx);
    dump_tree(ctx, result->astText, sizeof result->astText);
    result->disasm[0] = '\0';
    return 0;
}

}  // namespace

int compile_source(const char* source, CompileResult* result, CompilerContext* ctx) {
    std::memset(result, 0, sizeof *result);
    std::memset(ctx, 0, sizeof *ctx);

    if (source == nullptr) source = "";
    std::size_t n = std::strlen(source);
    if (n > static_cast<std::size_t>(MAX_SOURCE_BYTES)) {
        add_diagnostic(ctx, PHASE_LEXICO, 1, 1, MSG_SOURCE_TOO_LONG, MAX_SOURCE_BYTES);
        n = MAX_SOURCE_BYTES;
    }
    std::memcpy(ctx->source, source, n);
    ctx->source[n] = '\0';

    lex_source(ctx, ctx->source);
    if (ctx->diagCount != 0) return fail(result, ctx, PHASE_LEXICO);

    parse_program(ctx);
    if (ctx->diagCount != 0 || ctx->root == nullptr) return fail(result, ctx, PHASE_SINTACTICO);

    if (!sema_check(ctx)) return fail(result, ctx, PHASE_SEMANTICO);

    int generated = codegen(ctx, result);
    copy_diagnostics(result, ctx);
    dump_tree(ctx, result->astText, sizeof result->astText);
    if (!generated || ctx->diagCount != 0) {
        result->ok = 0;
        result->phase = PHASE_CODIGO;
        return 0;
    }
    result->ok = 1;
    result->phase = PHASE_NINGUNA;
    return 1;
}

}  // namespace prendax
