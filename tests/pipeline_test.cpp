// The compile pipeline: phase order, what each failure leaves in the result.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "compiler/pipeline.h"
#include "json/compile_json.h"

using namespace prendax;
namespace fs = std::filesystem;

namespace {

CompilerContext ctx;
CompileResult result;

int compile(const std::string& source) { return compile_source(source.c_str(), &result, &ctx); }

}  // namespace

TEST(Pipeline, EmptyAndCommentOnlySourcesCompileToOneHalt) {
    for (const char* source :
         {static_cast<const char*>(""), "// nada\n   // tampoco\n", static_cast<const char*>(nullptr)}) {
        SCOPED_TRACE(source ? source : "(none)");
        ASSERT_EQ(compile_source(source, &result, &ctx), 1);
        EXPECT_EQ(result.ok, 1);
        EXPECT_EQ(result.phase, PHASE_NINGUNA);
        EXPECT_EQ(result.errorCount, 0);
        ASSERT_EQ(ctx.tokenCount, 1);
        EXPECT_EQ(ctx.tokens[0].type, TOK_EOF);
        ASSERT_NE(ctx.root, nullptr);
        EXPECT_EQ(ctx.root->body, nullptr);
        EXPECT_STREQ(result.astText, "Programa\n");
        ASSERT_EQ(result.codeCount, 1);
        EXPECT_EQ(result.code[0].op, OP_HALT);
        EXPECT_EQ(result.code[0].line, 0);
        EXPECT_STREQ(result.disasm, "0000  HALT\n");
        ASSERT_EQ(result.varCount, RESERVED_VARS);
        EXPECT_STREQ(result.varNames[2], "enemies_left");
        EXPECT_EQ(result.varReadonly[5], 1);
    }
}

TEST(Pipeline, OversizedSourceIsReportedThenLexedOnItsFirst16384Bytes) {
    std::string source(16383, ' ');
    source += "#";  // byte 16384, still lexed
    source += std::string(20000 - source.size(), '$');
    ASSERT_EQ(compile(source), 0);
    EXPECT_EQ(result.phase, PHASE_LEXICO);
    ASSERT_EQ(result.errorCount, 2);
    EXPECT_EQ(result.errors[0].line, 1);
    EXPECT_EQ(result.errors[0].col, 1);
    EXPECT_STREQ(result.errors[0].message, "El programa supera el tamaño máximo de 16384 bytes");
    EXPECT_EQ(result.errors[1].col, 16384);
    EXPECT_STREQ(result.errors[1].message, "Carácter no reconocido '#'");
    EXPECT_STREQ(result.astText, "Programa\n");

    // Exactly 16384 bytes is within the limit.
    ASSERT_EQ(compile(std::string(16384, ' ')), 1);
}

TEST(Pipeline, LexicalProblemsHideSyntaxProblems) {
    ASSERT_EQ(compile("MOVE 3 $"), 0);
    EXPECT_EQ(result.phase, PHASE_LEXICO);
    ASSERT_EQ(result.errorCount, 1);
    EXPECT_EQ(result.errors[0].phase, PHASE_LEXICO);
    EXPECT_STREQ(result.astText, "Programa\n");
    EXPECT_STREQ(result.disasm, "");
    EXPECT_EQ(ctx.tokenCount, 3);  // the tokens stay for the JSON document
}

TEST(Pipeline, SyntaxErrorKeepsThePartialTreeAndNoCode) {
    ASSERT_EQ(compile("SHOOT\nSET x 1\nMOVE 3\nSHIELD"), 0);
    EXPECT_EQ(result.phase, PHASE_SINTACTICO);
    ASSERT_EQ(result.errorCount, 1);
    EXPECT_EQ(result.errors[0].line, 3);
    EXPECT_EQ(result.errors[0].col, 6);
    EXPECT_STREQ(result.astText, "Programa\n  SHOOT\n  SET x\n    NUM 1\n");
    EXPECT_STREQ(result.disasm, "");
    EXPECT_EQ(result.codeCount, 0);
    EXPECT_EQ(result.varCount, 0);
}

TEST(Pipeline, SemanticFailureReportsEveryProblemAndNoCode) {
    ASSERT_EQ(compile("WAIT a\nWAIT b\nSET score 1\n"), 0);
    EXPECT_EQ(result.phase, PHASE_SEMANTICO);
    ASSERT_EQ(result.errorCount, 3);
    for (int i = 0; i < 3; i++) EXPECT_EQ(result.errors[i].line, i + 1);
    EXPECT_EQ(result.codeCount, 0);
    EXPECT_EQ(result.varCount, 0);
    EXPECT_STREQ(result.disasm, "");
    EXPECT_STREQ(result.astText, "Programa\n  WAIT\n    VAR a\n  WAIT\n    VAR b\n  SET score\n    NUM 1\n");
}

