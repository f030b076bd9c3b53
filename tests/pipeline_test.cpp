// The compile pipeline: phase order, what each failure leaves in the result.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "compiler/pipeline.h"

using namespace prendax;

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
