// Code generator: instruction sequences of real programs, jump targets, the
// closing HALT, the listing of a compiled program, and failures on trees the
// parser never builds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "compiler/codegen.h"
#include "compiler/context.h"
#include "compiler/pipeline.h"
#include "compiler/syntax_tree.h"

namespace prendax {
namespace {

CompileResult g_result;
CompilerContext g_ctx;

using Names = std::vector<std::string>;

int compile(const std::string& source) { return compile_source(source.c_str(), &g_result, &g_ctx); }

Names op_names() {
    Names out;
    for (int i = 0; i < g_result.codeCount; i++) out.push_back(opcode_name(g_result.code[i].op));
    return out;
}

bool is_jump(uint8_t op) { return op == OP_JMP || op == OP_JZ || op == OP_JNZ || op == OP_REPEAT_START; }

// Every jump of the result lands on an instruction.
void expect_jumps_inside(const std::string& source) {
    for (int i = 0; i < g_result.codeCount; i++) {
        const Instruction& ins = g_result.code[i];
        if (!is_jump(ins.op)) continue;
        EXPECT_GE(ins.arg, 0) << source << " at " << i;
        EXPECT_LT(ins.arg, g_result.codeCount) << source << " at " << i;
    }
}

struct Expected {
    const char* op;
    int32_t arg;
    double num;
    int16_t line;
};

TEST(CodegenTest, ExampleProgramInstructionByInstruction) {
    const char* source =
        "START\n"
        "REPEAT 4 { SHOOT WAIT 8 MOVE RIGHT }\n"
        "WHILE health > 0 {\n"
        "IF enemy_ahead() { SHOOT } ELSE { MOVE LEFT }\n"
        "WAIT 3\n"
        "}\n"
        "END\n";
    ASSERT_EQ(compile(source), 1);
    const Expected expected[] = {
        {"PUSH", 0, 4.0, 2}, {"REPEAT_START", 7, 0.0, 2}, {"SHOOT", 0, 0.0, 2},      {"PUSH", 0, 8.0, 2},
        {"WAIT", 0, 0.0, 2}, {"MOVE_RIGHT", 0, 0.0, 2},   {"REPEAT_END", 0, 0.0, 2}, {"LOAD", 0, 0.0, 3},
        {"PUSH", 0, 0.0, 3}, {"GT", 0, 0.0, 3},           {"JZ", 19, 0.0, 3},        {"CALL", 0, 0.0, 4},
        {"JZ", 15, 0.0, 4},  {"SHOOT", 0, 0.0, 4},        {"JMP", 16, 0.0, 4},       {"MOVE_LEFT", 0, 0.0, 4},
        {"PUSH", 0, 3.0, 5}, {"WAIT", 0, 0.0, 5},         {"JMP", 7, 0.0, 3},        {"HALT", 0, 0.0, 7},
    };
    const int count = sizeof expected / sizeof expected[0];
    ASSERT_EQ(g_result.codeCount, count);
    for (int i = 0; i < count; i++) {
        const Instruction& ins = g_result.code[i];
        EXPECT_STREQ(opcode_name(ins.op), expected[i].op) << i;
        EXPECT_EQ(ins.arg, expected[i].arg) << i;
        EXPECT_EQ(ins.num, expected[i].num) << i;
        EXPECT_EQ(ins.line, expected[i].line) << i;
    }
    EXPECT_STREQ(g_result.disasm,
                 "0000  PUSH           4\n"
                 "0001  REPEAT_START   0007\n"
                 "0002  SHOOT\n"
                 "0003  PUSH           8\n"
                 "0004  WAIT\n"
                 "0005  MOVE_RIGHT\n"
                 "0006  REPEAT_END\n"
                 "0007  LOAD           health\n"
                 "0008  PUSH           0\n"
                 "0009  GT\n"
                 "0010  JZ             0019\n"
                 "0011  CALL           enemy_ahead\n"
                 "0012  JZ             0015\n"
                 "0013  SHOOT\n"
                 "0014  JMP            0016\n"
                 "0015  MOVE_LEFT\n"
                 "0016  PUSH           3\n"
                 "0017  WAIT\n"
                 "0018  JMP            0007\n"
                 "0019  HALT\n");
}

TEST(CodegenTest, InstructionSequences) {
    struct Case {
        const char* source;
        Names ops;
    };
    const Case cases[] = {
        {"", {"HALT"}},
        {"START", {"HALT"}},
        {"SHOOT", {"SHOOT", "HALT"}},
        {"SHOOT END", {"SHOOT", "HALT"}},
        {"START SHOOT END SHOOT", {"SHOOT", "HALT"}},
        {"REPEAT 2 { SHOOT END SHOOT }", {"PUSH", "REPEAT_START", "SHOOT", "HALT", "REPEAT_END", "HALT"}},
        {"SET y 1 SET x -y", {"PUSH", "STORE", "LOAD", "NEG", "STORE", "HALT"}},
        {"SET a 1 SET b NOT a", {"PUSH", "STORE", "LOAD", "NOT", "STORE", "HALT"}},
        {"SET a 1 SET b !a", {"PUSH", "STORE", "LOAD", "NOT", "STORE", "HALT"}},
        {"SET b TRUE", {"PUSH", "STORE", "HALT"}},
        {"SET a 1 SET b 0 SET c a AND b", {"PUSH", "STORE", "PUSH", "STORE", "LOAD", "LOAD", "AND", "STORE", "HALT"}},
        {"MOVE UP MOVE DOWN MOVE LEFT MOVE RIGHT SHIELD",
         {"MOVE_UP", "MOVE_DOWN", "MOVE_LEFT", "MOVE_RIGHT", "SHIELD", "HALT"}},
        {"WAIT random(5)", {"PUSH", "CALL", "WAIT", "HALT"}},
        {"WAIT enemy_left() + enemy_right()", {"CALL", "CALL", "ADD", "WAIT", "HALT"}},
        {"WAIT 1 + 2 * 3", {"PUSH", "PUSH", "PUSH", "MUL", "ADD", "WAIT", "HALT"}},
        {"WAIT 1 - 2", {"PUSH", "PUSH", "SUB", "WAIT", "HALT"}},
        {"WAIT 1 / 2", {"PUSH", "PUSH", "DIV", "WAIT", "HALT"}},
        {"WAIT 1 % 2", {"PUSH", "PUSH", "MOD", "WAIT", "HALT"}},
        {"WAIT 1 < 2", {"PUSH", "PUSH", "LT", "WAIT", "HALT"}},
        {"WAIT 1 > 2", {"PUSH", "PUSH", "GT", "WAIT", "HALT"}},
        {"WAIT 1 <= 2", {"PUSH", "PUSH", "LE", "WAIT", "HALT"}},
        {"WAIT 1 >= 2", {"PUSH", "PUSH", "GE", "WAIT", "HALT"}},
        {"WAIT 1 == 2", {"PUSH", "PUSH", "EQ", "WAIT", "HALT"}},
        {"WAIT 1 != 2", {"PUSH", "PUSH", "NE", "WAIT", "HALT"}},
        {"WAIT 1 && 2", {"PUSH", "PUSH", "AND", "WAIT", "HALT"}},
        {"WAIT 1 OR 2", {"PUSH", "PUSH", "OR", "WAIT", "HALT"}},
        {"WAIT 1 || 2", {"PUSH", "PUSH", "OR", "WAIT", "HALT"}},
        {"REPEAT 0 { }", {"PUSH", "REPEAT_START", "REPEAT_END", "HALT"}},
        {"WAIT 1000", {"PUSH", "WAIT", "HALT"}},
        {"SET y 0 SET x 1 / y", {"PUSH", "STORE", "PUSH", "LOAD", "DIV", "STORE", "HALT"}},
        {"WHILE 1 { }", {"PUSH", "JZ", "JMP", "HALT"}},
        {"WHILE 1 { END }", {"PUSH", "JZ", "HALT", "JMP", "HALT"}},
        {"IF 1 { END } SHOOT END", {"PUSH", "JZ", "HALT", "SHOOT", "HALT"}},
        {"IF 1 { END } ELSE { SHOOT }", {"PUSH", "JZ", "HALT", "JMP", "SHOOT", "HALT"}},
        // An IF whose last branch ends with END still gets a HALT to jump to.
        {"IF 1 { END }", {"PUSH", "JZ", "HALT", "HALT"}},
        {"IF 1 { SHOOT } ELSE { SHIELD END }", {"PUSH", "JZ", "SHOOT", "JMP", "SHIELD", "HALT", "HALT"}},
        {"SHOOT IF 1 { IF 2 { END } }", {"SHOOT", "PUSH", "JZ", "PUSH", "JZ", "HALT", "HALT"}},
        {"IF 1 { END } END", {"PUSH", "JZ", "HALT", "HALT"}},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(compile(c.source), 1) << c.source;
        EXPECT_EQ(op_names(), c.ops) << c.source;
        expect_jumps_inside(c.source);
    }
}

TEST(CodegenTest, OperandsAndTargets) {
    struct Case {
        const char* source;
        std::vector<Expected> code;
    };
    const Case cases[] = {
        {"SET b TRUE SET c FALSE",
         {{"PUSH", 0, 1.0, 1}, {"STORE", 6, 0.0, 1}, {"PUSH", 0, 0.0, 1}, {"STORE", 7, 0.0, 1}, {"HALT", 0, 0.0, 0}}},
        {"SET a 1 SET b 0 SET c a AND b",
         {{"PUSH", 0, 1.0, 1},
          {"STORE", 6, 0.0, 1},
          {"PUSH", 0, 0.0, 1},
          {"STORE", 7, 0.0, 1},
          {"LOAD", 6, 0.0, 1},
          {"LOAD", 7, 0.0, 1},
          {"AND", 0, 0.0, 1},
          {"STORE", 8, 0.0, 1},
          {"HALT", 0, 0.0, 0}}},
        {"SET c 1\nIF c { SHOOT }",
         {{"PUSH", 0, 1.0, 1},
          {"STORE", 6, 0.0, 1},
          {"LOAD", 6, 0.0, 2},
          {"JZ", 5, 0.0, 2},
          {"SHOOT", 0, 0.0, 2},
          {"HALT", 0, 0.0, 0}}},
        {"IF 1 { SHOOT }\nELSE {\nSHIELD }",
         {{"PUSH", 0, 1.0, 1},
          {"JZ", 4, 0.0, 1},
          {"SHOOT", 0, 0.0, 1},
          {"JMP", 5, 0.0, 1},
          {"SHIELD", 0, 0.0, 3},
          {"HALT", 0, 0.0, 0}}},
        // Each REPEAT_START points just past its own REPEAT_END.
        {"REPEAT 2 {\nREPEAT 3 { SHOOT }\nSHIELD }",
         {{"PUSH", 0, 2.0, 1},
          {"REPEAT_START", 8, 0.0, 1},
          {"PUSH", 0, 3.0, 2},
          {"REPEAT_START", 6, 0.0, 2},
          {"SHOOT", 0, 0.0, 2},
          {"REPEAT_END", 0, 0.0, 2},
          {"SHIELD", 0, 0.0, 3},
          {"REPEAT_END", 0, 0.0, 1},
          {"HALT", 0, 0.0, 0}}},
        // Expression instructions carry their node's line, the operator's for operators.
        {"SET x\n1 +\n2\nWAIT random(\nx)",
         {{"PUSH", 0, 1.0, 2},
          {"PUSH", 0, 2.0, 3},
          {"ADD", 0, 0.0, 2},
          {"STORE", 6, 0.0, 1},
          {"LOAD", 6, 0.0, 5},
          {"CALL", 3, 0.0, 4},
          {"WAIT", 0, 0.0, 4},
          {"HALT", 0, 0.0, 0}}},
        {"WAIT 0.5 -\n-\n2",
         {{"PUSH", 0, 0.5, 1},
          {"PUSH", 0, 2.0, 3},
          {"NEG", 0, 0.0, 2},
          {"SUB", 0, 0.0, 1},
          {"WAIT", 0, 0.0, 1},
          {"HALT", 0, 0.0, 0}}},
        {"IF 1 {\nEND\n}", {{"PUSH", 0, 1.0, 1}, {"JZ", 3, 0.0, 1}, {"HALT", 0, 0.0, 2}, {"HALT", 0, 0.0, 0}}},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(compile(c.source), 1) << c.source;
        ASSERT_EQ(g_result.codeCount, static_cast<int>(c.code.size())) << c.source;
        for (int i = 0; i < g_result.codeCount; i++) {
            const Instruction& ins = g_result.code[i];
            EXPECT_STREQ(opcode_name(ins.op), c.code[i].op) << c.source << " at " << i;
            EXPECT_EQ(ins.arg, c.code[i].arg) << c.source << " at " << i;
            EXPECT_EQ(ins.num, c.code[i].num) << c.source << " at " << i;
            EXPECT_EQ(ins.line, c.code[i].line) << c.source << " at " << i;
        }
    }
}

TEST(CodegenTest, VariableTableAndListingReachTheResult) {
    ASSERT_EQ(compile("SET abcdefghijklmnopqrstuvw 1 SET k abcdefghijklmnopqrstuvw"), 1);
    ASSERT_EQ(g_result.varCount, 8);
    for (int i = 0; i < 8; i++) {
        EXPECT_STREQ(g_result.varNames[i], g_ctx.varNames[i]);
        EXPECT_EQ(g_result.varReadonly[i], i < RESERVED_VARS ? 1 : 0);
    }
    EXPECT_STREQ(g_result.varNames[6], "abcdefghijklmnopqrstuvw");
    EXPECT_STREQ(g_result.disasm,
                 "0000  PUSH           1\n"
                 "0001  STORE          abcdefghijklmnopqrstuvw\n"
                 "0002  LOAD           abcdefghijklmnopqrstuvw\n"
                 "0003  STORE          k\n"
                 "0004  HALT\n");
    ASSERT_EQ(compile(""), 1);
    EXPECT_EQ(g_result.varCount, RESERVED_VARS);
    EXPECT_STREQ(g_result.disasm, "0000  HALT\n");
    EXPECT_EQ(g_result.code[0].line, 0);
}

TEST(CodegenTest, ProgramsAtTheTokenLimitFit) {
    // 2047 tokens: 2047 instructions and the closing HALT fill the program exactly.
    std::string shots;
    for (int i = 0; i < MAX_TOKENS - 1; i++) shots += "SHOOT ";
    ASSERT_EQ(compile(shots), 1);
    EXPECT_EQ(g_result.codeCount, MAX_CODE);
    EXPECT_EQ(g_result.code[MAX_CODE - 1].op, OP_HALT);
    EXPECT_EQ(g_result.code[MAX_CODE - 1].line, 0);

    // The HALT after an IF ending with END fits as well.
    std::string tail;
    for (int i = 0; i < MAX_TOKENS - 1 - 5; i++) tail += "SHOOT ";
    tail += "IF 1 { END }";
    ASSERT_EQ(compile(tail), 1);
    EXPECT_EQ(g_result.codeCount, MAX_TOKENS - 5 + 3);
    expect_jumps_inside("tail");
}

// Trees the parser never builds, made by hand from the pools.
class CodegenTreeTest : public ::testing::Test {
protected:
    Parser parser{};

