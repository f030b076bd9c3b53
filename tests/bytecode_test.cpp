// Bytecode: operand texts, listing lines and their capacity rule, and the
// emitter's size limit.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "compiler/bytecode.h"
#include "compiler/context.h"

namespace prendax {
namespace {

CompileResult g_result;
CompilerContext g_ctx;

class BytecodeTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(&g_result, 0, sizeof g_result);
        std::memset(&g_ctx, 0, sizeof g_ctx);
        // A variable table of the six reserved names and one of the program's own.
        const char* names[] = {"health", "score", "enemies_left", "level", "shield", "ticks", "cuenta"};
        for (int i = 0; i < 7; i++) std::strcpy(g_result.varNames[i], names[i]);
        g_result.varCount = 7;
    }

    void put(int32_t op, int32_t arg, double num) {
        Instruction& ins = g_result.code[g_result.codeCount++];
        ins.op = static_cast<uint8_t>(op);
        ins.arg = arg;
        ins.num = num;
        ins.line = 1;
    }

    std::string operand(int32_t op, int32_t arg, double num) {
        Instruction ins{};
        ins.op = static_cast<uint8_t>(op);
        ins.arg = arg;
        ins.num = num;
        char out[OPERAND_TEXT_SIZE];
        std::memset(out, 'x', sizeof out);
        operand_text(&g_result, &ins, out);
        return out;
    }

    std::string listing(std::size_t capacity) {
        static char buffer[LISTING_CAPACITY];
        std::memset(buffer, 'x', sizeof buffer);
        write_listing(&g_result, buffer, capacity);
        return std::string(buffer, strnlen(buffer, sizeof buffer));
    }
};

TEST_F(BytecodeTest, OpcodeNamesFallBackOutsideTheTable) {
    struct Case {
        int32_t op;
        const char* name;
    };
    const Case cases[] = {{0, "PUSH"}, {18, "JMP"}, {29, "REPEAT_START"}, {31, "HALT"}, {32, "?"}, {40, "?"},
                          {-1, "?"},   {255, "?"}};
    for (const Case& c : cases) EXPECT_STREQ(opcode_name(c.op), c.name) << c.op;
}

