// Parser and node pools: tree shapes, nesting limits, every syntax error with
// its exact text and position, the partial tree kept after an error, and the
// pool limits.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "compiler/context.h"
#include "compiler/lexer.h"
#include "compiler/parser.h"
#include "compiler/syntax_tree.h"
#include "compiler/tree_text.h"

namespace prendax {
namespace {

CompilerContext ctx;

// Lexes a source that must be lexically clean into the cleared context.
void lex(const std::string& source) {
    std::memset(&ctx, 0, sizeof ctx);
    lex_source(&ctx, source.c_str());
    ASSERT_EQ(ctx.diagCount, 0) << ctx.diags[0].message;
}

StmtNode* parse(const std::string& source) {
    lex(source);
    return parse_program(&ctx);
}

std::string tree_text() {
    static char buf[AST_TEXT_CAPACITY];
    dump_tree(&ctx, buf, sizeof buf);
    return buf;
}

std::string repeat(const std::string& piece, int times) {
    std::string s;
    for (int i = 0; i < times; i++) s += piece;
    return s;
}

// A compact, independent spelling of an expression tree.
std::string shape(const ExprNode* e) {
    if (e == nullptr) return "none";
    char num[64];
    switch (e->kind) {
        case EXPR_NUM: std::snprintf(num, sizeof num, "NUM %g", e->value); return num;
        case EXPR_BOOL: return e->value != 0.0 ? "BOOL true" : "BOOL false";
        case EXPR_VAR: return std::string("VAR ") + e->name;
        case EXPR_CALL:
            return std::string("CALL ") + e->name + "/" + std::to_string(e->argCount) + " (" + shape(e->left) + ")";
        case EXPR_UNARIO: return std::string("UNARIO ") + operator_text(e->op) + " (" + shape(e->left) + ")";
        case EXPR_BINARIO:
            return std::string("BINARIO ") + operator_text(e->op) + " (" + shape(e->left) + ", " + shape(e->right) +
                   ")";
    }
    return "?";
}

const char* const INSTRUCTION_MSG =
    "Se esperaba una instrucción (SET, MOVE, SHOOT, SHIELD, WAIT, REPEAT, WHILE, IF) pero se encontró ";
const char* const OPERAND_MSG = "Se esperaba un número, una variable, una llamada o '(' pero se encontró ";
const char* const DIRECTION_MSG = "Se esperaba una dirección (UP, DOWN, LEFT o RIGHT) pero se encontró ";
const char* const EXPR_DEPTH_MSG = "La expresión está anidada demasiado profundo (máximo 64)";

TEST(ExpressionParser, TreeShapes) {
    struct Case {
        const char* expr;
        const char* tree;
    };
    const Case cases[] = {
        {"1 + 2 * 3", "BINARIO + (NUM 1, BINARIO * (NUM 2, NUM 3))"},
        {"8 - 3 - 2", "BINARIO - (BINARIO - (NUM 8, NUM 3), NUM 2)"},
        {"-x * y", "BINARIO * (UNARIO - (VAR x), VAR y)"},
        {"NOT a AND b", "BINARIO && (UNARIO ! (VAR a), VAR b)"},
        {"a OR b AND c", "BINARIO || (VAR a, BINARIO && (VAR b, VAR c))"},
        {"a == b < c", "BINARIO == (VAR a, BINARIO < (VAR b, VAR c))"},
        {"(1 + 2) * 3", "BINARIO * (BINARIO + (NUM 1, NUM 2), NUM 3)"},
        {"random(4)", "CALL random/1 (NUM 4)"},
        {"enemy_ahead()", "CALL enemy_ahead/0 (none)"},
        {"-5", "UNARIO - (NUM 5)"},
        {"a < b < c", "BINARIO < (BINARIO < (VAR a, VAR b), VAR c)"},
        {"a == b == c", "BINARIO == (BINARIO == (VAR a, VAR b), VAR c)"},
        {"a || b && c", "BINARIO || (VAR a, BINARIO && (VAR b, VAR c))"},
        {"!a != b", "BINARIO != (UNARIO ! (VAR a), VAR b)"},
        {"not not TRUE", "UNARIO ! (UNARIO ! (BOOL true))"},
        {"- -FALSE", "UNARIO - (UNARIO - (BOOL false))"},
        {"7 % 3 / 2 * 1", "BINARIO * (BINARIO / (BINARIO % (NUM 7, NUM 3), NUM 2), NUM 1)"},
        {"1 <= 2 >= 3 > 4", "BINARIO > (BINARIO >= (BINARIO <= (NUM 1, NUM 2), NUM 3), NUM 4)"},
        {"a + b < c * d", "BINARIO < (BINARIO + (VAR a, VAR b), BINARIO * (VAR c, VAR d))"},
        {"((x))", "VAR x"},
        {"random(random(2) + 1)", "CALL random/1 (BINARIO + (CALL random/1 (NUM 2), NUM 1))"},
        {"f(1, 2, 3)", "CALL f/3 (NUM 1)"},
        {"0.25", "NUM 0.25"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expr);
        StmtNode* root = parse(std::string("SET v ") + c.expr);
        ASSERT_NE(root, nullptr);
        ASSERT_EQ(ctx.diagCount, 0) << ctx.diags[0].message;
        ASSERT_NE(root->body, nullptr);
        EXPECT_EQ(root->body->next, nullptr);
        EXPECT_EQ(shape(root->body->expr), c.tree);
    }
}

// Positions, values and names of expression nodes, and their order in the pool.
TEST(ExpressionParser, NodeFieldsAndPoolOrder) {
    parse("SET v a +\n  -b\nSET w random(1 + 2, 3, 4)\nSET u abcdefghijklmnopqrstuvw");
    ASSERT_EQ(ctx.diagCount, 0);
    // a + -b: VAR a, VAR b, UNARIO -, BINARIO +
    const ExprNode* pool = ctx.exprPool;
    EXPECT_EQ(pool[0].kind, EXPR_VAR);
    EXPECT_STREQ(pool[0].name, "a");
    EXPECT_EQ(pool[1].kind, EXPR_VAR);
    EXPECT_EQ(pool[2].kind, EXPR_UNARIO);
    EXPECT_EQ(pool[2].op, TOK_RESTA);
    EXPECT_EQ(pool[2].line, 2);
    EXPECT_EQ(pool[2].col, 3);
    EXPECT_EQ(pool[3].kind, EXPR_BINARIO);
    EXPECT_EQ(pool[3].op, TOK_SUMA);
    EXPECT_EQ(pool[3].line, 1);
    EXPECT_EQ(pool[3].col, 9);
    EXPECT_EQ(pool[3].left, &pool[0]);
    EXPECT_EQ(pool[3].right, &pool[2]);
    // A CALL is taken before its arguments; every argument is counted in the pool.
    EXPECT_EQ(pool[4].kind, EXPR_CALL);
    EXPECT_STREQ(pool[4].name, "random");
    EXPECT_EQ(pool[4].argCount, 3);
    EXPECT_EQ(pool[4].line, 3);
    EXPECT_EQ(pool[4].col, 7);
    EXPECT_EQ(pool[4].left, &pool[7]);
    EXPECT_EQ(pool[4].right, nullptr);
    EXPECT_EQ(pool[7].kind, EXPR_BINARIO);
    EXPECT_EQ(pool[8].kind, EXPR_NUM);
    EXPECT_EQ(pool[8].value, 3.0);
    EXPECT_EQ(pool[9].kind, EXPR_NUM);
    EXPECT_EQ(pool[9].value, 4.0);
    // A name of exactly 23 characters is kept whole.
    EXPECT_STREQ(pool[10].name, "abcdefghijklmnopqrstuvw");
    EXPECT_EQ(ctx.exprCount, 11);
    for (int i = 0; i < ctx.exprCount; i++) {
        EXPECT_EQ(pool[i].varSlot, -1);
        EXPECT_EQ(pool[i].funcIndex, -1);
    }
}

TEST(ExpressionParser, CallWithThreeArguments) {
    parse("SET x random(1, 2, 3)");
    ASSERT_EQ(ctx.diagCount, 0);
    const ExprNode* call = ctx.root->body->expr;
    ASSERT_NE(call, nullptr);
    EXPECT_EQ(call->kind, EXPR_CALL);
    EXPECT_EQ(call->argCount, 3);
    ASSERT_NE(call->left, nullptr);
    EXPECT_EQ(call->left->value, 1.0);
    EXPECT_EQ(call->right, nullptr);
    EXPECT_EQ(ctx.exprCount, 4);
}

// The shared depth counter: each prefix operator and primary costs one level,
// an open parenthesis one more; blocks raise the starting point.
TEST(ExpressionParser, NestingLimits) {
    struct Case {
        const char* name;
        std::string source;
        bool accepted;
        int col;  // position of the nesting error
    };
    const std::string minus63 = repeat("-", 63);
    const std::string minus64 = repeat("-", 64);
    const Case cases[] = {
        {"63 minus", "SET x " + minus63 + "1", true, 0},
        {"64 minus", "SET x " + minus64 + "1", false, 7 + 64},
        {"31 parens", "SET x " + repeat("(", 31) + "1" + repeat(")", 31), true, 0},
        {"32 parens", "SET x " + repeat("(", 32) + "1" + repeat(")", 32), false, 7 + 32},
        {"63 minus then paren", "SET x " + minus63 + "(1)", false, 7 + 64},
        {"62 minus then paren", "SET x " + repeat("-", 62) + "(1)", false, 7 + 63},
        {"61 minus then paren", "SET x " + repeat("-", 61) + "(1)", true, 0},
        {"block, 31 parens", "WHILE 1 { SET x " + repeat("(", 31) + "1" + repeat(")", 31) + " }", true, 0},
        {"block, 62 minus", "WHILE 1 { SET x " + repeat("-", 62) + "1 }", true, 0},
        {"block, 63 minus", "WHILE 1 { SET x " + minus63 + "1 }", false, 17 + 63},
        {"block, 32 parens", "WHILE 1 { SET x " + repeat("(", 32) + "1" + repeat(")", 32) + " }", false, 17 + 32},
        {"block, 31 parens and minus", "WHILE 1 { SET x -" + repeat("(", 31) + "1" + repeat(")", 31) + " }", false,
         18 + 31},
        {"call arguments count", "SET x " + repeat("f(", 63) + "1" + repeat(")", 63), true, 0},
        {"call arguments too deep", "SET x " + repeat("f(", 64) + "1" + repeat(")", 64), false, 7 + 128},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StmtNode* root = parse(c.source);
        ASSERT_NE(root, nullptr);
        if (c.accepted) {
            EXPECT_EQ(ctx.diagCount, 0) << ctx.diags[0].message;
        } else {
            ASSERT_EQ(ctx.diagCount, 1);
            EXPECT_STREQ(ctx.diags[0].message, EXPR_DEPTH_MSG);
            EXPECT_EQ(ctx.diags[0].phase, PHASE_SINTACTICO);
            EXPECT_EQ(ctx.diags[0].line, 1);
            EXPECT_EQ(ctx.diags[0].col, c.col);
        }
    }
}

// An expression operation always hands the counter back as it found it.
TEST(ExpressionParser, DepthRestoredOnEveryExit) {
    const std::string sources[] = {"1 + (2 * -3)", "((((1", "-(-(-(", "random(1, (2 + )", repeat("(", 40)};
    for (const std::string& src : sources) {
        SCOPED_TRACE(src);
        lex(src);
        for (int start : {0, 10, 63}) {
            Parser p{&ctx, 0, 0, start};
            parse_expression(&p);
            EXPECT_EQ(p.depth, start);
        }
    }
}

// Deep inputs end in the nesting message instead of exhausting the stack.
TEST(ExpressionParser, LongPrefixAndParenthesisRuns) {
    const std::string sources[] = {"SET x " + repeat("(", 2000), "SET x " + repeat("-", 2000) + "1",
                                   "SET x " + repeat("not ", 2000) + "1"};
    for (const std::string& src : sources) {
        parse(src);
        ASSERT_EQ(ctx.diagCount, 1);
        EXPECT_STREQ(ctx.diags[0].message, EXPR_DEPTH_MSG);
    }
    // Left-grouped operator chains cost no levels at all.
    parse("SET x 1" + repeat(" + 1", 1000));
    ASSERT_EQ(ctx.diagCount, 0);
    EXPECT_EQ(ctx.exprCount, 2001);
    int chain = 0;
    for (const ExprNode* e = ctx.root->body->expr; e->kind == EXPR_BINARIO; e = e->left) chain++;
    EXPECT_EQ(chain, 1000);
}

TEST(TokenAccess, PeekAdvanceExpectDescribe) {
    lex("SHOOT wait");
    Parser p{&ctx, 0, 0, 0};
    // peek clamps the position and stores it back.
    p.pos = -7;
    EXPECT_EQ(peek(&p)->type, TOK_SHOOT);
    EXPECT_EQ(p.pos, 0);
    p.pos = 99;
    EXPECT_EQ(peek(&p)->type, TOK_EOF);
    EXPECT_EQ(p.pos, 2);
    // Advancing over EOF does nothing.
    advance(&p);
    EXPECT_EQ(p.pos, 2);
    p.pos = 0;
    const Token* t = expect(&p, TOK_SHOOT, "'{'");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t, &ctx.tokens[0]);
    EXPECT_EQ(p.pos, 1);
    EXPECT_EQ(expect(&p, TOK_LLAVE_IZQ, "'{'"), nullptr);
    EXPECT_EQ(p.pos, 1);
    ASSERT_EQ(ctx.diagCount, 1);
    EXPECT_STREQ(ctx.diags[0].message, "Se esperaba '{' pero se encontró 'wait'");
    EXPECT_EQ(ctx.diags[0].col, 7);
    // The two latest descriptions stay valid together.
    const char* a = describe_token(&ctx, &ctx.tokens[0]);
    const char* b = describe_token(&ctx, &ctx.tokens[1]);
    EXPECT_STREQ(a, "'SHOOT'");
    EXPECT_STREQ(b, "'wait'");
    EXPECT_NE(a, b);
    EXPECT_STREQ(describe_token(&ctx, &ctx.tokens[2]), "el fin del archivo");
    // A lexeme filling its whole field is never read past its end.
    Token wide{TOK_IDENTIFICADOR, 1, 1, 0.0, {}};
    std::memset(wide.lexeme, 'z', sizeof wide.lexeme);
    EXPECT_EQ(std::string(describe_token(&ctx, &wide)), "'" + std::string(sizeof wide.lexeme, 'z') + "'");
}

// A context without tokens reads as an endless EOF instead of slot -1.
TEST(TokenAccess, EmptyTokenArray) {
    std::memset(&ctx, 0, sizeof ctx);
    Parser p{&ctx, 5, 0, 0};
    EXPECT_EQ(peek(&p)->type, TOK_EOF);
    EXPECT_EQ(p.pos, 0);
    EXPECT_EQ(parse_statement(&p), nullptr);
    ASSERT_EQ(ctx.diagCount, 1);
    EXPECT_EQ(std::string(ctx.diags[0].message), std::string(INSTRUCTION_MSG) + "el fin del archivo");
}

TEST(StatementParser, StatementKindsAndPositions) {
    parse(
        "START\nSET x 3\n  MOVE up MOVE DOWN MOVE Left MOVE RIGHT\nSHOOT SHIELD WAIT 2\n"
        "REPEAT 2 { END }\nWHILE x {}\nIF x { } ELSE { START }\nIF 0 { }\nEND SHOOT");
    ASSERT_EQ(ctx.diagCount, 0);
    struct Expect {
        StmtKind kind;
        int line, col, dir;
    };
    const Expect want[] = {
        {STMT_START, 1, 1, 0}, {STMT_SET, 2, 1, 0},    {STMT_MOVE, 3, 3, 0},  {STMT_MOVE, 3, 11, 1},
        {STMT_MOVE, 3, 21, 2}, {STMT_MOVE, 3, 31, 3},  {STMT_SHOOT, 4, 1, 0}, {STMT_SHIELD, 4, 7, 0},
        {STMT_WAIT, 4, 14, 0}, {STMT_REPEAT, 5, 1, 0}, {STMT_WHILE, 6, 1, 0}, {STMT_IF, 7, 1, 0},
        {STMT_IF, 8, 1, 0},    {STMT_END, 9, 1, 0},    {STMT_SHOOT, 9, 5, 0},
    };
    ASSERT_NE(ctx.root, nullptr);
    EXPECT_EQ(ctx.root->kind, STMT_BLOQUE);
    EXPECT_EQ(ctx.root->line, 1);
    EXPECT_EQ(ctx.root->col, 1);
    const StmtNode* s = ctx.root->body;
    for (const Expect& w : want) {
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->kind, w.kind);
        EXPECT_EQ(s->line, w.line);
        EXPECT_EQ(s->col, w.col);
        EXPECT_EQ(s->dir, w.dir);
        EXPECT_EQ(s->varSlot, -1);
        s = s->next;
    }
    EXPECT_EQ(s, nullptr);
    const StmtNode* set = ctx.root->body->next;
    EXPECT_STREQ(set->name, "x");
    EXPECT_EQ(shape(set->expr), "NUM 3");
    // Braced bodies are BLOQUE nodes at their '{' with no next.
    const StmtNode* rep = set->next->next->next->next->next->next->next->next;
    ASSERT_EQ(rep->kind, STMT_REPEAT);
    ASSERT_NE(rep->body, nullptr);
    EXPECT_EQ(rep->body->kind, STMT_BLOQUE);
    EXPECT_EQ(rep->body->line, 5);
    EXPECT_EQ(rep->body->col, 10);
    EXPECT_EQ(rep->body->next, nullptr);
    EXPECT_EQ(rep->body->body->kind, STMT_END);
    const StmtNode* whl = rep->next;
    EXPECT_EQ(whl->body->body, nullptr);
    const StmtNode* ifs = whl->next;
    ASSERT_NE(ifs->elseBody, nullptr);
    EXPECT_EQ(ifs->elseBody->kind, STMT_BLOQUE);
    EXPECT_EQ(ifs->elseBody->col, 15);
    EXPECT_EQ(ifs->elseBody->body->kind, STMT_START);
    EXPECT_EQ(ifs->next->elseBody, nullptr);
}

