// The compile result document: outcome, diagnostics, the token list of the
// latest lexing, the syntax tree text, the listing, the instructions one by one
// and the variable table, written as one line of JSON for successful and failed
// compilations alike.
#include "json/compile_json.h"

#include <cstdint>

#include "compiler/bytecode.h"
#include "compiler/diagnostics.h"
#include "compiler/lexer.h"
#include "compiler/limits.h"
#include "json/diagnostic_json.h"

namespace prendax {

namespace {

void write_errors(JsonOut* out, const CompileResult* result) {
    int32_t count = clamp_count(result->errorCount, MAX_DIAGNOSTICS);
    for (int32_t i = 0; i < count; i++) {
        const Diagnostic& diag = result->errors[i];
        if (i != 0) json_append(out, ",");
        json_diagnostic(out, diag);
    }
}

// The tokens of the latest lexing, the EOF token included; only NUMERO tokens
// carry "num".
void write_tokens(JsonOut* out, const CompilerContext* ctx) {
    if (ctx == nullptr) return;
    int32_t count = clamp_count(ctx->tokenCount, MAX_TOKENS);
    for (int32_t i = 0; i < count; i++) {
        const Token& token = ctx->tokens[i];
        if (i != 0) json_append(out, ",");
        json_append(out, "{\"type\":");
        json_string(out, token_type_name(token.type));
        json_append(out, ",\"lexeme\":");
        json_string_bounded(out, token.lexeme, sizeof token.lexeme);
        json_appendf(out, ",\"line\":%d,\"col\":%d", token.line, token.col);
        if (token.type == TOK_NUMERO) {
            json_append(out, ",\"num\":");
            json_number(out, token.num);
        }
        json_append(out, "}");
    }
}

void write_code(JsonOut* out, const CompileResult* result) {
    int32_t count = clamp_count(result->codeCount, MAX_CODE);
    for (int32_t i = 0; i < count; i++) {
        const Instruction& ins = result->code[i];
        if (i != 0) json_append(out, ",");
        char operand[OPERAND_TEXT_SIZE];
        operand_text(result, &ins, operand);
        json_appendf(out, "{\"addr\":%d,\"op\":", i);
        json_string(out, opcode_name(ins.op));
        json_appendf(out, ",\"arg\":%d,\"num\":", ins.arg);
        json_number(out, ins.num);
        json_appendf(out, ",\"line\":%d,\"operand\":", static_cast<int>(ins.line));
        json_string_bounded(out, operand, sizeof operand);
        json_append(out, "}");
    }
}

void write_vars(JsonOut* out, const CompileResult* result) {
    int32_t count = clamp_count(result->varCount, MAX_VARS);
    for (int32_t i = 0; i < count; i++) {
        if (i != 0) json_append(out, ",");
        json_append(out, "{\"name\":");
        json_string_bounded(out, result->varNames[i], sizeof result->varNames[i]);
        json_appendf(out, ",\"readonly\":%d}", result->varReadonly[i] != 0 ? 1 : 0);
    }
}

}  // namespace

void compile_result_to_json(const CompileResult* result, const CompilerContext* ctx, char* buffer,
                            std::size_t capacity) {
    JsonOut out = json_open(buffer, capacity);
    // Without a result there is nothing to describe: the text stays empty.
    if (result == nullptr) return;
    json_append(&out, "{");
    json_appendf(&out, "\"ok\":%d,", result->ok != 0 ? 1 : 0);
    json_appendf(&out, "\"phase\":%d,\"phaseName\":", static_cast<int>(result->phase));
    json_string(&out, phase_name(result->phase));
    json_append(&out, ",\"errors\":[");
    write_errors(&out, result);
    // The tokens come from the context, everything else from the result.
    json_append(&out, "],\"tokens\":[");
    write_tokens(&out, ctx);
    json_append(&out, "],\"astText\":");
    json_string_bounded(&out, result->astText, sizeof result->astText);
    json_append(&out, ",\"disasm\":");
    json_string_bounded(&out, result->disasm, sizeof result->disasm);
    json_append(&out, ",\"code\":[");
    write_code(&out, result);
    json_append(&out, "],\"vars\":[");
    write_vars(&out, result);
    json_append(&out, "]}");
}

}  // namespace prendax