TEST_F(BytecodeTest, OperandTexts) {
    struct Case {
        int32_t op;
        int32_t arg;
        double num;
        const char* text;
    };
    const Case cases[] = {
        {OP_PUSH, 0, 0.5, "0.5"},
        {OP_PUSH, 0, 1000000.0, "1e+06"},
        {OP_PUSH, 0, 3.0, "3"},
        {OP_PUSH, 0, -0.25, "-0.25"},
        {OP_LOAD, 0, 0.0, "health"},
        {OP_LOAD, 6, 0.0, "cuenta"},
        {OP_STORE, 6, 0.0, "cuenta"},
        {OP_LOAD, -1, 0.0, "#-1"},
        {OP_LOAD, 7, 0.0, "#7"},  // equal to varCount
        {OP_STORE, 64, 0.0, "#64"},
        {OP_JMP, 7, 0.0, "0007"},
        {OP_JZ, 24, 0.0, "0024"},
        {OP_JNZ, 0, 0.0, "0000"},
        {OP_REPEAT_START, 12345, 0.0, "12345"},
        {OP_CALL, 0, 0.0, "enemy_ahead"},
        {OP_CALL, 3, 0.0, "random"},
        {OP_CALL, 4, 0.0, "?"},
        {OP_CALL, -1, 0.0, "?"},
        {OP_SHOOT, 5, 7.0, ""},
        {OP_REPEAT_END, 9, 0.0, ""},
        {OP_HALT, 0, 0.0, ""},
        {40, 3, 2.0, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(operand(c.op, c.arg, c.num), c.text) << opcode_name(c.op) << " " << c.arg;
    }
}

TEST_F(BytecodeTest, OperandOfAVariableOutsideACorruptTableIsANumber) {
    // A count above the table's capacity never leads to a read past it.
    g_result.varCount = 1000;
    EXPECT_EQ(operand(OP_LOAD, 100, 0.0), "#100");
    EXPECT_EQ(operand(OP_LOAD, 63, 0.0), "");  // an unused slot holds the empty name
}

TEST_F(BytecodeTest, ListingLines) {
    put(OP_HALT, 0, 0.0);
    EXPECT_EQ(listing(LISTING_CAPACITY), "0000  HALT\n");

    g_result.codeCount = 0;
    put(OP_PUSH, 0, 8.0);
    put(OP_LOAD, 6, 0.0);
    put(OP_JZ, 24, 0.0);
    put(OP_SHOOT, 0, 0.0);
    put(40, 0, 0.0);
    put(OP_CALL, 3, 0.0);
    put(OP_LOAD, -1, 0.0);
    put(OP_REPEAT_START, 10000, 0.0);
    put(OP_PUSH, 0, 1000000.0);
    EXPECT_EQ(listing(LISTING_CAPACITY),
              "0000  PUSH           8\n"
              "0001  LOAD           cuenta\n"
              "0002  JZ             0024\n"
              "0003  SHOOT\n"
              "0004  ?\n"
              "0005  CALL           random\n"
              "0006  LOAD           #-1\n"
              "0007  REPEAT_START   10000\n"
              "0008  PUSH           1e+06\n");
}

TEST_F(BytecodeTest, ListingKeepsWholeLinesOnly) {
    // Each line "0000  PUSH           8\n" is 23 bytes long.
    put(OP_PUSH, 0, 8.0);
    put(OP_PUSH, 0, 9.0);
    const std::string first = "0000  PUSH           8\n";
    ASSERT_EQ(first.size(), 23u);
    struct Case {
        std::size_t capacity;
        std::string text;
    };
    const Case cases[] = {
        {1, ""},
        {24, ""},  // 0 + 23 + 1 is not below 24
        {25, first},
        {30, first},
        {47, first},  // 23 + 23 + 1 is not below 47
        {48, first + "0001  PUSH           9\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(listing(c.capacity), c.text) << c.capacity;
}

TEST_F(BytecodeTest, ListingWithoutRoomOrCodeLeavesBufferAlone) {
    put(OP_HALT, 0, 0.0);
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    write_listing(&g_result, buffer, 0);
    EXPECT_EQ(buffer[0], 'x');
    write_listing(&g_result, nullptr, 100);  // must not crash

    g_result.codeCount = 0;
    EXPECT_EQ(listing(LISTING_CAPACITY), "");
    g_result.codeCount = -3;
    EXPECT_EQ(listing(LISTING_CAPACITY), "");
}

TEST_F(BytecodeTest, EmitStoresInstructionsAndCutsFields) {
    CodeGen gen{&g_ctx, &g_result, 0};
    EXPECT_EQ(emit(&gen, OP_PUSH, 0, 2.5, 3), 0);
    EXPECT_EQ(emit(&gen, OP_JZ, 17, 0.0, 70000), 1);
    EXPECT_EQ(emit(&gen, 256 + OP_SHOOT, 0, 0.0, 4), 2);
    ASSERT_EQ(g_result.codeCount, 3);
    EXPECT_EQ(g_result.code[0].op, OP_PUSH);
    EXPECT_EQ(g_result.code[0].num, 2.5);
    EXPECT_EQ(g_result.code[0].line, 3);
    EXPECT_EQ(g_result.code[1].arg, 17);
    EXPECT_EQ(g_result.code[1].line, 70000 - 65536);
    EXPECT_EQ(g_result.code[2].op, OP_SHOOT);

    // A failed generation still stores while there is room.
    gen.failed = 1;
    EXPECT_EQ(emit(&gen, OP_HALT, 0, 0.0, 0), 3);
    EXPECT_EQ(g_ctx.diagCount, 0);
}

TEST_F(BytecodeTest, EmitBeyondTheLimitReportsOnce) {
    CodeGen gen{&g_ctx, &g_result, 0};
    for (int i = 0; i < MAX_CODE; i++) ASSERT_EQ(emit(&gen, OP_SHOOT, 0, 0.0, 5), i);
    EXPECT_EQ(gen.failed, 0);
    EXPECT_EQ(g_ctx.diagCount, 0);

    EXPECT_EQ(emit(&gen, OP_WAIT, 0, 0.0, 9), -1);
    EXPECT_EQ(gen.failed, 1);
    ASSERT_EQ(g_ctx.diagCount, 1);
    EXPECT_EQ(g_ctx.diags[0].phase, PHASE_CODIGO);
    EXPECT_EQ(g_ctx.diags[0].line, 9);
    EXPECT_EQ(g_ctx.diags[0].col, 0);
    EXPECT_STREQ(g_ctx.diags[0].message, "El programa genera demasiadas instrucciones (máximo 2048)");

    EXPECT_EQ(emit(&gen, OP_HALT, 0, 0.0, 0), -1);
    EXPECT_EQ(g_ctx.diagCount, 1);
    EXPECT_EQ(g_result.codeCount, MAX_CODE);
    EXPECT_EQ(g_result.code[MAX_CODE - 1].op, OP_SHOOT);
}

TEST_F(BytecodeTest, EmitIntoAFullProgramAfterAnEarlierFailureIsSilent) {
    CodeGen gen{&g_ctx, &g_result, 1};
    g_result.codeCount = MAX_CODE;
    EXPECT_EQ(emit(&gen, OP_HALT, 0, 0.0, 0), -1);
    EXPECT_EQ(g_ctx.diagCount, 0);
}

}  // namespace
}  // namespace prendax