// A statement's node comes after everything it contains.
TEST(StatementParser, PoolOrder) {
    parse("WHILE x { SHOOT } SET y 1");
    ASSERT_EQ(ctx.diagCount, 0);
    EXPECT_EQ(ctx.stmtCount, 5);
    EXPECT_EQ(&ctx.stmtPool[0], ctx.root);
    EXPECT_EQ(ctx.stmtPool[1].kind, STMT_BLOQUE);
    EXPECT_EQ(ctx.stmtPool[2].kind, STMT_SHOOT);
    EXPECT_EQ(ctx.stmtPool[3].kind, STMT_WHILE);
    EXPECT_EQ(ctx.stmtPool[4].kind, STMT_SET);
}

TEST(StatementParser, EmptyAndCommentOnlyPrograms) {
    const char* sources[] = {"", "// nada\n   // otra\n", "\n\n   "};
    for (const char* src : sources) {
        SCOPED_TRACE(src);
        StmtNode* root = parse(src);
        ASSERT_NE(root, nullptr);
        EXPECT_EQ(ctx.root, root);
        EXPECT_EQ(ctx.diagCount, 0);
        EXPECT_EQ(root->kind, STMT_BLOQUE);
        EXPECT_EQ(root->body, nullptr);
        EXPECT_EQ(root->line, ctx.tokens[0].line);
        EXPECT_EQ(root->col, ctx.tokens[0].col);
    }
}

