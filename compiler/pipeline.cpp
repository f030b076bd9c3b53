// The compile pipeline: lexer, parser, semantic checks and code generator in
// order, stopping at the first phase that fails. The tree text and the
// diagnostics reach the result on every outcome.
#include "compiler/pipeline.h"

#include <cstddef>
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

// A table of a record whose bytes from `used` on are zero: a compilation
// writes its tables from the front (each count, and the terminator of each
// text, marks how far), so what the previous one left beyond that is still
// the zero of the first clear.
struct UsedPart {
    std::size_t offset;  // bytes from the start of the record
    std::size_t size;
    std::size_t used;  // 0..size
};

template <typename Record, typename T, std::size_t N>
UsedPart counted_part(const Record* record, const T (&table)[N], int32_t count) {
    const auto offset =
        static_cast<std::size_t>(reinterpret_cast<const char*>(table) - reinterpret_cast<const char*>(record));
    return UsedPart{offset, sizeof table,
                    sizeof(T) * static_cast<std::size_t>(clamp_count(count, static_cast<int32_t>(N)))};
}

template <typename Record, std::size_t N>
UsedPart text_part(const Record* record, const char (&text)[N]) {
    return counted_part(record, text, static_cast<int32_t>(strnlen(text, N)));
}

// Clears every byte of the record but the zero tails of its parts, which are
// listed in the order of the record's fields. Any field not listed (the
// counts, the root, the token descriptions, padding) is always cleared whole.
template <typename Record, std::size_t N>
void clear_used(Record* record, const UsedPart (&parts)[N]) {
    char* base = reinterpret_cast<char*>(record);
    std::size_t at = 0;
    for (const UsedPart& part : parts) {
        std::memset(base + at, 0, part.offset + part.used - at);
        at = part.offset + part.size;
    }
    std::memset(base + at, 0, sizeof *record - at);
}

// What the previous compilation wrote is cleared; the rest is zero already.
// Every extent is taken before the clear wipes the counts.
void clear_records(CompileResult* result, CompilerContext* ctx) {
    const UsedPart resultParts[] = {
        counted_part(result, result->code, result->codeCount),
        counted_part(result, result->errors, result->errorCount),
        counted_part(result, result->varNames, result->varCount),
        counted_part(result, result->varReadonly, result->varCount),
        text_part(result, result->astText),
        text_part(result, result->disasm),
    };
    const UsedPart contextParts[] = {
        text_part(ctx, ctx->source),
        counted_part(ctx, ctx->tokens, ctx->tokenCount),
        counted_part(ctx, ctx->diags, ctx->diagCount),
        counted_part(ctx, ctx->exprPool, ctx->exprCount),
        counted_part(ctx, ctx->stmtPool, ctx->stmtCount),
        counted_part(ctx, ctx->varNames, ctx->varCount),
        counted_part(ctx, ctx->varReadonly, ctx->varCount),
    };
    clear_used(result, resultParts);
    clear_used(ctx, contextParts);
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

void compile_records_clear(CompileResult* result, CompilerContext* ctx) {
    std::memset(result, 0, sizeof *result);
    std::memset(ctx, 0, sizeof *ctx);
}

int compile_source(const char* source, CompileResult* result, CompilerContext* ctx) {
    clear_records(result, ctx);

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
