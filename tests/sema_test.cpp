// Semantic checks: the variable table, name resolution, every message with
// its position and suggestion, the variable limit and the walk order.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "compiler/context.h"
#include "compiler/pipeline.h"
#include "compiler/sema.h"
#include "compiler/syntax_tree.h"

namespace prendax {
namespace {

CompileResult g_result;
CompilerContext g_ctx;

int compile(const std::string& source) { return compile_source(source.c_str(), &g_result, &g_ctx); }

// Every diagnostic of the last compilation as "line:col message".
std::vector<std::string> messages() {
    std::vector<std::string> out;
    for (int i = 0; i < g_result.errorCount; i++) {
        const Diagnostic& d = g_result.errors[i];
        out.push_back(std::to_string(d.line) + ":" + std::to_string(d.col) + " " + d.message);
    }
    return out;
}

// The i-th top-level statement of the last compilation.
const StmtNode* top(int i) {
    const StmtNode* s = g_ctx.root == nullptr ? nullptr : g_ctx.root->body;
    while (s != nullptr && i-- > 0) s = s->next;
    return s;
}

std::string many_sets(int count) {
    std::string source;
    for (int i = 0; i < count; i++) source += "SET v" + std::to_string(i) + " 1\n";
    return source;
}

TEST(SemaTest, ProblemsAreReportedWithPositionAndSuggestion) {
    struct Case {
        const char* source;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"SET total cuenta", {"1:11 Variable no definida 'cuenta'. Usa SET para crearla antes de leerla."}},
        {"SET cuentas 1\nSET total cuenta", {"2:11 Variable no definida 'cuenta'. ¿Quiso decir 'cuentas'?"}},
        // The target of the SET is already a candidate for its own value.
        {"SET y z", {"1:7 Variable no definida 'z'. ¿Quiso decir 'y'?"}},
        {"WAIT scroe", {"1:6 Variable no definida 'scroe'. ¿Quiso decir 'score'?"}},
        // Variable names are case-sensitive; the suggestion folds case.
        {"WAIT Health", {"1:6 Variable no definida 'Health'. ¿Quiso decir 'health'?"}},
        {"WAIT random()", {"1:6 'random' espera 1 argumento y recibió 0"}},
        {"WAIT enemy_left(1)", {"1:6 'enemy_left' espera 0 argumentos y recibió 1"}},
        {"WAIT random(1, 2)", {"1:6 'random' espera 1 argumento y recibió 2"}},
        {"WAIT Random(1, 2, 3)", {"1:6 'Random' espera 1 argumento y recibió 3"}},
        {"IF enemy_ahed() { SHOOT }", {"1:4 Función desconocida 'enemy_ahed'. ¿Quiso decir 'enemy_ahead'?"}},
        {"IF Enemy_Rigth() { SHOOT }", {"1:4 Función desconocida 'Enemy_Rigth'. ¿Quiso decir 'enemy_right'?"}},
        {"IF fire() { SHOOT }",
         {"1:4 Función desconocida 'fire'. Disponibles: enemy_ahead(), enemy_left(), enemy_right(), random(n)"}},
        {"SET health 5", {"1:1 'health' es una variable reservada y no se puede modificar"}},
        {"  SET ticks ticks + 1", {"1:3 'ticks' es una variable reservada y no se puede modificar"}},
        {"SET a 10 / 0", {"1:10 División entre cero: el divisor es 0"}},
        {"SET a 10 % 0", {"1:10 División entre cero: el divisor es 0"}},
        {"SET a 10 / 0.0", {"1:10 División entre cero: el divisor es 0"}},
        // A read earlier in the text than every SET of its name is an error, loops or not.
        {"WHILE k < 3 { SET k k + 1 }", {"1:7 Variable no definida 'k'. Usa SET para crearla antes de leerla."}},
        // Message order: definition, then the value; left operand, right operand, divisor.
        {"SET score zz",
         {"1:1 'score' es una variable reservada y no se puede modificar",
          "1:11 Variable no definida 'zz'. Usa SET para crearla antes de leerla."}},
        {"SET a (p + q) / 0",
         {"1:8 Variable no definida 'p'. ¿Quiso decir 'a'?", "1:12 Variable no definida 'q'. ¿Quiso decir 'a'?",
          "1:15 División entre cero: el divisor es 0"}},
        // The whole tree is walked: condition, body, else branch, and past END.
        {"IF bad1 { WAIT bad2 } ELSE { WAIT bad3 }\nEND\nWAIT foo(bad4)",
         {"1:4 Variable no definida 'bad1'. Usa SET para crearla antes de leerla.",
          "1:16 Variable no definida 'bad2'. Usa SET para crearla antes de leerla.",
          "1:35 Variable no definida 'bad3'. Usa SET para crearla antes de leerla.",
          "3:6 Función desconocida 'foo'. Disponibles: enemy_ahead(), enemy_left(), enemy_right(), random(n)"}},
        {"WAIT uno\nSET health 1\nREPEAT dos { SHOOT }",
         {"1:6 Variable no definida 'uno'. Usa SET para crearla antes de leerla.",
          "2:1 'health' es una variable reservada y no se puede modificar",
          "3:8 Variable no definida 'dos'. Usa SET para crearla antes de leerla."}},
        // A bad argument is reported once, under a call that is otherwise right.
        {"WAIT random(nada)", {"1:13 Variable no definida 'nada'. Usa SET para crearla antes de leerla."}},
        // A call with the wrong count is not examined further.
        {"WAIT random(nada, nada)", {"1:6 'random' espera 1 argumento y recibió 2"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(compile(c.source), 0) << c.source;
        EXPECT_EQ(g_result.phase, PHASE_SEMANTICO) << c.source;
        for (int i = 0; i < g_result.errorCount; i++) EXPECT_EQ(g_result.errors[i].phase, PHASE_SEMANTICO);
        EXPECT_EQ(messages(), c.expected) << c.source;
    }
}

TEST(SemaTest, ValidProgramsPass) {
    const char* sources[] = {
        "",
        "SET x x + 1",  // the target exists before its own value is examined
        "SET a 10 / (2 - 2)",
        "SET a 10 / -0",  // a unary minus is not a literal divisor
        "SET a 10 % FALSE",
        "SET y 2 SET a 1 / y",
        "IF Enemy_Ahead() { SHOOT }",
        "WAIT RANDOM(3) WAIT enemy_left() + ENEMY_RIGHT()",
        "WHILE health > 0 { SET n score + enemies_left + level + ticks }",
        "IF 1 { SET z 1 } ELSE { SET z 2 } WAIT z",
        "REPEAT 2 { SET w 1 } WAIT w",  // a SET in a block defines the name for later reads
    };
    for (const char* source : sources) {
        EXPECT_EQ(compile(source), 1) << source;
        EXPECT_EQ(messages(), std::vector<std::string>{}) << source;
    }
}

TEST(SemaTest, VariableTableAndResolvedIndices) {
    ASSERT_EQ(compile("SET x 1\nSET x 2\nSET yy x\nWAIT enemy_ahead() + random(yy)"), 1);
    ASSERT_EQ(g_ctx.varCount, 8);
    for (int i = 0; i < RESERVED_VARS; i++) {
        EXPECT_STREQ(g_ctx.varNames[i], RESERVED_TABLE[i].name);
        EXPECT_EQ(g_ctx.varReadonly[i], 1);
    }
    EXPECT_STREQ(g_ctx.varNames[6], "x");
    EXPECT_STREQ(g_ctx.varNames[7], "yy");
    EXPECT_EQ(g_ctx.varReadonly[6], 0);
    EXPECT_EQ(g_ctx.varReadonly[7], 0);
    EXPECT_EQ(top(0)->varSlot, 6);
    EXPECT_EQ(top(1)->varSlot, 6);
    EXPECT_EQ(top(2)->varSlot, 7);
    EXPECT_EQ(top(2)->expr->varSlot, 6);
    const ExprNode* sum = top(3)->expr;
    EXPECT_EQ(sum->left->funcIndex, BUILTIN_ENEMY_AHEAD);
    EXPECT_EQ(sum->right->funcIndex, BUILTIN_RANDOM);
    EXPECT_EQ(sum->right->left->varSlot, 7);

    ASSERT_EQ(compile("IF Enemy_Ahead() { SHOOT }"), 1);
    EXPECT_EQ(top(0)->expr->funcIndex, 0);
    EXPECT_EQ(g_ctx.varCount, RESERVED_VARS);
}

TEST(SemaTest, FailedNamesKeepTheirMarkers) {
    // A reserved target still gets its index; failed reads and calls keep -1.
    ASSERT_EQ(compile("SET health nada + fire()"), 0);
    EXPECT_EQ(top(0)->varSlot, 0);
    EXPECT_EQ(top(0)->expr->left->varSlot, -1);
    EXPECT_EQ(top(0)->expr->right->funcIndex, -1);
    ASSERT_EQ(compile("WAIT random(nada)"), 0);
    EXPECT_EQ(top(0)->expr->funcIndex, -1);
}

TEST(SemaTest, VariableLimit) {
    const int own = MAX_VARS - RESERVED_VARS;
    ASSERT_EQ(compile(many_sets(own)), 1);
    EXPECT_EQ(g_ctx.varCount, MAX_VARS);
    EXPECT_STREQ(g_ctx.varNames[MAX_VARS - 1], "v57");

    // The 59th name does not fit; each further new name reports again, while a
    // SET of a name already in the table is still fine.
    ASSERT_EQ(compile(many_sets(own + 1) + "SET v3 2\nSET extra 1"), 0);
    EXPECT_EQ(g_result.phase, PHASE_SEMANTICO);
    const std::vector<std::string> expected = {"0:0 Demasiadas variables (máximo 64)",
                                               "0:0 Demasiadas variables (máximo 64)"};
    EXPECT_EQ(messages(), expected);
    EXPECT_EQ(g_ctx.varCount, MAX_VARS);
    EXPECT_EQ(top(own)->varSlot, -1);
    EXPECT_EQ(top(own + 1)->varSlot, 9);
    EXPECT_EQ(top(own + 2)->varSlot, -1);
}

TEST(SemaTest, OnlyTheFirst32ProblemsAreKept) {
    std::string source;
    for (int i = 0; i < 40; i++) source += "WAIT zz" + std::to_string(i) + "\n";
    ASSERT_EQ(compile(source), 0);
    EXPECT_EQ(g_result.phase, PHASE_SEMANTICO);
    ASSERT_EQ(g_result.errorCount, MAX_DIAGNOSTICS);
    EXPECT_EQ(g_result.errors[31].line, 32);
}

TEST(SemaTest, ClosestName) {
    const char* names[] = {"health", "score", "enemies_left", "level", "shield", "ticks", "cuentas", "cuenta"};
    const int count = 8;
    struct Case {
        const char* name;
        int expected;
    };
    const Case cases[] = {
        {"Health", 0},                              // distance 0 after folding case
        {"scroe", 1},                               // a transposition costs 2
        {"scor", 1},                                // deletion
        {"sscore", 1},                              // insertion
        {"levle", 3},    {"cuent", 7},              // 2 edits from cuentas, 1 from cuenta: the closer wins
        {"cuentass", 6},                            // 1 from cuentas, 2 from cuenta
        {"cuentaz", 6},                             // 1 from both: the earlier wins
        {"xyz", -1},     {"tic", 5},   {"ti", -1},  // 3 edits from ticks
        {"", -1},
    };
    for (const Case& c : cases) EXPECT_EQ(closest_name(c.name, names, count), c.expected) << c.name;
    EXPECT_EQ(closest_name("health", names, 0), -1);
    EXPECT_EQ(closest_name("health", names, -1), -1);

    // Only the first 31 bytes take part, whatever the lengths.
    const std::string a(31, 'a');
    const std::string longA = a + "bbbbbbbbbb";
    const std::string longB = a + "cccccccccccccccccccc";
    const char* longNames[] = {"zzz", longB.c_str()};
    EXPECT_EQ(closest_name(longA.c_str(), longNames, 2), 1);
    const std::string shortA(29, 'a');
    EXPECT_EQ(closest_name(shortA.c_str(), longNames, 2), 1);
    const std::string shorterA(28, 'a');
    EXPECT_EQ(closest_name(shorterA.c_str(), longNames, 2), -1);
}

TEST(SemaTest, BuiltinNames) {
    EXPECT_STREQ(builtin_name(0), "enemy_ahead");
    EXPECT_STREQ(builtin_name(1), "enemy_left");
    EXPECT_STREQ(builtin_name(2), "enemy_right");
    EXPECT_STREQ(builtin_name(3), "random");
    EXPECT_STREQ(builtin_name(4), "?");
    EXPECT_STREQ(builtin_name(-1), "?");
}

// Trees the parser never builds, made by hand from the pools.
class MalformedTreeTest : public ::testing::Test {
protected:
    Parser parser{};

    void SetUp() override {
        std::memset(&g_ctx, 0, sizeof g_ctx);
        parser.ctx = &g_ctx;
        g_ctx.root = alloc_stmt(&parser, STMT_BLOQUE, 1, 1);
    }
};

TEST_F(MalformedTreeTest, UnknownKindsAreReportedAndTheWalkGoesOn) {
    StmtNode* bad = alloc_stmt(&parser, static_cast<StmtKind>(42), 2, 3);
    StmtNode* wait = alloc_stmt(&parser, STMT_WAIT, 4, 1);
    wait->expr = alloc_expr(&parser, static_cast<ExprKind>(-7), 4, 6);
    StmtNode* set = alloc_stmt(&parser, STMT_SET, 5, 1);
    std::strcpy(set->name, "x");  // no value at all: fails without a message
    StmtNode* negate = alloc_stmt(&parser, STMT_WAIT, 6, 1);
    negate->expr = alloc_expr(&parser, EXPR_UNARIO, 6, 6);  // no operand: fails without a message
    g_ctx.root->body = bad;
    bad->next = wait;
    wait->next = set;
    set->next = negate;

    EXPECT_EQ(sema_check(&g_ctx), 0);
    ASSERT_EQ(g_ctx.diagCount, 2);
    EXPECT_STREQ(g_ctx.diags[0].message, "Instrucción no válida");
    EXPECT_EQ(g_ctx.diags[0].line, 2);
    EXPECT_EQ(g_ctx.diags[0].col, 3);
    EXPECT_STREQ(g_ctx.diags[1].message, "Expresión no válida");
    EXPECT_EQ(g_ctx.diags[1].line, 4);
    EXPECT_EQ(g_ctx.diags[1].col, 6);
    EXPECT_EQ(set->varSlot, 6);
}

TEST_F(MalformedTreeTest, EmptyAndAbsentTrees) {
    EXPECT_EQ(sema_check(&g_ctx), 1);
    EXPECT_EQ(g_ctx.varCount, RESERVED_VARS);
    EXPECT_EQ(check_stmt_list(&g_ctx, nullptr), 1);
    EXPECT_EQ(check_expr(&g_ctx, nullptr), 0);
    g_ctx.root = nullptr;
    EXPECT_EQ(sema_check(&g_ctx), 0);
    EXPECT_EQ(g_ctx.varCount, RESERVED_VARS);
    EXPECT_EQ(g_ctx.diagCount, 0);
    EXPECT_EQ(sema_check(nullptr), 0);
}

TEST_F(MalformedTreeTest, LiteralDivisorsNoSourceCanWrite) {
    // Numbers in the source carry no sign; a tree may still hold -0 or -3.
    struct Case {
        int32_t op;
        double divisor;
        int passes;
    };
    const Case cases[] = {{TOK_DIV, -0.0, 0}, {TOK_MOD, -0.0, 0}, {TOK_DIV, -3.0, 1}, {TOK_MULT, 0.0, 1}};
    for (const Case& c : cases) {
        SetUp();
        ExprNode* x = alloc_expr(&parser, EXPR_BINARIO, 3, 9);
        x->op = c.op;
        x->left = alloc_expr(&parser, EXPR_NUM, 3, 7);
        x->right = alloc_expr(&parser, EXPR_NUM, 3, 11);
        x->right->value = c.divisor;
        EXPECT_EQ(check_expr(&g_ctx, x), c.passes) << c.op << " " << c.divisor;
        EXPECT_EQ(g_ctx.diagCount, 1 - c.passes);
        if (!c.passes) {
            EXPECT_STREQ(g_ctx.diags[0].message, "División entre cero: el divisor es 0");
            EXPECT_EQ(g_ctx.diags[0].line, 3);
            EXPECT_EQ(g_ctx.diags[0].col, 9);
        }
    }
}

TEST_F(MalformedTreeTest, AnEarlierDiagnosticFailsTheCheck) {
    add_diagnostic(&g_ctx, PHASE_LEXICO, 1, 1, "previo");
    EXPECT_EQ(sema_check(&g_ctx), 0);
}

}  // namespace
}  // namespace prendax