TEST(StatementParser, NoContextOrNoTokens) {
    EXPECT_EQ(parse_program(nullptr), nullptr);
    std::memset(&ctx, 0, sizeof ctx);
    StmtNode marker{};
    ctx.root = &marker;
    EXPECT_EQ(parse_program(&ctx), nullptr);
    EXPECT_EQ(ctx.root, &marker);
    EXPECT_EQ(ctx.stmtCount, 0);
}

// Every syntax error with its text and position, and the tree stored after it.
TEST(StatementParser, SyntaxErrors) {
    struct Case {
        const char* source;
        std::string message;
        int line, col;
        const char* tree;
    };
    const std::string instr = INSTRUCTION_MSG;
    const Case cases[] = {
        {"MOVE 3", DIRECTION_MSG + std::string("'3'"), 1, 6, "Programa\n"},
        {"SHOOT MOVE", DIRECTION_MSG + std::string("el fin del archivo"), 1, 11, "Programa\n  SHOOT\n"},
        {"SET 5 3", "Se esperaba el nombre de una variable pero se encontró '5'", 1, 5, "Programa\n"},
        {"REPEAT 3 SHOOT", "Se esperaba '{' pero se encontró 'SHOOT'", 1, 10, "Programa\n"},
        {"WHILE x { SHOOT", "Se esperaba '}' pero se encontró el fin del archivo", 1, 16,
         "Programa\n  WHILE\n    VAR x\n    BLOQUE\n      SHOOT\n"},
        {"WHILE x { MOVE }", DIRECTION_MSG + std::string("'}'"), 1, 16, "Programa\n  WHILE\n    VAR x\n    BLOQUE\n"},
        {"SHOOT\n}", instr + "'}'", 2, 1, "Programa\n  SHOOT\n"},
        {"SHOOT else SHOOT", instr + "'else'", 1, 7, "Programa\n  SHOOT\n"},
        {"IF c { } SHOOT ELSE { }", instr + "'ELSE'", 1, 16, "Programa\n  IF\n    VAR c\n    BLOQUE\n  SHOOT\n"},
        {"SHOOT IF c { } ELSE IF d { }", "Se esperaba '{' pero se encontró 'IF'", 1, 21, "Programa\n  SHOOT\n"},
        {"SET x 1 2", instr + "'2'", 1, 9, "Programa\n  SET x\n    NUM 1\n"},
        {"SET x (1 + 2", "Se esperaba ')' pero se encontró el fin del archivo", 1, 13, "Programa\n"},
        {"SET x random(1,)", OPERAND_MSG + std::string("')'"), 1, 16, "Programa\n"},
        {"SET x random(1", "Se esperaba ')' pero se encontró el fin del archivo", 1, 15, "Programa\n"},
        {"SET x +5", OPERAND_MSG + std::string("'+'"), 1, 7, "Programa\n"},
        {"WAIT SHOOT", OPERAND_MSG + std::string("'SHOOT'"), 1, 6, "Programa\n"},
        {"wait shoot", OPERAND_MSG + std::string("'shoot'"), 1, 6, "Programa\n"},
        {"WAIT", OPERAND_MSG + std::string("el fin del archivo"), 1, 5, "Programa\n"},
        {"x", instr + "'x'", 1, 1, "Programa\n"},
        {"UP", instr + "'UP'", 1, 1, "Programa\n"},
        {"SET x 1 *", OPERAND_MSG + std::string("el fin del archivo"), 1, 10, "Programa\n"},
        {"IF TRUE { SHOOT } ELSE SHOOT", "Se esperaba '{' pero se encontró 'SHOOT'", 1, 24, "Programa\n"},
        // An inner block whose statement failed is still handed to its owner.
        {"WHILE a { WHILE b { MOVE } SHOOT } SHOOT", DIRECTION_MSG + std::string("'}'"), 1, 26,
         "Programa\n  WHILE\n    VAR a\n    BLOQUE\n      WHILE\n        VAR b\n        BLOQUE\n"},
        {"REPEAT 2 { SHOOT SET 1 }", "Se esperaba el nombre de una variable pero se encontró '1'", 1, 22,
         "Programa\n  REPEAT\n    NUM 2\n    BLOQUE\n      SHOOT\n"},
        // After an error the closing brace is left alone, so the ELSE is never reached.
        {"IF c { MOVE } ELSE { SHOOT }", DIRECTION_MSG + std::string("'}'"), 1, 13,
         "Programa\n  IF\n    VAR c\n    BLOQUE\n"},
        // The IF is built from its failed block and still takes the ELSE that follows.
        {"IF c { SHOOT ELSE { SHOOT } }", instr + "'ELSE'", 1, 14,
         "Programa\n  IF\n    VAR c\n    BLOQUE\n      SHOOT\n  ELSE\n    BLOQUE\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        StmtNode* root = parse(c.source);
        ASSERT_NE(root, nullptr);
        EXPECT_EQ(ctx.root, root);
        ASSERT_EQ(ctx.diagCount, 1);
        EXPECT_EQ(ctx.diags[0].phase, PHASE_SINTACTICO);
        EXPECT_EQ(ctx.diags[0].message, c.message);
        EXPECT_EQ(ctx.diags[0].line, c.line);
        EXPECT_EQ(ctx.diags[0].col, c.col);
        EXPECT_EQ(tree_text(), c.tree);
    }
}

// The unlinked IF of IF c { } ELSE IF d { } stays in the pool, out of the tree.
TEST(StatementParser, ElseWithoutBlockLeavesIfUnlinked) {
    parse("IF c { } ELSE IF d { }");
    ASSERT_EQ(ctx.diagCount, 1);
    EXPECT_EQ(ctx.root->body, nullptr);
    EXPECT_EQ(ctx.stmtCount, 3);
    EXPECT_EQ(ctx.stmtPool[2].kind, STMT_IF);
    EXPECT_EQ(ctx.stmtPool[2].elseBody, nullptr);
}

// The 64th nested block is the deepest one; an expression there has no level left.
TEST(StatementParser, NestedBlocks) {
    struct Case {
        const char* inner;
        bool accepted;
    };
    const Case cases[] = {{"SHOOT", true}, {"START END MOVE LEFT SHIELD", true}, {"SET x 1", false}, {"WAIT 1", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.inner);
        std::string open = repeat("WHILE 1 { ", 64);
        std::string src = open + c.inner + repeat(" }", 64);
        parse(src);
        if (c.accepted) {
            EXPECT_EQ(ctx.diagCount, 0) << ctx.diags[0].message;
            const StmtNode* s = ctx.root->body;
            int depth = 0;
            while (s != nullptr && s->kind == STMT_WHILE) {
                depth++;
                s = s->body->body;
            }
            EXPECT_EQ(depth, 64);
        } else {
            ASSERT_EQ(ctx.diagCount, 1);
            EXPECT_STREQ(ctx.diags[0].message, EXPR_DEPTH_MSG);
            int valueCol = static_cast<int>(open.size() + std::strlen(c.inner));  // the last word, a "1"
            EXPECT_EQ(ctx.diags[0].col, valueCol);
        }
    }
}

// The block guard: a block opened with the counter already at 64.
TEST(StatementParser, BlockNestingGuard) {
    lex("{ SHOOT }");
    Parser p{&ctx, 0, 0, MAX_DEPTH};
    StmtNode* block = parse_block(&p);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->kind, STMT_BLOQUE);
    EXPECT_EQ(block->body, nullptr);
    EXPECT_EQ(p.depth, MAX_DEPTH);
    ASSERT_EQ(ctx.diagCount, 1);
    EXPECT_STREQ(ctx.diags[0].message, "Los bloques están anidados demasiado profundo (máximo 64)");
    EXPECT_EQ(ctx.diags[0].col, 3);
    // Inside the limit the same block parses, and the counter comes back.
    lex("{ SHOOT }");
    Parser q{&ctx, 0, 0, MAX_DEPTH - 1};
    block = parse_block(&q);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(ctx.diagCount, 0);
    ASSERT_NE(block->body, nullptr);
    EXPECT_EQ(q.depth, MAX_DEPTH - 1);
    EXPECT_EQ(peek(&q)->type, TOK_EOF);
}