    void SetUp() override {
        std::memset(&g_ctx, 0, sizeof g_ctx);
        std::memset(&g_result, 0, sizeof g_result);
        parser.ctx = &g_ctx;
        g_ctx.root = alloc_stmt(&parser, STMT_BLOQUE, 1, 1);
        g_ctx.varCount = RESERVED_VARS + 1;
    }

    StmtNode* stmt(StmtKind kind, int32_t line, int32_t col) { return alloc_stmt(&parser, kind, line, col); }

    ExprNode* num(double value, int32_t line) {
        ExprNode* x = alloc_expr(&parser, EXPR_NUM, line, 1);
        x->value = value;
        return x;
    }

    ExprNode* binary(int32_t op, ExprNode* left, ExprNode* right, int32_t line, int32_t col) {
        ExprNode* x = alloc_expr(&parser, EXPR_BINARIO, line, col);
        x->op = op;
        x->left = left;
        x->right = right;
        return x;
    }

    // Links the statements as the program's top-level list.
    void program(std::vector<StmtNode*> list) {
        g_ctx.root->body = list.empty() ? nullptr : list[0];
        for (std::size_t i = 1; i < list.size(); i++) list[i - 1]->next = list[i];
    }

    std::vector<std::string> diagnostics() {
        std::vector<std::string> out;
        for (int i = 0; i < g_ctx.diagCount; i++) {
            const Diagnostic& d = g_ctx.diags[i];
            EXPECT_EQ(d.phase, PHASE_CODIGO);
            out.push_back(std::to_string(d.line) + ":" + std::to_string(d.col) + " " + d.message);
        }
        return out;
    }
};

TEST_F(CodegenTreeTest, UnsupportedOperatorStopsAfterTheStatementUnderWay) {
    // SET x (1 , 2) + 3, then SHOOT: the outer ADD and the STORE are still requested.
    StmtNode* set = stmt(STMT_SET, 2, 1);
    set->varSlot = 6;
    set->expr = binary(TOK_SUMA, binary(TOK_COMA, num(1, 2), num(2, 2), 2, 9), num(3, 2), 2, 14);
    program({set, stmt(STMT_SHOOT, 3, 1)});
    EXPECT_EQ(codegen(&g_ctx, &g_result), 0);
    EXPECT_EQ(op_names(), (Names{"PUSH", "PUSH", "ADD", "STORE", "HALT"}));
    EXPECT_EQ(diagnostics(), Names{"2:9 Operador no soportado en bytecode"});
    EXPECT_EQ(std::string(g_result.disasm).substr(0, 22), "0000  PUSH           1");
}

TEST_F(CodegenTreeTest, UnsupportedOperatorInsideAFailedOperandReportsOnce) {
    StmtNode* wait = stmt(STMT_WAIT, 4, 1);
    wait->expr = binary(TOK_LLAVE_IZQ, binary(TOK_COMA, num(1, 4), num(2, 4), 4, 8), num(3, 4), 4, 12);
    program({wait});
    EXPECT_EQ(codegen(&g_ctx, &g_result), 0);
    EXPECT_EQ(op_names(), (Names{"PUSH", "PUSH", "WAIT", "HALT"}));
    EXPECT_EQ(diagnostics(), Names{"4:8 Operador no soportado en bytecode"});
}

TEST_F(CodegenTreeTest, UnknownKinds) {
    StmtNode* wait = stmt(STMT_WAIT, 5, 1);
    wait->expr = alloc_expr(&parser, static_cast<ExprKind>(9), 5, 6);
    program({stmt(STMT_SHOOT, 4, 1), wait, stmt(STMT_SHIELD, 6, 1)});
    EXPECT_EQ(codegen(&g_ctx, &g_result), 0);
    EXPECT_EQ(op_names(), (Names{"SHOOT", "WAIT", "HALT"}));
    EXPECT_EQ(diagnostics(), Names{"5:6 Expresión no válida en bytecode"});

    SetUp();
    program({stmt(static_cast<StmtKind>(-2), 7, 3), stmt(STMT_SHOOT, 8, 1)});
    EXPECT_EQ(codegen(&g_ctx, &g_result), 0);
    EXPECT_EQ(op_names(), Names{"HALT"});
    EXPECT_EQ(diagnostics(), Names{"7:3 Instrucción no válida en bytecode"});
    EXPECT_STREQ(g_result.disasm, "0000  HALT\n");
}

TEST_F(CodegenTreeTest, ProgramTooLongKeepsTheFirst2048Instructions) {
    // An expression whose two operands are the same node: 2048 PUSH and 2047 ADD.
    ExprNode* x = num(1, 7);
    for (int level = 0; level < 11; level++) x = binary(TOK_SUMA, x, x, 7, 3);
    StmtNode* set = stmt(STMT_SET, 6, 1);
    set->varSlot = 6;
    set->expr = x;
    program({set, stmt(STMT_SHOOT, 8, 1)});
    EXPECT_EQ(codegen(&g_ctx, &g_result), 0);
    EXPECT_EQ(g_result.codeCount, MAX_CODE);
    EXPECT_NE(g_result.code[MAX_CODE - 1].op, OP_HALT);
    EXPECT_EQ(diagnostics(), Names{"7:0 El programa genera demasiadas instrucciones (máximo 2048)"});
    const std::string listing = g_result.disasm;
    int lines = 0;
    for (char c : listing) lines += c == '\n';
    EXPECT_EQ(lines, MAX_CODE);
    EXPECT_EQ(listing.substr(listing.rfind("2047  "), 6), "2047  ");
}

TEST_F(CodegenTreeTest, RefusedJumpsAreNotPatched) {
    // With one free slot the condition fits and its jump does not.
    struct Case {
        StmtKind kind;
        bool withElse;
    };
    const Case cases[] = {{STMT_IF, false}, {STMT_IF, true}, {STMT_WHILE, false}, {STMT_REPEAT, false}};
    for (const Case& c : cases) {
        SetUp();
        StmtNode* s = stmt(c.kind, 9, 1);
        s->expr = num(1, 9);
        s->body = stmt(STMT_BLOQUE, 9, 5);
        s->body->body = stmt(STMT_SHOOT, 9, 7);
        if (c.withElse) s->elseBody = stmt(STMT_BLOQUE, 9, 20);
        g_result.codeCount = MAX_CODE - 1;
        CodeGen gen{&g_ctx, &g_result, 0};
        gen_stmt(&gen, s);
        EXPECT_EQ(gen.failed, 1);
        EXPECT_EQ(g_result.codeCount, MAX_CODE);
        EXPECT_EQ(g_result.code[MAX_CODE - 1].op, OP_PUSH);
        EXPECT_EQ(g_result.code[MAX_CODE - 1].arg, 0);
        EXPECT_EQ(g_result.ok, 0);
        EXPECT_EQ(g_result.phase, PHASE_NINGUNA);
        EXPECT_EQ(diagnostics(), Names{"9:0 El programa genera demasiadas instrucciones (máximo 2048)"});
    }
}

TEST_F(CodegenTreeTest, AnyNonZeroBooleanPushesOne) {
    const double values[] = {1.0, 5.0, -2.0, 0.0, -0.0};
    for (double value : values) {
        SetUp();
        StmtNode* wait = stmt(STMT_WAIT, 1, 1);
        wait->expr = alloc_expr(&parser, EXPR_BOOL, 1, 6);
        wait->expr->value = value;
        program({wait});
        EXPECT_EQ(codegen(&g_ctx, &g_result), 1);
        EXPECT_EQ(g_result.code[0].num, value != 0.0 ? 1.0 : 0.0) << value;
        EXPECT_FALSE(std::signbit(g_result.code[0].num)) << value;
    }
}

TEST_F(CodegenTreeTest, NothingIsTranslatedAfterAFailure) {
    CodeGen gen{&g_ctx, &g_result, 1};
    gen_stmt(&gen, stmt(STMT_SHOOT, 1, 1));
    gen_expr(&gen, num(2, 1));
    gen_stmt_list(&gen, stmt(STMT_SHIELD, 1, 1));
    EXPECT_EQ(g_result.codeCount, 0);
    gen.failed = 0;
    gen_stmt(&gen, nullptr);
    gen_expr(&gen, nullptr);
    EXPECT_EQ(g_result.codeCount, 0);
}

TEST_F(CodegenTreeTest, MissingRootGivesTheClosingHaltOnly) {
    g_ctx.root = nullptr;
    EXPECT_EQ(codegen(&g_ctx, &g_result), 1);
    EXPECT_EQ(op_names(), Names{"HALT"});
    EXPECT_EQ(codegen(nullptr, &g_result), 0);
    EXPECT_EQ(codegen(&g_ctx, nullptr), 0);
}

}  // namespace
}  // namespace prendax
