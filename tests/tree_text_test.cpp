// Tree text: the outline written from real parses and from hand-built nodes,
// number and truth formatting, and the cut at the end of the buffer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "compiler/context.h"
#include "compiler/lexer.h"
#include "compiler/parser.h"
#include "compiler/tree_text.h"

namespace prendax {
namespace {

CompilerContext ctx;
char text[AST_TEXT_CAPACITY];

// Parses a source (lexically clean) and writes its tree text with the full capacity.
std::string dump_of(const std::string& source) {
    std::memset(&ctx, 0, sizeof ctx);
    lex_source(&ctx, source.c_str());
    EXPECT_EQ(ctx.diagCount, 0) << source;
    parse_program(&ctx);
    dump_tree(&ctx, text, sizeof text);
    return text;
}

std::string repeat(const std::string& piece, int times) {
    std::string s;
    for (int i = 0; i < times; i++) s += piece;
    return s;
}

TEST(TreeText, WorkedExample) {
    const char* source =
        "START\n"
        "SET x 3\n"
        "IF x >= 2 AND NOT enemy_ahead() { MOVE LEFT } ELSE { WAIT random(4) }\n"
        "REPEAT 2 { SHOOT }\n"
        "END\n";
    const char* expected =
        "Programa\n"
        "  START\n"
        "  SET x\n"
        "    NUM 3\n"
        "  IF\n"
        "    BINARIO &&\n"
        "      BINARIO >=\n"
        "        VAR x\n"
        "        NUM 2\n"
        "      UNARIO !\n"
        "        CALL enemy_ahead (0 args)\n"
        "    BLOQUE\n"
        "      MOVE LEFT\n"
        "  ELSE\n"
        "    BLOQUE\n"
        "      WAIT\n"
        "        CALL random (1 arg)\n"
        "          NUM 4\n"
        "  REPEAT\n"
        "    NUM 2\n"
        "    BLOQUE\n"
        "      SHOOT\n"
        "  END\n";
    EXPECT_EQ(dump_of(source), expected);
    EXPECT_EQ(ctx.diagCount, 0);
}

TEST(TreeText, LinesOfEachForm) {
    struct Case {
        const char* source;
        const char* tree;
    };
    const Case cases[] = {
        {"", "Programa\n"},
        {"// solo un comentario", "Programa\n"},
        {"SET t TRUE SET f false", "Programa\n  SET t\n    BOOL true\n  SET f\n    BOOL false\n"},
        {"SET m 1000000", "Programa\n  SET m\n    NUM 1e+06\n"},
        {"SET q 0.25 SET h .5 SET k 3.0 SET big 123456 SET r 123456.7",
         "Programa\n  SET q\n    NUM 0.25\n  SET h\n    NUM 0.5\n  SET k\n    NUM 3\n  SET big\n    NUM 123456\n"
         "  SET r\n    NUM 123457\n"},
        {"SET s 0.0001 SET u 0.00001", "Programa\n  SET s\n    NUM 0.0001\n  SET u\n    NUM 1e-05\n"},
        {"WAIT f() WAIT f(1) WAIT f(1, 2)",
         "Programa\n  WAIT\n    CALL f (0 args)\n  WAIT\n    CALL f (1 arg)\n      NUM 1\n"
         "  WAIT\n    CALL f (2 args)\n      NUM 1\n"},
        {"MOVE up MOVE Down MOVE LEFT MOVE right", "Programa\n  MOVE UP\n  MOVE DOWN\n  MOVE LEFT\n  MOVE RIGHT\n"},
        {"START SHIELD END", "Programa\n  START\n  SHIELD\n  END\n"},
        {"SET v a and b or not c",
         "Programa\n  SET v\n    BINARIO ||\n      BINARIO &&\n        VAR a\n        VAR b\n      UNARIO !\n"
         "        VAR c\n"},
        {"WAIT 1 % 2 != -3 / 4",
         "Programa\n  WAIT\n    BINARIO !=\n      BINARIO %\n        NUM 1\n        NUM 2\n      BINARIO /\n"
         "        UNARIO -\n          NUM 3\n        NUM 4\n"},
        {"WHILE 1 { IF 0 { } ELSE { REPEAT 2 { } } }",
         "Programa\n  WHILE\n    NUM 1\n    BLOQUE\n      IF\n        NUM 0\n        BLOQUE\n      ELSE\n"
         "        BLOQUE\n          REPEAT\n            NUM 2\n            BLOQUE\n"},
        {"SET Health 1", "Programa\n  SET Health\n    NUM 1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        EXPECT_EQ(dump_of(c.source), c.tree);
    }
}

// After a syntax error the text shows the partial tree the parser stored.
TEST(TreeText, AfterSyntaxError) {
    std::memset(&ctx, 0, sizeof ctx);
    lex_source(&ctx, "WHILE x { MOVE }");
    parse_program(&ctx);
    ASSERT_EQ(ctx.diagCount, 1);
    dump_tree(&ctx, text, sizeof text);
    EXPECT_STREQ(text, "Programa\n  WHILE\n    VAR x\n    BLOQUE\n");
}

TEST(TreeText, NoTree) {
    std::memset(&ctx, 0, sizeof ctx);
    std::memset(text, 'x', sizeof text);
    dump_tree(&ctx, text, sizeof text);
    EXPECT_STREQ(text, "Programa\n");
    dump_tree(nullptr, text, sizeof text);
    EXPECT_STREQ(text, "Programa\n");
}

TEST(TreeText, SmallCapacities) {
    dump_of("SHOOT");
    struct Case {
        std::size_t cap;
        const char* text;
    };
    const Case cases[] = {{1, ""},
                          {2, "P"},
                          {5, "Prog"},
                          {9, "Programa"},
                          {10, "Programa\n"},
                          {11, "Programa\n "},
                          {17, "Programa\n  SHOOT"},
                          {18, "Programa\n  SHOOT\n"},
                          {19, "Programa\n  SHOOT\n"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cap);
        char buf[32];
        std::memset(buf, '#', sizeof buf);
        dump_tree(&ctx, buf, c.cap);
        EXPECT_STREQ(buf, c.text);
        // Nothing is written past the capacity.
        for (std::size_t i = c.cap; i < sizeof buf; i++) EXPECT_EQ(buf[i], '#') << i;
    }
    // No buffer or no room: nothing is written at all.
    char untouched[4] = {'a', 'b', 'c', '\0'};
    dump_tree(&ctx, untouched, 0);
    EXPECT_STREQ(untouched, "abc");
    dump_tree(&ctx, nullptr, 100);
}

// 2047 SHOOT lines make 16385 bytes of text: the result field keeps 16383.
TEST(TreeText, CutAtCapacity) {
    std::string src = repeat("SHOOT ", 2047);
    std::memset(&ctx, 0, sizeof ctx);
    lex_source(&ctx, src.c_str());
    parse_program(&ctx);
    ASSERT_EQ(ctx.diagCount, 0);
    static char whole[AST_TEXT_CAPACITY * 2];
    dump_tree(&ctx, whole, sizeof whole);
    std::string full = "Programa\n" + repeat("  SHOOT\n", 2047);
    ASSERT_EQ(std::string(whole), full);
    ASSERT_GT(full.size(), static_cast<std::size_t>(AST_TEXT_CAPACITY - 1));
    dump_tree(&ctx, text, AST_TEXT_CAPACITY);
    EXPECT_EQ(std::strlen(text), static_cast<std::size_t>(AST_TEXT_CAPACITY - 1));
    EXPECT_EQ(std::string(text), full.substr(0, AST_TEXT_CAPACITY - 1));
}

TEST(TextOut, AppendAndFormat) {
    char buf[16];
    TextOut out{buf, sizeof buf, 0};
    buf[0] = '\0';
    text_append(&out, "abc");
    text_appendf(&out, "%d-%s", 42, "x");
    EXPECT_STREQ(buf, "abc42-x");
    EXPECT_EQ(out.len, 7u);
    // The piece that does not fit is cut at cap - 1; later pieces are dropped.
    text_append(&out, "0123456789");
    EXPECT_STREQ(buf, "abc42-x01234567");
    EXPECT_EQ(out.len, 15u);
    text_append(&out, "more");
    text_appendf(&out, "%s", "more");
    EXPECT_EQ(out.len, 15u);
    EXPECT_STREQ(buf, "abc42-x01234567");

    // One formatted piece keeps at most 511 bytes.
    static char big[2048];
    TextOut wide{big, sizeof big, 0};
    std::string long_piece(700, 'w');
    text_appendf(&wide, "%s", long_piece.c_str());
    EXPECT_EQ(wide.len, static_cast<uint64_t>(TEXT_SCRATCH_SIZE - 1));
    text_append(&wide, long_piece.c_str());
    EXPECT_EQ(wide.len, static_cast<uint64_t>(TEXT_SCRATCH_SIZE - 1 + 700));
    EXPECT_EQ(std::strlen(big), wide.len);
}

// Values the parser never produces still give a line of their own.
TEST(TreeText, HandBuiltNodes) {
    struct Case {
        const char* name;
        StmtNode stmt;
        ExprNode expr;
        bool withExpr;
        const char* text;
    };
    auto stmt = [](int32_t kind, int32_t dir) {
        StmtNode s{};
        s.kind = static_cast<StmtKind>(kind);
        s.dir = dir;
        return s;
    };
    auto expr = [](int32_t kind, double value, int32_t op) {
        ExprNode e{};
        e.kind = static_cast<ExprKind>(kind);
        e.value = value;
        e.op = op;
        return e;
    };
    const Case cases[] = {
        {"statement kind 11", stmt(11, 0), {}, false, "  ?\n"},
        {"statement kind -1", stmt(-1, 0), {}, false, "  ?\n"},
        {"direction 4", stmt(STMT_MOVE, 4), {}, false, "  MOVE ?\n"},
        {"direction -1", stmt(STMT_MOVE, -1), {}, false, "  MOVE ?\n"},
        {"expression kind 6", stmt(STMT_WAIT, 0), expr(6, 0.0, 0), true, "  WAIT\n    ?\n"},
        {"NaN truth", stmt(STMT_WAIT, 0), expr(EXPR_BOOL, std::nan(""), 0), true, "  WAIT\n    BOOL true\n"},
        {"minus zero truth", stmt(STMT_WAIT, 0), expr(EXPR_BOOL, -0.0, 0), true, "  WAIT\n    BOOL false\n"},
        {"other truth", stmt(STMT_WAIT, 0), expr(EXPR_BOOL, 0.5, 0), true, "  WAIT\n    BOOL true\n"},
        {"unknown operator", stmt(STMT_WAIT, 0), expr(EXPR_UNARIO, 0.0, TOK_COMA), true, "  WAIT\n    UNARIO ?\n"},
        {"binary without operands", stmt(STMT_WAIT, 0), expr(EXPR_BINARIO, 0.0, TOK_MULT), true,
         "  WAIT\n    BINARIO *\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StmtNode s = c.stmt;
        ExprNode e = c.expr;
        if (c.withExpr) s.expr = &e;
        char buf[128];
        buf[0] = '\0';
        TextOut out{buf, sizeof buf, 0};
        dump_stmts(&out, &s, 1);
        EXPECT_STREQ(buf, c.text);
    }
    // A name field without its terminator is read up to its end only.
    ExprNode var{};
    var.kind = EXPR_VAR;
    std::memset(var.name, 'n', sizeof var.name);
    char buf[128];
    buf[0] = '\0';
    TextOut out{buf, sizeof buf, 0};
    dump_expr(&out, &var, 0);
    EXPECT_EQ(std::string(buf), "VAR " + std::string(NAME_SIZE, 'n') + "\n");
}

}  // namespace
}  // namespace prendax