// After a clean parse the counter is 0; after a failed one it is back too.
TEST(StatementParser, DepthAfterBlocks) {
    const char* sources[] = {"{ WHILE 1 { SHOOT } }", "{ WHILE 1 { MOVE } SHOOT }", "{ IF 1 { SHOOT", "{ SHOOT"};
    for (const char* src : sources) {
        SCOPED_TRACE(src);
        lex(src);
        Parser p{&ctx, 0, 0, 0};
        EXPECT_NE(parse_block(&p), nullptr);
        EXPECT_EQ(p.depth, 0);
    }
}

TEST(StatementParser, LargestProgram) {
    parse(repeat("SHOOT ", 2047));
    EXPECT_EQ(ctx.tokenCount, MAX_TOKENS);
    EXPECT_EQ(ctx.diagCount, 0);
    EXPECT_EQ(ctx.stmtCount, MAX_STMTS);
    int n = 0;
    for (const StmtNode* s = ctx.root->body; s != nullptr; s = s->next) n++;
    EXPECT_EQ(n, 2047);
}

// Full pools: the message names the maximum, at the current token; only the
// first report of a parse is kept.
TEST(NodePools, FullPools) {
    lex("SHOOT  SHIELD");
    Parser p{&ctx, 1, 0, 0};
    ctx.stmtCount = MAX_STMTS;
    EXPECT_EQ(alloc_stmt(&p, STMT_SHOOT, 1, 1), nullptr);
    EXPECT_EQ(ctx.stmtCount, MAX_STMTS);
    ASSERT_EQ(ctx.diagCount, 1);
    EXPECT_STREQ(ctx.diags[0].message, "El programa tiene demasiadas instrucciones (máximo 2048)");
    EXPECT_EQ(ctx.diags[0].phase, PHASE_SINTACTICO);
    EXPECT_EQ(ctx.diags[0].col, 8);
    ctx.exprCount = MAX_EXPRS;
    EXPECT_EQ(alloc_expr(&p, EXPR_NUM, 1, 1), nullptr);
    EXPECT_EQ(ctx.diagCount, 1);

    lex("SHOOT");
    Parser q{&ctx, 50, 0, 0};
    ctx.exprCount = MAX_EXPRS;
    EXPECT_EQ(alloc_expr(&q, EXPR_NUM, 1, 1), nullptr);
    EXPECT_EQ(q.pos, 1);  // clamped onto EOF and stored back
    ASSERT_EQ(ctx.diagCount, 1);
    EXPECT_STREQ(ctx.diags[0].message, "El programa tiene demasiadas expresiones (máximo 2048)");
    EXPECT_EQ(ctx.diags[0].col, 6);

    // A count outside the pool never hands out a slot.
    lex("SHOOT");
    Parser r{&ctx, 0, 0, 0};
    ctx.stmtCount = -1;
    EXPECT_EQ(alloc_stmt(&r, STMT_SHOOT, 1, 1), nullptr);
    ctx.exprCount = -3;
    EXPECT_EQ(alloc_expr(&r, EXPR_NUM, 1, 1), nullptr);
}