TEST(Pipeline, EveryCallStartsFromClearedRecords) {
    ASSERT_EQ(compile("SET x 1 SHOOT"), 1);
    EXPECT_EQ(result.varCount, 7);
    ASSERT_EQ(compile("MOVE"), 0);
    EXPECT_EQ(result.codeCount, 0);
    EXPECT_EQ(result.varCount, 0);
    EXPECT_EQ(result.code[0].op, 0);
    EXPECT_STREQ(result.disasm, "");
    ASSERT_EQ(compile("SHOOT"), 1);
    EXPECT_EQ(result.errorCount, 0);
    EXPECT_EQ(ctx.diagCount, 0);
    EXPECT_EQ(result.varCount, 6);
}

namespace {

// What a compilation hands on, as text, to compare two compilations whole.
std::string result_text(const CompileResult& r) {
    std::string text = std::to_string(r.ok) + " " + std::to_string(r.phase) + "\n" + r.astText + r.disasm;
    for (int32_t i = 0; i < r.errorCount; i++) {
        text += std::to_string(r.errors[i].line) + ":" + std::to_string(r.errors[i].col) + " " + r.errors[i].message;
        text += "\n";
    }
    for (int32_t i = 0; i < r.varCount; i++) text += std::string(r.varNames[i]) + "\n";
    return text;
}

}  // namespace

