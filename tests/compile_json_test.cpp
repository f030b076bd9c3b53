// The compile result document, from hand-filled records and from real
// compilations: keys and order, token objects, instruction objects, escaping,
// damaged counts and the cut of a document that does not fit.
#include "json/compile_json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "compiler/pipeline.h"
#include "compiler/sema.h"

namespace prendax {
namespace {

struct Records {
    std::unique_ptr<CompileResult> result = std::make_unique<CompileResult>();
    std::unique_ptr<CompilerContext> ctx = std::make_unique<CompilerContext>();
};

void add_token_by_hand(CompilerContext* ctx, TokenType type, const char* lexeme, double num, int line, int col) {
    Token& t = ctx->tokens[ctx->tokenCount++];
    t.type = type;
    t.line = line;
    t.col = col;
    t.num = num;
    std::snprintf(t.lexeme, sizeof t.lexeme, "%s", lexeme);
}

void add_code(CompileResult* result, Opcode op, int32_t arg, double num, int16_t line) {
    result->code[result->codeCount++] = Instruction{op, arg, line, num};
}

void add_var(CompileResult* result, const char* name, int readonly) {
    std::snprintf(result->varNames[result->varCount], sizeof result->varNames[0], "%s", name);
    result->varReadonly[result->varCount++] = readonly;
}

// What compiling an empty source leaves in the two records.
void fill_empty_program(Records& r) {
    r.result->ok = 1;
    add_token_by_hand(r.ctx.get(), TOK_EOF, "", 0, 1, 1);
    std::snprintf(r.result->astText, sizeof r.result->astText, "Programa\n");
    std::snprintf(r.result->disasm, sizeof r.result->disasm, "0000  HALT\n");
    add_code(r.result.get(), OP_HALT, 0, 0, 0);
    for (const ReservedRow& reserved : RESERVED_TABLE) add_var(r.result.get(), reserved.name, 1);
}

std::string document(const CompileResult* result, const CompilerContext* ctx) {
    std::vector<char> buf(524288);
    compile_result_to_json(result, ctx, buf.data(), buf.size());
    return std::string(buf.data());
}

const char* const EMPTY_PROGRAM =
    "{\"ok\":1,\"phase\":0,\"phaseName\":\"ninguna\",\"errors\":[],"
    "\"tokens\":[{\"type\":\"EOF\",\"lexeme\":\"\",\"line\":1,\"col\":1}],"
    "\"astText\":\"Programa\\n\",\"disasm\":\"0000  HALT\\n\","
    "\"code\":[{\"addr\":0,\"op\":\"HALT\",\"arg\":0,\"num\":0,\"line\":0,\"operand\":\"\"}],"
    "\"vars\":[{\"name\":\"health\",\"readonly\":1},{\"name\":\"score\",\"readonly\":1},"
    "{\"name\":\"enemies_left\",\"readonly\":1},{\"name\":\"level\",\"readonly\":1},"
    "{\"name\":\"shield\",\"readonly\":1},{\"name\":\"ticks\",\"readonly\":1}]}";

TEST(CompileJson, EmptyProgramDocument) {
    Records r;
    fill_empty_program(r);
    std::string text = document(r.result.get(), r.ctx.get());
    EXPECT_EQ(text, EMPTY_PROGRAM);
    nlohmann::json j = nlohmann::json::parse(text);
    EXPECT_EQ(j["astText"], "Programa\n");
    EXPECT_EQ(j["disasm"], "0000  HALT\n");
}

TEST(CompileJson, AbsentContextGivesAnEmptyTokenList) {
    Records r;
    fill_empty_program(r);
    std::string withTokens = document(r.result.get(), r.ctx.get());
    std::string without = document(r.result.get(), nullptr);
    const std::string tokens = "\"tokens\":[{\"type\":\"EOF\",\"lexeme\":\"\",\"line\":1,\"col\":1}]";
    std::string expected = withTokens;
    expected.replace(expected.find(tokens), tokens.size(), "\"tokens\":[]");
    EXPECT_EQ(without, expected);
    EXPECT_EQ(nlohmann::json::parse(without)["tokens"], nlohmann::json::array());
}

TEST(CompileJson, TokenObjects) {
    Records r;
    fill_empty_program(r);
    r.ctx->tokenCount = 0;
    add_token_by_hand(r.ctx.get(), TOK_SET, "Set", 0, 1, 1);
    add_token_by_hand(r.ctx.get(), TOK_IDENTIFICADOR, "x", 0, 1, 5);
    add_token_by_hand(r.ctx.get(), TOK_NUMERO, "2.5", 2.5, 1, 7);
    add_token_by_hand(r.ctx.get(), TOK_NUMERO, ".3", 0.3, 2, 1);
    add_token_by_hand(r.ctx.get(), TOK_NUMERO, "x", std::nan(""), 2, 4);  // a damaged value is written 0
    add_token_by_hand(r.ctx.get(), static_cast<TokenType>(77), "\"\\", 0, 3, 2);
    add_token_by_hand(r.ctx.get(), TOK_EOF, "", 0, 3, 9);
    std::string text = document(r.result.get(), r.ctx.get());
    EXPECT_NE(text.find("\"tokens\":[{\"type\":\"SET\",\"lexeme\":\"Set\",\"line\":1,\"col\":1},"
                        "{\"type\":\"IDENTIFICADOR\",\"lexeme\":\"x\",\"line\":1,\"col\":5},"
                        "{\"type\":\"NUMERO\",\"lexeme\":\"2.5\",\"line\":1,\"col\":7,\"num\":2.5},"
                        "{\"type\":\"NUMERO\",\"lexeme\":\".3\",\"line\":2,\"col\":1,\"num\":0.3},"
                        "{\"type\":\"NUMERO\",\"lexeme\":\"x\",\"line\":2,\"col\":4,\"num\":0},"
                        "{\"type\":\"?\",\"lexeme\":\"\\\"\\\\\",\"line\":3,\"col\":2},"
                        "{\"type\":\"EOF\",\"lexeme\":\"\",\"line\":3,\"col\":9}],"),
              std::string::npos)
        << text;
    nlohmann::json tokens = nlohmann::json::parse(text)["tokens"];
    ASSERT_EQ(tokens.size(), 7u);
    EXPECT_FALSE(tokens[1].contains("num"));
    EXPECT_EQ(tokens[2]["num"], 2.5);
    EXPECT_EQ(tokens[5]["lexeme"], "\"\\");
}

TEST(CompileJson, InstructionObjects) {
    struct Case {
        const char* name;
        Instruction ins;
        const char* expected;
    };
    const Case cases[] = {
        {"push",
         {OP_PUSH, 0, 3, 0.5},
         "{\"addr\":0,\"op\":\"PUSH\",\"arg\":0,\"num\":0.5,\"line\":3,\"operand\":\"0.5\"}"},
        {"push million",
         {OP_PUSH, 0, 3, 1e6},
         "{\"addr\":0,\"op\":\"PUSH\",\"arg\":0,\"num\":1e+06,\"line\":3,\"operand\":\"1e+06\"}"},
        {"load by name",
         {OP_LOAD, 6, 2, 0},
         "{\"addr\":0,\"op\":\"LOAD\",\"arg\":6,\"num\":0,\"line\":2,\"operand\":\"x\"}"},
        {"store reserved",
         {OP_STORE, 0, 2, 0},
         "{\"addr\":0,\"op\":\"STORE\",\"arg\":0,\"num\":0,\"line\":2,\"operand\":\"health\"}"},
        {"load outside the table",
         {OP_LOAD, -1, 2, 0},
         "{\"addr\":0,\"op\":\"LOAD\",\"arg\":-1,\"num\":0,\"line\":2,\"operand\":\"#-1\"}"},
        {"store just past the table",
         {OP_STORE, 7, 2, 0},
         "{\"addr\":0,\"op\":\"STORE\",\"arg\":7,\"num\":0,\"line\":2,\"operand\":\"#7\"}"},
        {"jz four digits",
         {OP_JZ, 24, 5, 0},
         "{\"addr\":0,\"op\":\"JZ\",\"arg\":24,\"num\":0,\"line\":5,\"operand\":\"0024\"}"},
        {"jump five digits",
         {OP_JMP, 12345, 5, 0},
         "{\"addr\":0,\"op\":\"JMP\",\"arg\":12345,\"num\":0,\"line\":5,\"operand\":\"12345\"}"},
        {"repeat start",
         {OP_REPEAT_START, 7, 1, 0},
         "{\"addr\":0,\"op\":\"REPEAT_START\",\"arg\":7,\"num\":0,\"line\":1,\"operand\":\"0007\"}"},
        {"call",
         {OP_CALL, 3, 4, 0},
         "{\"addr\":0,\"op\":\"CALL\",\"arg\":3,\"num\":0,\"line\":4,\"operand\":\"random\"}"},
        {"call outside the table",
         {OP_CALL, 9, 4, 0},
         "{\"addr\":0,\"op\":\"CALL\",\"arg\":9,\"num\":0,\"line\":4,\"operand\":\"?\"}"},
        {"no operand",
         {OP_SHOOT, 0, 8, 0},
         "{\"addr\":0,\"op\":\"SHOOT\",\"arg\":0,\"num\":0,\"line\":8,\"operand\":\"\"}"},
        {"unknown opcode",
         {40, -3, 1, 0},
         "{\"addr\":0,\"op\":\"?\",\"arg\":-3,\"num\":0,\"line\":1,\"operand\":\"\"}"},
        {"negative line",
         {OP_HALT, 0, -2, 0},
         "{\"addr\":0,\"op\":\"HALT\",\"arg\":0,\"num\":0,\"line\":-2,\"operand\":\"\"}"},
        {"closing halt",
         {OP_HALT, 0, 0, 0},
         "{\"addr\":0,\"op\":\"HALT\",\"arg\":0,\"num\":0,\"line\":0,\"operand\":\"\"}"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Records r;
        for (const ReservedRow& reserved : RESERVED_TABLE) add_var(r.result.get(), reserved.name, 1);
        add_var(r.result.get(), "x", 0);
        r.result->code[0] = c.ins;
        r.result->codeCount = 1;
        std::string text = document(r.result.get(), nullptr);
        EXPECT_NE(text.find(std::string("\"code\":[") + c.expected + "]"), std::string::npos) << text;
        EXPECT_TRUE(nlohmann::json::parse(text)["code"][0].is_object());
    }
}

TEST(CompileJson, NonFiniteInstructionNumbersAreZero) {
    Records r;
    add_code(r.result.get(), OP_PUSH, 0, std::numeric_limits<double>::infinity(), 1);
    add_code(r.result.get(), OP_PUSH, 0, std::nan(""), 1);
    nlohmann::json code = nlohmann::json::parse(document(r.result.get(), nullptr))["code"];
    ASSERT_EQ(code.size(), 2u);
    EXPECT_EQ(code[0]["addr"], 0);
    EXPECT_EQ(code[1]["addr"], 1);
    EXPECT_EQ(code[0]["num"], 0);
    EXPECT_EQ(code[1]["num"], 0);
}

TEST(CompileJson, DiagnosticsAndEscaping) {
    Records r;
    r.result->phase = PHASE_SEMANTICO;
    r.result->errors[0] = Diagnostic{PHASE_SEMANTICO, 3, 9, "Variable no definida 'cuenta'. ¿Quiso decir 'cuentas'?"};
    r.result->errors[1] = Diagnostic{PHASE_LEXICO, 1, 2, "Carácter no reconocido '\"'"};
    r.result->errors[2] = Diagnostic{PHASE_LEXICO, 1, 3, "Carácter no reconocido '\\'"};
    r.result->errors[3] = Diagnostic{static_cast<Phase>(12), 0, 0, "tab\there"};
    r.result->errorCount = 4;
    std::snprintf(r.result->astText, sizeof r.result->astText, "Programa\n  SET \"x\"\n");
    std::snprintf(r.result->disasm, sizeof r.result->disasm, "0000  PUSH           1\n0001  HALT\n");
    std::string text = document(r.result.get(), nullptr);
    EXPECT_EQ(text,
              "{\"ok\":0,\"phase\":3,\"phaseName\":\"semantico\",\"errors\":["
              "{\"phase\":3,\"phaseName\":\"semantico\",\"line\":3,\"col\":9,"
              "\"message\":\"Variable no definida 'cuenta'. ¿Quiso decir 'cuentas'?\"},"
              "{\"phase\":1,\"phaseName\":\"lexico\",\"line\":1,\"col\":2,"
              "\"message\":\"Carácter no reconocido '\\\"'\"},"
              "{\"phase\":1,\"phaseName\":\"lexico\",\"line\":1,\"col\":3,"
              "\"message\":\"Carácter no reconocido '\\\\'\"},"
              "{\"phase\":12,\"phaseName\":\"ninguna\",\"line\":0,\"col\":0,\"message\":\"tab\\there\"}],"
              "\"tokens\":[],\"astText\":\"Programa\\n  SET \\\"x\\\"\\n\","
              "\"disasm\":\"0000  PUSH           1\\n0001  HALT\\n\",\"code\":[],\"vars\":[]}");
    nlohmann::json j = nlohmann::json::parse(text);
    EXPECT_EQ(j["errors"][1]["message"], "Carácter no reconocido '\"'");
    EXPECT_EQ(j["disasm"], r.result->disasm);
}

TEST(CompileJson, DiagnosticCutInsideACharacterStaysValidUtf8) {
    // 158 letters and then "ó": the message keeps 159 bytes, so it ends with the
    // first byte of the "ó" alone, which the document writes as U+FFFD.
    Records r;
    std::string text(158, 'a');
    add_diagnostic(r.ctx.get(), PHASE_SEMANTICO, 1, 1, "%só y más", text.c_str());
    ASSERT_EQ(r.ctx->diagCount, 1);
    ASSERT_EQ(std::strlen(r.ctx->diags[0].message), 159u);
    r.result->errors[0] = r.ctx->diags[0];
    r.result->errorCount = 1;
    nlohmann::json j = nlohmann::json::parse(document(r.result.get(), nullptr));
    EXPECT_EQ(j["errors"][0]["message"], text + "\xEF\xBF\xBD");
}

TEST(CompileJson, DamagedCountsAreClampedToTheTables) {
    struct Case {
        const char* name;
        int32_t count;
        std::size_t errors, tokens, code, vars;
    };
    const Case cases[] = {
        {"negative", -1, 0, 0, 0, 0},
        {"zero", 0, 0, 0, 0, 0},
        {"past the tables", 100000, MAX_DIAGNOSTICS, MAX_TOKENS, MAX_CODE, MAX_VARS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Records r;
        r.result->errorCount = c.count;
        r.result->codeCount = c.count;
        r.result->varCount = c.count;
        r.ctx->tokenCount = c.count;
        nlohmann::json j = nlohmann::json::parse(document(r.result.get(), r.ctx.get()));
        EXPECT_EQ(j["errors"].size(), c.errors);
        EXPECT_EQ(j["tokens"].size(), c.tokens);
        ASSERT_EQ(j["code"].size(), c.code);
        EXPECT_EQ(j["vars"].size(), c.vars);
        if (c.code > 0) {
            EXPECT_EQ(j["code"][c.code - 1]["addr"], c.code - 1);
        }
    }
}

TEST(CompileJson, UnterminatedTextFieldsStopAtTheirEnd) {
    Records r;
    std::memset(r.result->astText, 'a', sizeof r.result->astText);
    std::memset(r.result->disasm, 'd', sizeof r.result->disasm);
    std::memset(r.result->errors[0].message, 'm', sizeof r.result->errors[0].message);
    r.result->errorCount = 1;
    std::memset(r.result->varNames[0], 'n', sizeof r.result->varNames[0]);
    r.result->varCount = 1;
    std::memset(r.ctx->tokens[0].lexeme, 'l', sizeof r.ctx->tokens[0].lexeme);
    r.ctx->tokenCount = 1;
    nlohmann::json j = nlohmann::json::parse(document(r.result.get(), r.ctx.get()));
    EXPECT_EQ(j["astText"], std::string(AST_TEXT_CAPACITY, 'a'));
    EXPECT_EQ(j["disasm"], std::string(LISTING_CAPACITY, 'd'));
    EXPECT_EQ(j["errors"][0]["message"], std::string(MESSAGE_SIZE, 'm'));
    EXPECT_EQ(j["vars"][0]["name"], std::string(sizeof(CompileResult::varNames[0]), 'n'));
    EXPECT_EQ(j["tokens"][0]["lexeme"], std::string(LEXEME_SIZE, 'l'));
}

TEST(CompileJson, TooSmallBufferIsAPrefixOfTheWholeDocument) {
    Records r;
    fill_empty_program(r);
    const std::string full = document(r.result.get(), r.ctx.get());
    for (std::size_t cap = 0; cap <= full.size() + 2; cap++) {
        std::vector<char> buf(cap + 1, '#');
        compile_result_to_json(r.result.get(), r.ctx.get(), buf.data(), cap);
        ASSERT_EQ(buf[cap], '#') << cap;
        if (cap == 0) continue;
        std::string text(buf.data());
        ASSERT_EQ(full.compare(0, text.size(), text), 0) << cap;
        if (cap == full.size() + 2) {
            EXPECT_EQ(text, full);
        } else {
            ASSERT_LE(text.size() + 2, cap < 2 ? 2 : cap) << cap;
            ASSERT_LT(text.size(), full.size()) << cap;
        }
    }
    // The opening pieces are whole: "{" and then the "ok" piece.
    char small[9];
    compile_result_to_json(r.result.get(), r.ctx.get(), small, sizeof small);
    EXPECT_STREQ(small, "{");
    char ok[10];
    compile_result_to_json(r.result.get(), r.ctx.get(), ok, sizeof ok);
    EXPECT_STREQ(ok, "{\"ok\":1,");
}

TEST(CompileJson, AbsentResultLeavesAnEmptyText) {
    char buf[16] = "leftover";
    compile_result_to_json(nullptr, nullptr, buf, sizeof buf);
    EXPECT_STREQ(buf, "");
    compile_result_to_json(nullptr, nullptr, nullptr, 100);  // nothing to write into
}

// Real compilations through the whole pipeline.

std::string compile_document(const char* source, Records& r) {
    compile_source(source, r.result.get(), r.ctx.get());
    return document(r.result.get(), r.ctx.get());
}

TEST(CompileJsonEndToEnd, EmptySource) {
    Records r;
    EXPECT_EQ(compile_document("", r), EMPTY_PROGRAM);
    Records comments;
    nlohmann::json j = nlohmann::json::parse(compile_document("// nada\n", comments));
    EXPECT_EQ(j["ok"], 1);
    EXPECT_EQ(j["tokens"].size(), 1u);
    EXPECT_EQ(j["tokens"][0]["line"], 2);
}

TEST(CompileJsonEndToEnd, LexicalFailure) {
    Records r;
    EXPECT_EQ(compile_document("SET x = 5", r),
              "{\"ok\":0,\"phase\":1,\"phaseName\":\"lexico\",\"errors\":["
              "{\"phase\":1,\"phaseName\":\"lexico\",\"line\":1,\"col\":7,"
              "\"message\":\"Carácter no reconocido '='\"}],"
              "\"tokens\":[{\"type\":\"SET\",\"lexeme\":\"SET\",\"line\":1,\"col\":1},"
              "{\"type\":\"IDENTIFICADOR\",\"lexeme\":\"x\",\"line\":1,\"col\":5},"
              "{\"type\":\"NUMERO\",\"lexeme\":\"5\",\"line\":1,\"col\":9,\"num\":5},"
              "{\"type\":\"EOF\",\"lexeme\":\"\",\"line\":1,\"col\":10}],"
              "\"astText\":\"Programa\\n\",\"disasm\":\"\",\"code\":[],\"vars\":[]}");
}

TEST(CompileJsonEndToEnd, SyntaxFailure) {
    Records r;
    nlohmann::json j = nlohmann::json::parse(compile_document("SHOOT\nMOVE 5\nSHOOT", r));
    EXPECT_EQ(j["ok"], 0);
    EXPECT_EQ(j["phase"], 2);
    EXPECT_EQ(j["phaseName"], "sintactico");
    ASSERT_EQ(j["errors"].size(), 1u);
    EXPECT_EQ(j["errors"][0]["phase"], 2);
    EXPECT_EQ(j["errors"][0]["phaseName"], "sintactico");
    EXPECT_EQ(j["errors"][0]["line"], 2);
    EXPECT_EQ(j["errors"][0]["message"], r.result->errors[0].message);
    EXPECT_EQ(j["tokens"].size(), 5u);  // the tokens of the whole text, EOF included
    EXPECT_EQ(j["astText"], r.result->astText);
    EXPECT_EQ(j["disasm"], "");
    EXPECT_EQ(j["code"], nlohmann::json::array());
    EXPECT_EQ(j["vars"], nlohmann::json::array());
}

TEST(CompileJsonEndToEnd, SemanticFailure) {
    Records r;
    nlohmann::json j = nlohmann::json::parse(compile_document("SET total cuenta\nSET a 10 / 0", r));
    EXPECT_EQ(j["ok"], 0);
    EXPECT_EQ(j["phase"], 3);
    EXPECT_EQ(j["phaseName"], "semantico");
    ASSERT_EQ(j["errors"].size(), 2u);
    EXPECT_EQ(j["errors"][0]["phaseName"], "semantico");
    EXPECT_EQ(j["errors"][0]["message"], "Variable no definida 'cuenta'. Usa SET para crearla antes de leerla.");
    EXPECT_EQ(j["errors"][1]["message"], "División entre cero: el divisor es 0");
    EXPECT_EQ(j["errors"][1]["line"], 2);
    EXPECT_EQ(j["disasm"], "");
    EXPECT_EQ(j["code"], nlohmann::json::array());
    EXPECT_EQ(j["vars"], nlohmann::json::array());
}

TEST(CompileJsonEndToEnd, SuccessfulCompilation) {
    Records r;
    std::string text = compile_document("SET x 2.5\nIF x > 1 { SHOOT }\n", r);
    nlohmann::json j = nlohmann::json::parse(text);
    EXPECT_EQ(j["ok"], 1);
    EXPECT_EQ(j["phase"], 0);
    EXPECT_EQ(j["phaseName"], "ninguna");
    EXPECT_EQ(j["errors"], nlohmann::json::array());
    EXPECT_NE(text.find("{\"type\":\"NUMERO\",\"lexeme\":\"2.5\",\"line\":1,\"col\":7,\"num\":2.5}"),
              std::string::npos);
    EXPECT_NE(text.find("{\"type\":\"IDENTIFICADOR\",\"lexeme\":\"x\",\"line\":1,\"col\":5}"), std::string::npos);
    EXPECT_EQ(j["disasm"], r.result->disasm);
    EXPECT_EQ(j["astText"], r.result->astText);

    const nlohmann::json& code = j["code"];
    ASSERT_EQ(code.size(), static_cast<std::size_t>(r.result->codeCount));
    ASSERT_FALSE(code.empty());
    const nlohmann::json& last = code[code.size() - 1];
    EXPECT_EQ(last["op"], "HALT");
    EXPECT_EQ(last["line"], 0);
    bool sawJz = false;
    for (const nlohmann::json& ins : code) {
        if (ins["op"] != "JZ") continue;
        sawJz = true;
        char target[16];
        std::snprintf(target, sizeof target, "%04d", ins["arg"].get<int>());
        EXPECT_EQ(ins["operand"], target);
        EXPECT_EQ(ins["line"], 2);
    }
    EXPECT_TRUE(sawJz);

    const nlohmann::json& vars = j["vars"];
    ASSERT_EQ(vars.size(), 7u);
    EXPECT_EQ(vars[0], (nlohmann::json{{"name", "health"}, {"readonly", 1}}));
    EXPECT_EQ(vars[6], (nlohmann::json{{"name", "x"}, {"readonly", 0}}));
}

}  // namespace
}  // namespace prendax