// The last statement node: the root takes slot 2047, the SHOOT finds the pool full
// and the report points at the token after it.
TEST(NodePools, FullPoolDuringParse) {
    lex("SHOOT");
    ctx.stmtCount = MAX_STMTS - 1;
    StmtNode* root = parse_program(&ctx);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->body, nullptr);
    ASSERT_EQ(ctx.diagCount, 1);
    EXPECT_STREQ(ctx.diags[0].message, "El programa tiene demasiadas instrucciones (máximo 2048)");
    EXPECT_EQ(ctx.diags[0].col, 6);

    lex("SET x random(1)");
    ctx.exprCount = MAX_EXPRS - 1;
    parse_program(&ctx);
    ASSERT_EQ(ctx.diagCount, 1);
    EXPECT_STREQ(ctx.diags[0].message, "El programa tiene demasiadas expresiones (máximo 2048)");
    // The CALL took the last node; the NUM is refused once its 1 has been read.
    EXPECT_EQ(ctx.diags[0].col, 15);
    EXPECT_EQ(tree_text(), "Programa\n");
}

TEST(NodePools, FreshNodes) {
    std::memset(&ctx, 0, sizeof ctx);
    std::memset(ctx.stmtPool, 0xAB, sizeof ctx.stmtPool);
    std::memset(ctx.exprPool, 0xCD, sizeof ctx.exprPool);
    Parser p{&ctx, 0, 0, 0};
    StmtNode* s = alloc_stmt(&p, STMT_WAIT, 4, 9);
    ASSERT_EQ(s, &ctx.stmtPool[0]);
    EXPECT_EQ(s->kind, STMT_WAIT);
    EXPECT_EQ(s->line, 4);
    EXPECT_EQ(s->col, 9);
    EXPECT_EQ(s->dir, 0);
    EXPECT_EQ(s->varSlot, -1);
    EXPECT_EQ(s->name[0], '\0');
    EXPECT_EQ(s->expr, nullptr);
    EXPECT_EQ(s->body, nullptr);
    EXPECT_EQ(s->elseBody, nullptr);
    EXPECT_EQ(s->next, nullptr);
    EXPECT_EQ(ctx.stmtCount, 1);
    ExprNode* e = alloc_expr(&p, EXPR_CALL, 2, 3);
    ASSERT_EQ(e, &ctx.exprPool[0]);
    EXPECT_EQ(e->kind, EXPR_CALL);
    EXPECT_EQ(e->op, 0);
    EXPECT_EQ(e->value, 0.0);
    EXPECT_EQ(e->varSlot, -1);
    EXPECT_EQ(e->funcIndex, -1);
    EXPECT_EQ(e->argCount, 0);
    EXPECT_EQ(e->name[0], '\0');
    EXPECT_EQ(e->line, 2);
    EXPECT_EQ(e->col, 3);
    EXPECT_EQ(e->left, nullptr);
    EXPECT_EQ(e->right, nullptr);
    EXPECT_EQ(ctx.exprCount, 1);
    EXPECT_EQ(ctx.diagCount, 0);
}