// Every compilation keeps all of its state in its own context: programs
// compiled at once on several threads give exactly what they give alone,
// syntax errors that name two tokens included.
TEST(Pipeline, CompilationsOnSeveralThreadsAreIndependent) {
    const std::vector<std::string> sources = {
        "START\nSET x 1\nWHILE x < 10 { SET x x + 1 SHOOT }\nEND\n",
        "START\nMOVE SIDEWAYS\nEND\n",
        "START\nSET 5 x\nEND\n",
        "START\nIF health > 50 { SHIELD } ELSE { MOVE LEFT WAIT 2 }\nEND\n",
        "START\nSET y enemy_ahed()\nEND\n",
        "START\nREPEAT 3 { WAIT 1 \nEND\n",
        "START\nSET a (1 + \nEND\n",
        "START\nSET b random(5) * 2 % 3\nEND\n",
    };
    std::vector<std::string> expected;
    for (const std::string& source : sources) {
        compile(source);
        expected.push_back(result_text(result));
    }
    constexpr int THREADS = 4;
    constexpr int ROUNDS = 40;
    std::vector<int> mismatches(THREADS, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; t++) {
        threads.emplace_back([&, t] {
            auto context = std::make_unique<CompilerContext>();
            auto own = std::make_unique<CompileResult>();
            for (int round = 0; round < ROUNDS; round++) {
                // Each thread walks the programs from a different start.
                const std::size_t i = static_cast<std::size_t>(t + round) % sources.size();
                compile_source(sources[i].c_str(), own.get(), context.get());
                if (result_text(*own) != expected[i]) mismatches[static_cast<std::size_t>(t)]++;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < THREADS; t++) EXPECT_EQ(mismatches[static_cast<std::size_t>(t)], 0) << "thread " << t;
    // The programs above reach the messages that name tokens.
    EXPECT_NE(expected[1].find("pero se encontró 'SIDEWAYS'"), std::string::npos) << expected[1];
}

// Records compiled into again and again: compile_source clears only what the
// previous compilation used, and both records must still end byte for byte as
// a clear of every byte followed by the same compilation leaves them.

namespace {

struct Records {
    CompileResult result;
    CompilerContext ctx;
};

struct Program {
    std::string name;
    std::string text;
};

std::string read_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Every robot program and fuzzing input kept in the tree, in a fixed order.
std::vector<Program> stored_programs() {
    const fs::path root(PRENDAX_SOURCE_DIR);
    std::vector<fs::path> paths;
    for (const char* folder : {"examples", "tests/arena/robots", "tests/replay/robots", "tests/golden"}) {
        for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
            if (entry.path().extension() == ".zkv") paths.push_back(entry.path());
        }
    }
    for (const auto& entry : fs::recursive_directory_iterator(root / "fuzz/regressions")) {
        if (entry.is_regular_file()) paths.push_back(entry.path());
    }
    std::sort(paths.begin(), paths.end());
    std::vector<Program> programs;
    for (const fs::path& path : paths) programs.push_back({path.string(), read_bytes(path)});
    return programs;
}

// Programs at the limits: the most tokens, nodes, variables and diagnostics,
// a tree text cut at its capacity, a long listing, texts past the size limit.
std::vector<Program> limit_programs() {
    std::vector<Program> programs;
    std::string sets = "START\n";
    for (int i = 0; sets.size() < 16000; i++) sets += "SET variable_larga_" + std::to_string(i % 70) + " 123456.75\n";
    programs.push_back({"more than 64 variables", sets});
    std::string sums = "START\nSET a 1";
    for (int i = 0; i < 1020; i++) sums += " + 999999";
    programs.push_back({"2043 expression tokens", sums + "\nEND\n"});
    std::string shots;
    for (int i = 0; i < 1023; i++) shots += "SHOOT SHIELD\n";
    programs.push_back({"2046 statements", shots});
    programs.push_back({"2048 tokens, one too many", shots + "SHOOT SHOOT\n"});
    std::string stores = "START\n";
    for (int i = 0; i < 680; i++) stores += "SET abcdefghijklmnopqrstuvw 999999.25\n";
    programs.push_back({"a long listing", stores});
    programs.push_back({"more than 32 diagnostics", std::string(300, '$')});
    programs.push_back({"past the size limit", std::string(16384, ' ') + std::string(5000, '#')});
    programs.push_back({"a name of 47 bytes", "START\nSET " + std::string(47, 'n') + " 1\nEND\n"});
    std::string nested = "START\n";
    for (int i = 0; i < 70; i++) nested += "IF (1 < 2) { ";
    programs.push_back({"nesting past the limit", nested});
    programs.push_back({"empty", ""});
    return programs;
}

// Token soup, mostly valid words: every phase fails somewhere in it.
std::string token_soup(std::mt19937& random, int words) {
    static const char* const VOCABULARY[] = {
        "START",      "END",       "SET",
        "MOVE",       "UP",        "LEFT",
        "SHOOT",      "SHIELD",    "WAIT",
        "REPEAT",     "WHILE",     "IF",
        "ELSE",       "{",         "}",
        "(",          ")",         "+",
        "-",          "*",         "/",
        "%",          "<",         ">=",
        "==",         "!=",        "AND",
        "OR",         "NOT",       "TRUE",
        "x",          "y",         "health",
        "score",      "0",         "3",
        "2.5",        "1e9",       "enemy_ahead()",
        "random(4)",  "\n",        "\n",
        "\"cadena\"", "@",         "ñ",
        "enemigo",    "// nota\n", "x",
        "y",          "0.25",
    };
    std::string text;
    std::uniform_int_distribution<std::size_t> pick(0, std::size(VOCABULARY) - 1);
    for (int i = 0; i < words; i++) {
        text += VOCABULARY[pick(random)];
        text += ' ';
    }
    return text;
}

std::vector<Program> generated_programs() {
    std::mt19937 random(20261208);
    std::vector<Program> programs;
    std::uniform_int_distribution<int> length(1, 1500);
    std::uniform_int_distribution<int> byte(1, 255);
    for (int i = 0; i < 150; i++) {
        programs.push_back({"soup " + std::to_string(i), token_soup(random, length(random))});
        // A valid program wrapped around soup-free statements.
        programs.push_back({"valid " + std::to_string(i),
                            "START\nSET x " + std::to_string(i) + "\nREPEAT 3 { MOVE LEFT SHOOT WAIT x % 4 }\nEND\n"});
    }
    for (int i = 0; i < 40; i++) {
        std::string bytes;
        const int n = length(random) * 4;
        for (int k = 0; k < n; k++) bytes += static_cast<char>(byte(random));
        programs.push_back({"bytes " + std::to_string(i), bytes});
    }
    return programs;
}

// The index of the first byte where two copies differ, or -1.
long first_difference(const unsigned char* a, const unsigned char* b, std::size_t size) {
    for (std::size_t i = 0; i < size; i++) {
        if (a[i] != b[i]) return static_cast<long>(i);
    }
    return -1;
}

// Compiles each program into the same records, then compiles it again after a
// clear of every byte; the two states must be equal. The records stay where they
// are, so the tree's pointers into the context compare equal as well.
void expect_same_as_full_clear(Records* r, const std::vector<Program>& programs) {
    std::vector<unsigned char> savedResult(sizeof r->result);
    std::vector<unsigned char> savedContext(sizeof r->ctx);
    int failures = 0;
    for (const Program& program : programs) {
        const int compiled = compile_source(program.text.c_str(), &r->result, &r->ctx);
        std::memcpy(savedResult.data(), &r->result, sizeof r->result);
        std::memcpy(savedContext.data(), &r->ctx, sizeof r->ctx);
        compile_records_clear(&r->result, &r->ctx);
        ASSERT_EQ(compile_source(program.text.c_str(), &r->result, &r->ctx), compiled) << program.name;
        const long inResult =
            first_difference(savedResult.data(), reinterpret_cast<unsigned char*>(&r->result), savedResult.size());
        const long inContext =
            first_difference(savedContext.data(), reinterpret_cast<unsigned char*>(&r->ctx), savedContext.size());
        EXPECT_EQ(inResult, -1) << program.name << ": the result differs at byte " << inResult;
        EXPECT_EQ(inContext, -1) << program.name << ": the context differs at byte " << inContext;
        if ((inResult != -1 || inContext != -1) && ++failures == 5) return;
        // Carry on from the cheaply cleared state, not from the reference.
        std::memcpy(&r->result, savedResult.data(), sizeof r->result);
        std::memcpy(&r->ctx, savedContext.data(), sizeof r->ctx);
    }
}

TEST(PipelineReuse, EveryProgramInSequenceEndsAsAfterAFullClear) {
    std::vector<Program> programs = stored_programs();
    ASSERT_GT(programs.size(), 40u);
    for (Program& p : limit_programs()) programs.push_back(std::move(p));
    for (Program& p : generated_programs()) programs.push_back(std::move(p));

    auto r = std::make_unique<Records>();
    expect_same_as_full_clear(r.get(), programs);
    // Backwards: each long or failing program is followed by a different one.
    std::vector<Program> backwards(programs.rbegin(), programs.rend());
    expect_same_as_full_clear(r.get(), backwards);
    // Every limit program right after every other one, the big ones before the small.
    const std::vector<Program> limits = limit_programs();
    for (const Program& first : limits) {
        for (const Program& second : limits) expect_same_as_full_clear(r.get(), {first, second});
    }
}

TEST(PipelineReuse, TheLimitProgramsReachTheLimits) {
    auto r = std::make_unique<Records>();
    int tokensFull = 0, manyExprs = 0, manyStmts = 0, diagsFull = 0, varsFull = 0, treeCut = 0, longListing = 0;
    for (const Program& program : limit_programs()) {
        compile_source(program.text.c_str(), &r->result, &r->ctx);
        tokensFull += r->ctx.tokenOverflow;
        // Each node takes at least one token, so neither pool can fill up.
        manyExprs += r->ctx.exprCount > 2000;
        manyStmts += r->ctx.stmtCount > 2000;
        diagsFull += r->ctx.diagCount == MAX_DIAGNOSTICS;
        varsFull += r->ctx.varCount == MAX_VARS;
        treeCut += std::strlen(r->result.astText) == AST_TEXT_CAPACITY - 1;
        longListing += std::strlen(r->result.disasm) > LISTING_CAPACITY / 2;
    }
    EXPECT_GT(tokensFull, 0);
    EXPECT_GT(manyExprs, 0);
    EXPECT_GT(manyStmts, 0);
    EXPECT_GT(diagsFull, 0);
    EXPECT_GT(varsFull, 0);
    EXPECT_GT(treeCut, 0);
    EXPECT_GT(longListing, 0);
}

// Records that were never cleared: compile_records_clear makes them fit for the
// cheap clear. Without it, counts read from the garbage are held to the tables'
// capacities; what is left beyond the used parts is never read, so the
// compile document is the same.
TEST(PipelineReuse, RecordsFullOfGarbage) {
    const char* source = "START\nSET x 1\nWHILE x < 9 { SET x x + 1 SHOOT }\nEND\n";
    auto clean = std::make_unique<Records>();
    ASSERT_EQ(compile_source(source, &clean->result, &clean->ctx), 1);
    auto document = [](Records* r) {
        std::vector<char> text(1 << 20);
        compile_result_to_json(&r->result, &r->ctx, text.data(), text.size());
        return std::string(text.data());
    };
    const std::string expected = document(clean.get());
    for (int fill : {0x00, 0x41, 0x7F, 0xA5, 0xFF}) {
        auto r = std::make_unique<Records>();
        std::memset(static_cast<void*>(r.get()), fill, sizeof *r);
        ASSERT_EQ(compile_source(source, &r->result, &r->ctx), 1) << fill;
        EXPECT_EQ(document(r.get()), expected) << fill;

        std::memset(static_cast<void*>(r.get()), fill, sizeof *r);
        compile_records_clear(&r->result, &r->ctx);
        ASSERT_EQ(compile_source(source, &r->result, &r->ctx), 1) << fill;
        EXPECT_EQ(std::memcmp(&r->result, &clean->result, sizeof r->result), 0) << fill;
    }
}

}  // namespace