TEST(SyntaxTree, OperatorTextAndNames) {
    struct Case {
        int32_t op;
        const char* text;
    };
    const Case cases[] = {
        {TOK_SUMA, "+"},      {TOK_RESTA, "-"}, {TOK_MULT, "*"},         {TOK_DIV, "/"},          {TOK_MOD, "%"},
        {TOK_MENOR, "<"},     {TOK_MAYOR, ">"}, {TOK_MENOR_IGUAL, "<="}, {TOK_MAYOR_IGUAL, ">="}, {TOK_IGUAL, "=="},
        {TOK_DISTINTO, "!="}, {TOK_AND, "&&"},  {TOK_OR, "||"},          {TOK_NOT, "!"},          {TOK_LLAVE_IZQ, "?"},
        {TOK_EOF, "?"},       {-1, "?"},        {TOKEN_TYPE_COUNT, "?"},
    };
    for (const Case& c : cases) EXPECT_STREQ(operator_text(c.op), c.text) << c.op;

    char name[NAME_SIZE];
    std::memset(name, 'q', sizeof name);
    copy_name(name, "abcdefghijklmnopqrstuvwxyz0123");
    EXPECT_STREQ(name, "abcdefghijklmnopqrstuvw");
    copy_name(name, "x");
    EXPECT_STREQ(name, "x");
    copy_name(name, nullptr);
    EXPECT_STREQ(name, "");
}

TEST(SyntaxTree, OnlyFirstSyntaxErrorKept) {
    std::memset(&ctx, 0, sizeof ctx);
    Parser p{&ctx, 0, 0, 0};
    Token t{TOK_NUMERO, 3, 4, 0.0, "9"};
    report_syntax_error(&p, &t, "uno %d", 1);
    report_syntax_error(&p, &t, "dos");
    ASSERT_EQ(ctx.diagCount, 1);
    EXPECT_EQ(p.hadError, 1);
    EXPECT_STREQ(ctx.diags[0].message, "uno 1");
    EXPECT_EQ(ctx.diags[0].line, 3);
    EXPECT_EQ(ctx.diags[0].col, 4);
    // A long message keeps its first 159 bytes.
    Parser q{&ctx, 0, 0, 0};
    std::string longText = repeat("abcdefghij", 20);
    report_syntax_error(&q, &t, "%s", longText.c_str());
    ASSERT_EQ(ctx.diagCount, 2);
    EXPECT_EQ(std::string(ctx.diags[1].message), longText.substr(0, MESSAGE_SIZE - 1));
    // Two errors in one program: only the first is recorded.
    parse("MOVE 3 SET 4");
    ASSERT_EQ(ctx.diagCount, 1);
    EXPECT_EQ(ctx.diags[0].col, 6);
}

}  // namespace
}  // namespace prendax
