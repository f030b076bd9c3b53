// Virtual machine cases: small hand-assembled programs run against a host that
// records every call it receives.
#include "vm/vm.h"
#include "vm/runtime_contract.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

using namespace prendax;

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();
const double INF = std::numeric_limits<double>::infinity();

struct Ins {
    int op;
    int32_t arg;
    double num;
};
using Program = std::vector<Ins>;

Ins op(int code, int32_t arg = 0) { return {code, arg, 0.0}; }
Ins push(double n) { return {OP_PUSH, 0, n}; }

// Every instruction carries line 100 + its address, so an error's line names it.
int32_t line_of(int32_t address) { return 100 + address; }

struct BuiltinCall {
    int32_t index;
    double argument;
    int32_t hasArgument;
};

struct Recorder {
    std::vector<int32_t> moves;
    int shoots = 0;
    int shields = 0;
    std::vector<BuiltinCall> builtins;
    double builtinResult = 42.0;
    int gameStatusCalls = 0;
    int32_t gameStatusValue = 0;  // answered from call number gameStatusFrom on
    int gameStatusFrom = 1;
};

Recorder rec;
CompileResult result;
Vm vm;

Recorder* of(void* context) { return static_cast<Recorder*>(context); }
void host_move(void* c, int32_t direction) { of(c)->moves.push_back(direction); }
void host_shoot(void* c) { of(c)->shoots++; }
void host_shield(void* c) { of(c)->shields++; }
double host_builtin(void* c, int32_t index, double argument, int32_t hasArgument) {
    of(c)->builtins.push_back({index, argument, hasArgument});
    return of(c)->builtinResult;
}
int32_t host_game_status(void* c) {
    Recorder* r = of(c);
    r->gameStatusCalls++;
    return r->gameStatusCalls >= r->gameStatusFrom ? r->gameStatusValue : 0;
}

VmHost recording_host() { return VmHost{&rec, host_move, host_shoot, host_shield, host_builtin, host_game_status, 0}; }

void fill_result(const Program& program, int32_t varCount) {
    std::memset(&result, 0, sizeof result);
    result.ok = 1;
    result.codeCount = static_cast<int32_t>(program.size());
    for (size_t i = 0; i < program.size() && i < static_cast<size_t>(MAX_CODE); i++) {
        Instruction& ins = result.code[i];
        ins.op = static_cast<uint8_t>(program[i].op);
        ins.arg = program[i].arg;
        ins.num = program[i].num;
        ins.line = static_cast<int16_t>(line_of(static_cast<int32_t>(i)));
    }
    result.varCount = varCount;
    for (int32_t i = 0; i < varCount && i < MAX_VARS; i++) {
        std::snprintf(result.varNames[i], sizeof result.varNames[i], "v%d", i);
        result.varReadonly[i] = i < RESERVED_VARS ? 1 : 0;
    }
}

// Loads and resets; variable 6 is the first program variable.
void start(const Program& program, int32_t varCount = 8) {
    fill_result(program, varCount);
    const VmHost host = recording_host();
    vm_load(&vm, &result, &host);
    vm_reset(&vm);
}

// Steps while the machine runs, at most `limit` instructions.
void step_while_running(int limit = 1000000) {
    for (int i = 0; i < limit && vm.status == VM_EJECUTANDO; i++) vm_step(&vm);
}

bool same_number(double x, double y) {
    if (std::isnan(x) || std::isnan(y)) return std::isnan(x) && std::isnan(y);
    return x == y && std::signbit(x) == std::signbit(y);
}

class VmTest : public ::testing::Test {
protected:
    void SetUp() override { rec = Recorder{}; }
};

// ---------------------------------------------------------------------------
// Run-time errors: message, line, side effects.

struct ErrorCase {
    const char* name;
    Program program;
    const char* message;
    int32_t line;
    int32_t sp;  // values left on the stack
    int32_t pc;  // where the program counter stays
};

Program repeated(const Ins& ins, int count, const Program& tail = {}) {
    Program p(static_cast<size_t>(count), ins);
    p.insert(p.end(), tail.begin(), tail.end());
    return p;
}

// n nested REPEAT 1 loops around an empty body, then their n REPEAT_ENDs and HALT.
Program nested_repeats(int n) {
    Program p;
    for (int i = 0; i < n; i++) {
        p.push_back(push(1));
        p.push_back(op(OP_REPEAT_START, 3 * n - i));
    }
    for (int i = 0; i < n; i++) p.push_back(op(OP_REPEAT_END));
    p.push_back(op(OP_HALT));
    return p;
}

TEST_F(VmTest, EachFaultRecordsItsMessageAndLine) {
    const char* EMPTY = "Pila vacía: la instrucción intentó sacar un valor que no existe";
    const std::vector<ErrorCase> cases = {
        {"empty program", {}, "Contador de programa fuera del bytecode (0)", 0, 0, 0},
        {"falls off the end", {push(1)}, "Contador de programa fuera del bytecode (1)", 0, 1, 1},
        {"push onto 256 values", repeated(push(1), 257), "Desbordamiento de pila de la VM (máximo 256 valores)",
         line_of(256), 256, 257},
        {"load onto 256 values", repeated(push(1), 256, {op(OP_LOAD, 6)}),
         "Desbordamiento de pila de la VM (máximo 256 valores)", line_of(256), 256, 257},
        {"load -1", {op(OP_LOAD, -1)}, "Variable inválida en LOAD (-1)", line_of(0), 0, 1},
        {"load varCount", {op(OP_LOAD, 8)}, "Variable inválida en LOAD (8)", line_of(0), 0, 1},
        {"load int32 min", {op(OP_LOAD, INT32_MIN)}, "Variable inválida en LOAD (-2147483648)", line_of(0), 0, 1},
        {"store 64 pops nothing", {push(5), op(OP_STORE, 64)}, "Variable inválida en STORE (64)", line_of(1), 1, 2},
        {"store -7 pops nothing", {push(5), op(OP_STORE, -7)}, "Variable inválida en STORE (-7)", line_of(1), 1, 2},
        {"store int32 max",
         {push(5), op(OP_STORE, INT32_MAX)},
         "Variable inválida en STORE (2147483647)",
         line_of(1),
         1,
         2},
        {"div by 0", {push(1), push(0.0), op(OP_DIV)}, "División entre cero en ejecución", line_of(2), 0, 3},
        {"div by -0", {push(1), push(-0.0), op(OP_DIV)}, "División entre cero en ejecución", line_of(2), 0, 3},
        {"mod by 0", {push(7), push(0.0), op(OP_MOD)}, "Módulo entre cero en ejecución", line_of(2), 0, 3},
        {"mod by -0", {push(7), push(-0.0), op(OP_MOD)}, "Módulo entre cero en ejecución", line_of(2), 0, 3},
        {"jmp to codeCount", {op(OP_JMP, 2), op(OP_HALT)}, "Salto inválido a la dirección 2", line_of(0), 0, 1},
        {"jmp to -1", {op(OP_JMP, -1), op(OP_HALT)}, "Salto inválido a la dirección -1", line_of(0), 0, 1},
        {"jmp past the code table", {op(OP_JMP, 5000)}, "Salto inválido a la dirección 5000", line_of(0), 0, 1},
        {"jz taken to int32 max",
         {push(0), op(OP_JZ, INT32_MAX), op(OP_HALT)},
         "Salto inválido a la dirección 2147483647",
         line_of(1),
         0,
         2},
        {"jnz taken to int32 min",
         {push(1), op(OP_JNZ, INT32_MIN), op(OP_HALT)},
         "Salto inválido a la dirección -2147483648",
         line_of(1),
         0,
         2},
        {"skipped repeat to a bad address",
         {push(0), op(OP_REPEAT_START, 9), op(OP_HALT)},
         "Salto inválido a la dirección 9",
         line_of(1),
         0,
         2},
        {"call 4", {push(5), op(OP_CALL, 4)}, "Función integrada inválida (4)", line_of(1), 1, 2},
        {"call -1", {push(5), op(OP_CALL, -1)}, "Función integrada inválida (-1)", line_of(1), 1, 2},
        {"call random on an empty stack", {op(OP_CALL, 3)}, EMPTY, line_of(0), 0, 1},
        {"33 nested repeats", nested_repeats(33), "Demasiados REPEAT anidados (máximo 32)", line_of(65), 0, 66},
        {"repeat_end without a loop", {op(OP_REPEAT_END)}, "REPEAT_END sin un REPEAT_START activo", line_of(0), 0, 1},
        {"opcode 40", {push(3), op(40)}, "Opcode desconocido (40)", line_of(1), 1, 2},
        {"opcode 32", {op(32)}, "Opcode desconocido (32)", line_of(0), 0, 1},
        {"opcode 255", {op(255)}, "Opcode desconocido (255)", line_of(0), 0, 1},
        {"neg on an empty stack", {op(OP_NEG)}, EMPTY, line_of(0), 0, 1},
        {"store on an empty stack", {op(OP_STORE, 6)}, EMPTY, line_of(0), 0, 1},
        {"wait on an empty stack", {op(OP_WAIT)}, EMPTY, line_of(0), 0, 1},
        {"jz on an empty stack", {op(OP_JZ, 0)}, EMPTY, line_of(0), 0, 1},
        {"repeat on an empty stack", {op(OP_REPEAT_START, 1)}, EMPTY, line_of(0), 0, 1},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        start(c.program);
        step_while_running();
        EXPECT_EQ(vm.status, VM_ERROR);
        EXPECT_EQ(vm.hasError, 1);
        EXPECT_EQ(vm.error.phase, PHASE_EJECUCION);
        EXPECT_EQ(vm.error.col, 0);
        EXPECT_EQ(vm.error.line, c.line);
        EXPECT_STREQ(vm.error.message, c.message);
        EXPECT_EQ(vm.sp, c.sp);
        EXPECT_EQ(vm.pc, c.pc);
        EXPECT_TRUE(rec.builtins.empty());
        // The game is asked after every step but the failing one (a bad pc fetches nothing).
        EXPECT_EQ(rec.gameStatusCalls, c.line == 0 ? vm.steps : vm.steps - 1);
    }
}

TEST_F(VmTest, EmptyProgramFailsOnItsFirstStepWithoutCountingIt) {
    start({});
    EXPECT_EQ(vm_step(&vm), VM_ERROR);
    EXPECT_EQ(vm.steps, 0);
    EXPECT_EQ(vm.error.line, 0);
    start({});
    vm_run(&vm, 10);
    EXPECT_EQ(vm.status, VM_ERROR);
    EXPECT_EQ(vm.ticks, 1);
    EXPECT_EQ(vm.budgetHits, 0);
}

// Two-operand operations pop the right operand first; a lone value is consumed.
TEST_F(VmTest, TwoOperandOperationOnOneValueConsumesIt) {
    for (int code = OP_ADD; code <= OP_OR; code++) {
        if (code == OP_NEG || code == OP_NOT) continue;
        SCOPED_TRACE(code);
        start({push(1), op(code)});
        step_while_running();
        EXPECT_EQ(vm.status, VM_ERROR);
        EXPECT_STREQ(vm.error.message, "Pila vacía: la instrucción intentó sacar un valor que no existe");
        EXPECT_EQ(vm.error.line, line_of(1));
        EXPECT_EQ(vm.sp, 0);
    }
}

TEST_F(VmTest, FirstErrorWins) {
    start({push(1), push(0), op(OP_DIV), op(OP_ADD), op(OP_LOAD, 99)});
    step_while_running();
    ASSERT_STREQ(vm.error.message, "División entre cero en ejecución");
    // vm_step does not look at the status: the next faults execute but are not recorded.
    vm_step(&vm);
    vm_step(&vm);
    EXPECT_EQ(vm.steps, 5);
    EXPECT_STREQ(vm.error.message, "División entre cero en ejecución");
    EXPECT_EQ(vm.error.line, line_of(2));
    EXPECT_EQ(vm.status, VM_ERROR);
    // A later error does not touch a status set by someone else either.
    vm.status = VM_VICTORIA;
    vm_error(&vm, 9, "otro %d", 1);
    EXPECT_EQ(vm.status, VM_VICTORIA);
    EXPECT_EQ(vm.error.line, line_of(2));
    // The machine executes nothing more in vm_run.
    vm.status = VM_ERROR;
    const int32_t steps = vm.steps;
    vm_run(&vm, 50);
    EXPECT_EQ(vm.steps, steps);
}

TEST_F(VmTest, ErrorMessageIsCutAt159Bytes) {
    start({op(OP_HALT)});
    const std::string longText(300, 'x');
    vm_error(&vm, 7, "%s", longText.c_str());
    EXPECT_EQ(std::strlen(vm.error.message), 159u);
    EXPECT_EQ(std::string(vm.error.message), longText.substr(0, 159));
    EXPECT_EQ(vm.error.line, 7);
    EXPECT_EQ(vm.status, VM_ERROR);
}

// ---------------------------------------------------------------------------
// Values computed by the operations.

struct BinaryCase {
    int code;
    double a, b, expected;
};

TEST_F(VmTest, BinaryOperationsTakeLeftThenRight) {
    const std::vector<BinaryCase> cases = {
        {OP_ADD, 2, 3, 5},      {OP_SUB, 7, 3, 4},     {OP_MUL, -2, 3.5, -7},    {OP_DIV, 7, 2, 3.5},
        {OP_DIV, 1, -4, -0.25}, {OP_MOD, 7, -3, 1},    {OP_MOD, -7, 3, -1},      {OP_MOD, 5.5, 2, 1.5},
        {OP_MOD, -6, 3, -0.0},  {OP_MOD, NaN, 2, NaN}, {OP_DIV, 1, NaN, NaN},    {OP_LT, 1, 2, 1},
        {OP_LT, 2, 1, 0},       {OP_LT, NaN, 1, 0},    {OP_LT, 1, NaN, 0},       {OP_GT, 2, 1, 1},
        {OP_GT, 1, 2, 0},       {OP_GT, NaN, 1, 0},    {OP_LE, 2, 2, 1},         {OP_LE, 3, 2, 0},
        {OP_LE, NaN, NaN, 0},   {OP_GE, 2, 2, 1},      {OP_GE, 1, 2, 0},         {OP_GE, 1, NaN, 0},
        {OP_EQ, 1, 1, 1},       {OP_EQ, 0, -0.0, 1},   {OP_EQ, NaN, NaN, 0},     {OP_EQ, NaN, 1, 0},
        {OP_NE, 1, 1, 0},       {OP_NE, NaN, 1, 1},    {OP_NE, NaN, NaN, 1},     {OP_AND, 2, -1, 1},
        {OP_AND, NaN, 1, 1},    {OP_AND, 0, NaN, 0},   {OP_AND, 1, -0.0, 0},     {OP_OR, NaN, 0, 1},
        {OP_OR, 0, -0.0, 0},    {OP_OR, 0, 3, 1},      {OP_ADD, INF, -INF, NaN},
    };
    for (const BinaryCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.code) + " " + std::to_string(c.a) + " " + std::to_string(c.b));
        start({push(c.a), push(c.b), op(c.code), op(OP_HALT)});
        step_while_running();
        ASSERT_EQ(vm.status, VM_HALT);
        ASSERT_EQ(vm.sp, 1);
        EXPECT_TRUE(same_number(vm.stack[0], c.expected)) << vm.stack[0];
    }
}

TEST_F(VmTest, UnaryOperations) {
    const std::vector<BinaryCase> cases = {
        {OP_NEG, 3, 0, -3}, {OP_NEG, 0, 0, -0.0}, {OP_NEG, -0.0, 0, 0}, {OP_NEG, NaN, 0, NaN},
        {OP_NOT, 0, 0, 1},  {OP_NOT, -0.0, 0, 1}, {OP_NOT, 5, 0, 0},    {OP_NOT, NaN, 0, 0},
    };
    for (const BinaryCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.code) + " " + std::to_string(c.a));
        start({push(c.a), op(c.code), op(OP_HALT)});
        step_while_running();
        ASSERT_EQ(vm.sp, 1);
        EXPECT_TRUE(same_number(vm.stack[0], c.expected)) << vm.stack[0];
    }
}

struct JumpCase {
    int code;
    double value;
    int32_t target;
    bool taken;
};

// PUSH value; jump; PUSH 111; HALT: a taken jump to address 3 skips the PUSH.
TEST_F(VmTest, ConditionalJumpsTestTruth) {
    const std::vector<JumpCase> cases = {
        {OP_JZ, 0, 3, true},
        {OP_JZ, -0.0, 3, true},
        {OP_JZ, 1, 3, false},
        {OP_JZ, NaN, 3, false},
        {OP_JNZ, NaN, 3, true},
        {OP_JNZ, -2, 3, true},
        {OP_JNZ, 0, 3, false},
        {OP_JNZ, -0.0, 3, false},
        // A jump not taken does not check its target.
        {OP_JZ, 1, -1, false},
        {OP_JNZ, 0, 4000, false},
    };
    for (const JumpCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.code) + " " + std::to_string(c.value));
        start({push(c.value), op(c.code, c.target), push(111), op(OP_HALT)});
        step_while_running();
        EXPECT_EQ(vm.status, VM_HALT);
        EXPECT_EQ(vm.hasError, 0);
        EXPECT_EQ(vm.sp, c.taken ? 0 : 1);
        EXPECT_EQ(vm.steps, c.taken ? 3 : 4);
    }
}

TEST_F(VmTest, LoadAndStoreUseTheVariableFile) {
    // v6 = 2.5; v7 = v6 * v6; the last variable is reachable, varCount is not.
    start({push(2.5), op(OP_STORE, 6), op(OP_LOAD, 6), op(OP_LOAD, 6), op(OP_MUL), op(OP_STORE, 7), push(-1),
           op(OP_STORE, 0), op(OP_HALT)});
    step_while_running();
    EXPECT_EQ(vm.status, VM_HALT);
    EXPECT_EQ(vm.vars[6].value, 2.5);
    EXPECT_EQ(vm.vars[7].value, 6.25);
    EXPECT_EQ(vm.vars[0].value, -1.0) << "the read-only flag is not consulted";
    EXPECT_EQ(vm.sp, 0);
}

// ---------------------------------------------------------------------------
// WAIT.

struct WaitCase {
    double value;
    int32_t wait;  // 0 means it does not wait
};

TEST_F(VmTest, WaitTakesAWholeNumberCappedAt600) {
    const std::vector<WaitCase> cases = {
        {0, 0},     {-5, 0},    {NaN, 0},    {-0.5, 0},           {0.9, 0}, {2.9, 2}, {1, 1},
        {600, 600}, {601, 600}, {1000, 600}, {2147483647.0, 600}, {3e9, 0}, {INF, 0}, {-INF, 0},
    };
    for (const WaitCase& c : cases) {
        SCOPED_TRACE(c.value);
        SetUp();
        start({push(c.value), op(OP_WAIT), op(OP_SHOOT), op(OP_HALT)});
        vm_step(&vm);
        const VmStatus status = vm_step(&vm);
        EXPECT_EQ(vm.wait, c.wait);
        EXPECT_EQ(status, c.wait > 0 ? VM_ESPERANDO : VM_EJECUTANDO);
        EXPECT_EQ(vm.sp, 0);
        // The game is asked after a WAIT that goes on, not after one that waits.
        EXPECT_EQ(rec.gameStatusCalls, c.wait > 0 ? 1 : 2);
    }
}

TEST_F(VmTest, InstructionAfterWait3RunsThreeTicksLater) {
    start({push(3), op(OP_WAIT), op(OP_SHOOT), op(OP_JMP, 2)});
    vm_run(&vm, 100);  // tick T
    EXPECT_EQ(vm.status, VM_ESPERANDO);
    EXPECT_EQ(vm.wait, 3);
    EXPECT_EQ(vm.steps, 2);
    vm_run(&vm, 100);  // T+1
    EXPECT_EQ(vm.wait, 2);
    EXPECT_EQ(vm.status, VM_ESPERANDO);
    vm_run(&vm, 100);  // T+2
    EXPECT_EQ(vm.wait, 1);
    EXPECT_EQ(rec.shoots, 0);
    EXPECT_EQ(vm.steps, 2);
    vm_run(&vm, 100);  // T+3: the countdown ends and the budget runs in the same call
    EXPECT_EQ(vm.wait, 0);
    EXPECT_EQ(vm.status, VM_EJECUTANDO);
    EXPECT_EQ(rec.shoots, 50);
    EXPECT_EQ(vm.steps, 102);
    EXPECT_EQ(vm.ticks, 4);
    EXPECT_EQ(vm.budgetHits, 1);
}

TEST_F(VmTest, Wait1EndsTheTickOnly) {
    start({push(1), op(OP_WAIT), op(OP_SHOOT), op(OP_HALT)});
    vm_run(&vm, 100);
    EXPECT_EQ(vm.status, VM_ESPERANDO);
    EXPECT_EQ(rec.shoots, 0);
    vm_run(&vm, 100);
    EXPECT_EQ(rec.shoots, 1);
    EXPECT_EQ(vm.status, VM_HALT);
}

TEST_F(VmTest, StepWaitingHonoursTheCountdown) {
    start({push(2), op(OP_WAIT), op(OP_SHOOT), op(OP_HALT)});
    EXPECT_EQ(vm_step_waiting(&vm), VM_EJECUTANDO);
    EXPECT_EQ(vm_step_waiting(&vm), VM_ESPERANDO);
    EXPECT_EQ(vm.wait, 2);
    EXPECT_EQ(vm_step_waiting(&vm), VM_ESPERANDO);
    EXPECT_EQ(vm.wait, 1);
    // The countdown ends without executing an instruction.
    EXPECT_EQ(vm_step_waiting(&vm), VM_EJECUTANDO);
    EXPECT_EQ(vm.wait, 0);
    EXPECT_EQ(vm.steps, 2);
    EXPECT_EQ(rec.shoots, 0);
    EXPECT_EQ(vm_step_waiting(&vm), VM_EJECUTANDO);
    EXPECT_EQ(rec.shoots, 1);
    EXPECT_EQ(vm_step_waiting(&vm), VM_HALT);
    // No restart here, however often it is called.
    for (int i = 0; i < 40; i++) EXPECT_EQ(vm_step_waiting(&vm), VM_HALT);
    EXPECT_EQ(vm.steps, 4);
    EXPECT_EQ(vm.haltTicks, 0);
    EXPECT_EQ(vm.ticks, 0);
}

TEST_F(VmTest, StepWaitingLeavesOtherStatusesAlone) {
    for (VmStatus status : {VM_LISTO, VM_HALT, VM_VICTORIA, VM_DERROTA, VM_ERROR}) {
        SCOPED_TRACE(status);
        start({op(OP_SHOOT), op(OP_HALT)});
        vm.status = status;
        EXPECT_EQ(vm_step_waiting(&vm), status);
        EXPECT_EQ(vm.steps, 0);
        EXPECT_EQ(vm.pc, 0);
    }
    EXPECT_EQ(rec.shoots, 0);
}

// ---------------------------------------------------------------------------
// REPEAT.

struct RepeatCase {
    double count;
    double passes;
};

// PUSH count; REPEAT_START 7; v6 = v6 + 1; REPEAT_END; HALT
TEST_F(VmTest, RepeatRunsItsBodyAWholeNumberOfTimesUpTo10000) {
    const std::vector<RepeatCase> cases = {
        {0, 0}, {-1, 0},  {0.5, 0},     {NaN, 0},       {3e9, 0},       {-INF, 0},      {1, 1},
        {3, 3}, {2.9, 2}, {9999, 9999}, {10000, 10000}, {10001, 10000}, {20000, 10000}, {2147483647.0, 10000},
    };
    for (const RepeatCase& c : cases) {
        SCOPED_TRACE(c.count);
        start({push(c.count), op(OP_REPEAT_START, 7), op(OP_LOAD, 6), push(1), op(OP_ADD), op(OP_STORE, 6),
               op(OP_REPEAT_END), op(OP_HALT)});
        step_while_running();
        EXPECT_EQ(vm.status, VM_HALT);
        EXPECT_EQ(vm.hasError, 0);
        EXPECT_EQ(vm.vars[6].value, c.passes);
        EXPECT_EQ(vm.loopDepth, 0);
        EXPECT_EQ(vm.sp, 0);
    }
}

TEST_F(VmTest, NestedRepeatsKeepTheirOwnFrames) {
    // REPEAT 3 { REPEAT 4 { v6 = v6 + 1 } }
    start({push(3), op(OP_REPEAT_START, 10), push(4), op(OP_REPEAT_START, 9), op(OP_LOAD, 6), push(1), op(OP_ADD),
           op(OP_STORE, 6), op(OP_REPEAT_END), op(OP_REPEAT_END), op(OP_HALT)});
    for (int i = 0; i < 5; i++) vm_step(&vm);
    ASSERT_EQ(vm.loopDepth, 2);
    EXPECT_EQ(vm.repeatStack[0].start, 2);
    EXPECT_EQ(vm.repeatStack[0].remaining, 3);
    EXPECT_EQ(vm.repeatStack[1].start, 4);
    EXPECT_EQ(vm.repeatStack[1].remaining, 4);
    step_while_running();
    EXPECT_EQ(vm.status, VM_HALT);
    EXPECT_EQ(vm.vars[6].value, 12.0);
    EXPECT_EQ(vm.loopDepth, 0);
}

TEST_F(VmTest, ThirtyTwoNestedRepeatsFit) {
    start(nested_repeats(32));
    step_while_running();
    EXPECT_EQ(vm.status, VM_HALT);
    EXPECT_EQ(vm.hasError, 0);
    start(nested_repeats(33));
    step_while_running();
    EXPECT_EQ(vm.status, VM_ERROR);
    EXPECT_EQ(vm.loopDepth, 32);
}

// ---------------------------------------------------------------------------
// Stack limits.

TEST_F(VmTest, StackHolds256Values) {
    start(repeated(push(1), 256, {op(OP_HALT)}));
    step_while_running();
    EXPECT_EQ(vm.status, VM_HALT);
    EXPECT_EQ(vm.sp, 256);
    // A CALL onto a full stack still calls the host, then fails to push.
    start(repeated(push(1), 256, {op(OP_CALL, 1)}));
    step_while_running();
    EXPECT_EQ(vm.status, VM_ERROR);
    EXPECT_STREQ(vm.error.message, "Desbordamiento de pila de la VM (máximo 256 valores)");
    EXPECT_EQ(rec.builtins.size(), 1u);
    EXPECT_EQ(vm.sp, 256);
}

// ---------------------------------------------------------------------------
// Host operations.

TEST_F(VmTest, ActionsReachTheHost) {
    start({op(OP_MOVE_UP), op(OP_MOVE_DOWN), op(OP_MOVE_LEFT), op(OP_MOVE_RIGHT), op(OP_SHOOT), op(OP_SHIELD),
           op(OP_SHOOT), op(OP_HALT)});
    step_while_running();
    EXPECT_EQ(rec.moves, (std::vector<int32_t>{0, 1, 2, 3}));
    EXPECT_EQ(rec.shoots, 2);
    EXPECT_EQ(rec.shields, 1);
    EXPECT_EQ(vm.sp, 0);
    EXPECT_EQ(vm.status, VM_HALT);
}

TEST_F(VmTest, AbsentHostOperationsAreSkipped) {
    const Program program = {op(OP_MOVE_UP), op(OP_SHOOT),   op(OP_SHIELD), op(OP_CALL, 0),
                             push(2.5),      op(OP_CALL, 3), op(OP_HALT)};
    fill_result(program, 8);
    vm_load(&vm, &result, nullptr);
    vm_reset(&vm);
    step_while_running();
    EXPECT_EQ(vm.status, VM_HALT);
    ASSERT_EQ(vm.sp, 2);
    EXPECT_TRUE(same_number(vm.stack[0], 0.0));
    EXPECT_TRUE(same_number(vm.stack[1], 0.0));
    EXPECT_TRUE(rec.moves.empty());
    EXPECT_EQ(rec.shoots, 0);
}

TEST_F(VmTest, BuiltinsGetTheirIndexAndArgument) {
    rec.builtinResult = 7.5;
    start({op(OP_CALL, 0), op(OP_CALL, 1), op(OP_CALL, 2), push(6.7), op(OP_CALL, 3), op(OP_HALT)});
    step_while_running();
    ASSERT_EQ(rec.builtins.size(), 4u);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(rec.builtins[i].index, i);
        EXPECT_EQ(rec.builtins[i].argument, 0.0);
        EXPECT_EQ(rec.builtins[i].hasArgument, 0);
    }
    EXPECT_EQ(rec.builtins[3].index, 3);
    EXPECT_EQ(rec.builtins[3].argument, 6.7);
    EXPECT_EQ(rec.builtins[3].hasArgument, 1);
    ASSERT_EQ(vm.sp, 4) << "random's argument is consumed";
    for (int i = 0; i < 4; i++) EXPECT_EQ(vm.stack[i], 7.5);
}

struct GameStatusCase {
    int32_t game;
    VmStatus status;
};

TEST_F(VmTest, GameStatusAfterAStepEndsTheMatch) {
    const std::vector<GameStatusCase> cases = {
        {0, VM_EJECUTANDO}, {1, VM_VICTORIA}, {2, VM_DERROTA}, {3, VM_EJECUTANDO}, {-1, VM_EJECUTANDO},
    };
    for (const GameStatusCase& c : cases) {
        SCOPED_TRACE(c.game);
        SetUp();
        rec.gameStatusValue = c.game;
        start({op(OP_SHOOT), op(OP_JMP, 0)});
        vm_run(&vm, 10);
        EXPECT_EQ(vm.status, c.status);
        const bool ended = c.status != VM_EJECUTANDO;
        EXPECT_EQ(vm.steps, ended ? 1 : 10);
        EXPECT_EQ(rec.gameStatusCalls, ended ? 1 : 10);
        EXPECT_EQ(vm.budgetHits, ended ? 0 : 1);
        // Victory and defeat are final: later calls only count ticks.
        vm_run(&vm, 10);
        EXPECT_EQ(vm.steps, ended ? 1 : 20);
        EXPECT_EQ(vm.ticks, 2);
    }
}

TEST_F(VmTest, GameIsNotAskedAfterHalt) {
    start({op(OP_SHOOT), op(OP_HALT)});
    step_while_running();
    EXPECT_EQ(vm.status, VM_HALT);
    EXPECT_EQ(rec.gameStatusCalls, 1);
}

// ---------------------------------------------------------------------------
// vm_run: budget, final statuses and the HALT restart.

struct BudgetCase {
    const char* name;
    Program program;
    int32_t budget;
    int gameWonFromCall;  // 0: the game never ends
    int32_t steps;
    int32_t budgetHits;
};

TEST_F(VmTest, BudgetHitsCountOnlyFullBudgetsStillRunning) {
    const std::vector<BudgetCase> cases = {
        {"endless loop", {op(OP_JMP, 0)}, 5, 0, 5, 1},
        {"budget 0 means 200", {op(OP_JMP, 0)}, 0, 0, 200, 1},
        {"budget -1 means 200", {op(OP_JMP, 0)}, -1, 0, 200, 1},
        {"int32 min budget", {op(OP_JMP, 0)}, INT32_MIN, 0, 200, 1},
        {"halt on the last step", {push(1), push(2), op(OP_HALT)}, 3, 0, 3, 0},
        {"halt after the budget", {push(1), push(2), op(OP_HALT)}, 2, 0, 2, 1},
        {"halt before the budget", {push(1), push(2), op(OP_HALT)}, 9, 0, 3, 0},
        {"won on the last step", {op(OP_JMP, 0)}, 3, 3, 3, 0},
        {"wait on the last step", {push(2), op(OP_WAIT), op(OP_HALT)}, 2, 0, 2, 0},
        {"error on the last step", {push(1), op(OP_ADD)}, 2, 0, 2, 0},
    };
    for (const BudgetCase& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        if (c.gameWonFromCall > 0) {
            rec.gameStatusValue = 1;
            rec.gameStatusFrom = c.gameWonFromCall;
        }
        start(c.program);
        vm_run(&vm, c.budget);
        EXPECT_EQ(vm.steps, c.steps);
        EXPECT_EQ(vm.budgetHits, c.budgetHits);
        EXPECT_EQ(vm.ticks, 1);
    }
}

TEST_F(VmTest, FinalStatusesOnlyCountTicks) {
    for (VmStatus status : {VM_LISTO, VM_VICTORIA, VM_DERROTA, VM_ERROR}) {
        SCOPED_TRACE(status);
        start({op(OP_SHOOT), op(OP_JMP, 0)});
        vm.status = status;
        vm_run(&vm, 50);
        vm_run(&vm, 50);
        EXPECT_EQ(vm.status, status);
        EXPECT_EQ(vm.ticks, 2);
        EXPECT_EQ(vm.steps, 0);
    }
    EXPECT_EQ(rec.shoots, 0);
    // Loaded but not reset: listo.
    fill_result({op(OP_SHOOT)}, 8);
    const VmHost host = recording_host();
    vm_load(&vm, &result, &host);
    vm_run(&vm, 50);
    EXPECT_EQ(vm.status, VM_LISTO);
    EXPECT_EQ(vm.steps, 0);
    EXPECT_EQ(vm.ticks, 1);
}

TEST_F(VmTest, HaltRestartsOnThe30thCallKeepingVariablesAndCounters) {
    // v6 = v6 + 1; leave 9 on the stack and a REPEAT frame open; HALT.
    start({op(OP_LOAD, 6), push(1), op(OP_ADD), op(OP_STORE, 6), push(9), push(5), op(OP_REPEAT_START, 8), op(OP_HALT),
           op(OP_HALT)});
    vm_run(&vm, 2);
    vm_run(&vm, 2);
    vm_run(&vm, 2);
    vm_run(&vm, 2);  // REPEAT_START, HALT: the status changes on the last step
    ASSERT_EQ(vm.status, VM_HALT);
    EXPECT_EQ(vm.budgetHits, 3);
    EXPECT_EQ(vm.steps, 8);
    EXPECT_EQ(vm.sp, 1);
    EXPECT_EQ(vm.loopDepth, 1);
    EXPECT_EQ(vm.vars[6].value, 1.0);
    for (int call = 1; call <= 29; call++) {
        vm_run(&vm, 2);
        ASSERT_EQ(vm.status, VM_HALT) << call;
        ASSERT_EQ(vm.haltTicks, call);
    }
    EXPECT_EQ(vm.steps, 8);
    EXPECT_EQ(vm.ticks, 33);
    vm.wait = 7;     // whatever it holds, the restart clears it
    vm_run(&vm, 2);  // the 30th call: restart and run LOAD, PUSH
    EXPECT_EQ(vm.status, VM_EJECUTANDO);
    EXPECT_EQ(vm.pc, 2);
    EXPECT_EQ(vm.sp, 2);
    EXPECT_EQ(vm.stack[0], 1.0);
    EXPECT_EQ(vm.loopDepth, 0);
    EXPECT_EQ(vm.wait, 0);
    EXPECT_EQ(vm.haltTicks, 0);
    EXPECT_EQ(vm.steps, 10);
    EXPECT_EQ(vm.ticks, 34);
    EXPECT_EQ(vm.budgetHits, 4);
    vm_run(&vm, 2);
    EXPECT_EQ(vm.vars[6].value, 2.0);
}

// ---------------------------------------------------------------------------
// Loading, resetting, names.

TEST_F(VmTest, LoadCopiesTheProgramAndClampsHandMadeCounts) {
    struct Case {
        int32_t codeCount, varCount, wantCode, wantVars;
    };
    const std::vector<Case> cases = {
        {3, 8, 3, 8},
        {5000, 100, MAX_CODE, MAX_VARS},
        {-3, -1, 0, 0},
        {MAX_CODE, MAX_VARS, MAX_CODE, MAX_VARS},
        {INT32_MIN, INT32_MAX, 0, MAX_VARS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.codeCount) + " " + std::to_string(c.varCount));
        fill_result(repeated(op(OP_SHOOT), MAX_CODE), MAX_VARS);
        result.code[MAX_CODE - 1].op = OP_HALT;
        result.codeCount = c.codeCount;
        result.varCount = c.varCount;
        std::memset(&vm, 0xA5, sizeof vm);
        const VmHost host = recording_host();
        vm_load(&vm, &result, &host);
        EXPECT_EQ(vm.codeCount, c.wantCode);
        EXPECT_EQ(vm.varCount, c.wantVars);
        EXPECT_EQ(vm.status, VM_LISTO);
        EXPECT_EQ(vm.sp, 0);
        EXPECT_EQ(vm.pc, 0);
        EXPECT_EQ(vm.steps, 0);
        EXPECT_EQ(vm.hasError, 0);
        EXPECT_EQ(vm.error.message[0], '\0');
        EXPECT_EQ(vm.host.context, &rec);
        for (int32_t i = 0; i < c.wantCode; i++) ASSERT_EQ(vm.code[i].op, result.code[i].op);
        if (c.wantCode < MAX_CODE) {
            EXPECT_NE(vm.code[c.wantCode].op, OP_SHOOT) << "nothing copied past the count";
        }
        for (int32_t i = 0; i < c.wantVars; i++) {
            ASSERT_STREQ(vm.vars[i].name, result.varNames[i]);
            ASSERT_EQ(vm.vars[i].value, 0.0);
            ASSERT_EQ(vm.vars[i].readonly, i < RESERVED_VARS ? 1 : 0);
        }
        // The machine runs within what it copied.
        vm_reset(&vm);
        step_while_running(5000);
        EXPECT_EQ(vm.status, c.wantCode == MAX_CODE ? VM_HALT : VM_ERROR);
    }
}

// Loading clears only the program loaded before: a machine that ran one
// program after another, long ones before short ones, ends each load byte for
// byte as a clear of every byte followed by the same load leaves it.
TEST_F(VmTest, LoadingInSequenceLeavesTheMachineAsAfterAFullClear) {
    std::mt19937 gen(20261208u);
    auto pick = [&](int n) { return static_cast<int>(gen() % static_cast<unsigned>(n)); };
    static unsigned char loaded[sizeof(Vm)];
    vm_clear(&vm);
    int failures = 0;
    for (int round = 0; round < 300; round++) {
        SCOPED_TRACE(round);
        const int length = round % 7 == 0 ? MAX_CODE : pick(60);
        Program program;
        for (int i = 0; i < length; i++) program.push_back({pick(OPCODE_COUNT), pick(length + 2), 1.0 + pick(5)});
        fill_result(program, pick(MAX_VARS + 1));
        if (round % 11 == 0) result.codeCount = pick(2) ? 9999 : -1;
        const VmHost host = recording_host();
        vm_load(&vm, &result, &host);
        std::memcpy(loaded, &vm, sizeof vm);
        vm_clear(&vm);
        vm_load(&vm, &result, &host);
        if (std::memcmp(loaded, &vm, sizeof vm) != 0) {
            ADD_FAILURE() << "the machine differs from a fully cleared one";
            if (++failures == 5) return;
        }
        std::memcpy(static_cast<void*>(&vm), loaded, sizeof vm);
        // Run it a while, so the next load starts from a used machine.
        vm_reset(&vm);
        for (int tick = 0; tick < 20; tick++) vm_run(&vm, 1 + pick(200));
    }
}

// A machine in memory of unknown content: vm_clear makes it fit for vm_load.
TEST_F(VmTest, ClearedGarbageLoadsAsAZeroMachine) {
    static Vm clean;
    fill_result({push(1), op(OP_WAIT), op(OP_SHOOT), op(OP_HALT)}, 8);
    const VmHost host = recording_host();
    vm_load(&clean, &result, &host);
    for (int fill : {0x01, 0x7F, 0xA5, 0xFF}) {
        std::memset(static_cast<void*>(&vm), fill, sizeof vm);
        vm_clear(&vm);
        vm_load(&vm, &result, &host);
        EXPECT_EQ(std::memcmp(&vm, &clean, sizeof vm), 0) << fill;
    }
}

TEST_F(VmTest, LoadCutsNamesAt23Bytes) {
    fill_result({op(OP_HALT)}, 8);
    std::memset(result.varNames[6], 'a', sizeof result.varNames[6]);  // no terminator at all
    std::snprintf(result.varNames[7], sizeof result.varNames[7], "%s", "puntos");
    result.varReadonly[7] = 5;
    vm_load(&vm, &result, nullptr);
    EXPECT_EQ(std::string(vm.vars[6].name), std::string(23, 'a'));
    EXPECT_STREQ(vm.vars[7].name, "puntos");
    EXPECT_EQ(vm.vars[7].readonly, 5);
    EXPECT_EQ(vm.host.move, nullptr);
    EXPECT_EQ(vm.host.gameStatus, nullptr);
    // No result at all loads an empty program.
    vm_load(&vm, nullptr, nullptr);
    EXPECT_EQ(vm.codeCount, 0);
    EXPECT_EQ(vm.varCount, 0);
}

TEST_F(VmTest, ResetClearsTheRunButKeepsTheProgram) {
    start({push(4), op(OP_STORE, 6), push(2), push(3), push(1), op(OP_REPEAT_START, 7), push(0), op(OP_MOD)});
    step_while_running();
    ASSERT_EQ(vm.status, VM_ERROR);
    vm.budgetHits = 3;
    vm.ticks = 9;
    vm_reset(&vm);
    EXPECT_EQ(vm.status, VM_EJECUTANDO);
    EXPECT_EQ(vm.sp, 0);
    EXPECT_EQ(vm.pc, 0);
    EXPECT_EQ(vm.loopDepth, 0);
    EXPECT_EQ(vm.steps, 0);
    EXPECT_EQ(vm.ticks, 0);
    EXPECT_EQ(vm.budgetHits, 0);
    EXPECT_EQ(vm.hasError, 0);
    EXPECT_EQ(vm.error.phase, PHASE_NINGUNA);
    EXPECT_EQ(vm.error.line, 0);
    EXPECT_STREQ(vm.error.message, "");
    EXPECT_EQ(vm.vars[6].value, 0.0);
    EXPECT_STREQ(vm.vars[6].name, "v6");
    EXPECT_EQ(vm.vars[0].readonly, 1);
    EXPECT_EQ(vm.codeCount, 8);
}

TEST(VmNames, StatusNames) {
    const std::vector<std::pair<int32_t, const char*>> cases = {
        {0, "listo"},   {1, "ejecutando"}, {2, "esperando"}, {3, "halt"}, {4, "victoria"},
        {5, "derrota"}, {6, "error"},      {7, "?"},         {-1, "?"},   {INT32_MIN, "?"},
    };
    for (const auto& [status, name] : cases) EXPECT_STREQ(vm_status_name(status), name) << status;
}

TEST(VmNumbers, WholeNumberBoundaries) {
    const std::vector<std::pair<double, int32_t>> cases = {
        {0.0, 0},
        {-0.0, 0},
        {2.9, 2},
        {-2.9, -2},
        {0.999, 0},
        {2147483647.0, 2147483647},
        {2147483646.9, 2147483646},
        {2147483647.5, INT32_MIN},
        {2147483648.0, INT32_MIN},
        {-2147483648.0, INT32_MIN},
        {-2147483647.5, -2147483647},
        {-2147483648.5, INT32_MIN},
        {-2147483649.0, INT32_MIN},
        {1e300, INT32_MIN},
        {NaN, INT32_MIN},
        {INF, INT32_MIN},
        {-INF, INT32_MIN},
    };
    for (const auto& [value, whole] : cases) EXPECT_EQ(vm_whole_number(value), whole) << value;
}

TEST_F(VmTest, SetReservedWritesOnlyIndices0To5BelowVarCount) {
    struct Case {
        int32_t varCount, index;
        bool written;
    };
    const std::vector<Case> cases = {
        {8, 0, true}, {8, 5, true}, {8, 6, false}, {8, -1, false}, {3, 2, true}, {3, 4, false}, {0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.varCount) + " " + std::to_string(c.index));
        start({op(OP_HALT)}, c.varCount);
        vm_set_reserved(&vm, c.index, 77.0);
        for (int32_t i = 0; i < MAX_VARS; i++) {
            EXPECT_EQ(vm.vars[i].value, (c.written && i == c.index) ? 77.0 : 0.0) << i;
        }
    }
}

TEST(VmAbsent, NullMachineIsIgnored) {
    vm_load(nullptr, nullptr, nullptr);
    vm_reset(nullptr);
    vm_run(nullptr, 10);
    vm_error(nullptr, 1, "%s", "x");
    vm_set_reserved(nullptr, 0, 1.0);
    EXPECT_EQ(vm_step(nullptr), VM_ERROR);
    EXPECT_EQ(vm_step_waiting(nullptr), VM_ERROR);
}

// ---------------------------------------------------------------------------
// Robustness: counters, tampered state, random bytecode.

TEST_F(VmTest, CountersStopAtTheLargestInt32) {
    start({op(OP_JMP, 0)});
    vm.steps = INT32_MAX - 3;
    vm.ticks = INT32_MAX;
    vm.budgetHits = INT32_MAX;
    vm_run(&vm, 10);
    EXPECT_EQ(vm.steps, INT32_MAX);
    EXPECT_EQ(vm.ticks, INT32_MAX);
    EXPECT_EQ(vm.budgetHits, INT32_MAX);
    EXPECT_EQ(vm.status, VM_EJECUTANDO);
    start({op(OP_HALT)});
    vm_run(&vm, 10);
    vm.haltTicks = INT32_MAX;
    vm_run(&vm, 10);  // past 30 calls: restarts
    EXPECT_EQ(vm.haltTicks, 0);
    EXPECT_EQ(vm.status, VM_HALT);
}

// State written from outside the machine is checked like bytecode is.
TEST_F(VmTest, TamperedMachineStateIsRefused) {
    struct Case {
        const char* name;
        Program program;
        void (*tamper)(Vm&);
        const char* message;
    };
    const std::vector<Case> cases = {
        {"sp above the stack",
         {op(OP_ADD)},
         [](Vm& m) { m.sp = 300; },
         "Pila vacía: la instrucción intentó sacar un valor que no existe"},
        {"negative sp", {push(1)}, [](Vm& m) { m.sp = -4; }, "Desbordamiento de pila de la VM (máximo 256 valores)"},
        {"loop depth above the frames",
         {op(OP_REPEAT_END)},
         [](Vm& m) { m.loopDepth = 40; },
         "REPEAT_END sin un REPEAT_START activo"},
        {"negative loop depth",
         {push(2), op(OP_REPEAT_START, 2), op(OP_HALT)},
         [](Vm& m) { m.loopDepth = -1; },
         "Demasiados REPEAT anidados (máximo 32)"},
        {"varCount above the file",
         {op(OP_LOAD, 70)},
         [](Vm& m) { m.varCount = 100; },
         "Variable inválida en LOAD (70)"},
        {"codeCount above the table",
         {op(OP_HALT)},
         [](Vm& m) {
             m.codeCount = 5000;
             m.pc = 3000;
         },
         "Contador de programa fuera del bytecode (3000)"},
        {"jump beyond the table",
         {op(OP_JMP, 2048)},
         [](Vm& m) { m.codeCount = 5000; },
         "Salto inválido a la dirección 2048"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start(c.program);
        c.tamper(vm);
        step_while_running(100);
        EXPECT_EQ(vm.status, VM_ERROR);
        EXPECT_STREQ(vm.error.message, c.message);
    }
    start({op(OP_HALT)});
    vm.status = VM_ESPERANDO;
    vm.wait = INT32_MIN;
    vm_run(&vm, 5);
    EXPECT_EQ(vm.wait, 0);
    EXPECT_EQ(vm.status, VM_HALT);
}

// Random programs of every opcode and operand kind, run under the sanitizers:
// the machine must stay inside its tables and keep its record consistent.
TEST_F(VmTest, RandomBytecodeStaysInsideTheTables) {
    std::mt19937 gen(20240611u);
    const double numbers[] = {0.0, -0.0, 1.0, -1.0, 2.5, 600.0, 10000.0, 1e10, -1e10, NaN, INF, -INF, 33.0};
    auto pick = [&](int n) { return static_cast<int>(gen() % static_cast<unsigned>(n)); };
    int errors = 0, halts = 0;
    for (int round = 0; round < 400; round++) {
        const int length = round % 50 == 0 ? MAX_CODE : pick(40);
        Program program;
        for (int i = 0; i < length; i++) {
            const int code = pick(10) == 0 ? 32 + pick(224) : pick(OPCODE_COUNT);
            const int32_t args[] = {0,        1,      -1, length, length - 1, INT32_MIN, INT32_MAX, pick(length + 2),
                                    pick(70), pick(6)};
            program.push_back({code, args[pick(10)], numbers[pick(13)]});
        }
        const int32_t varCounts[] = {0, 6, 8, MAX_VARS, 100, -5};
        fill_result(program, varCounts[pick(6)]);
        if (pick(8) == 0) result.codeCount = pick(2) ? 9999 : -1;
        const VmHost host = recording_host();
        vm_load(&vm, &result, pick(4) ? &host : nullptr);
        vm_reset(&vm);
        int64_t budgetTotal = 0;
        for (int tick = 0; tick < 60; tick++) {
            const int32_t budget = pick(5) == 0 ? -1 : pick(300);
            budgetTotal += budget <= 0 ? DEFAULT_BUDGET : budget;
            if (pick(3) == 0)
                vm_step_waiting(&vm);
            else
                vm_run(&vm, budget);
            ASSERT_GE(vm.sp, 0);
            ASSERT_LE(vm.sp, MAX_STACK);
            ASSERT_GE(vm.loopDepth, 0);
            ASSERT_LE(vm.loopDepth, MAX_REPEAT);
            ASSERT_GE(vm.wait, 0);
            ASSERT_LE(vm.wait, MAX_WAIT_TICKS);
            ASSERT_GE(vm.codeCount, 0);
            ASSERT_LE(vm.codeCount, MAX_CODE);
            ASSERT_EQ(vm.status == VM_ERROR, vm.hasError != 0);
            ASSERT_LE(vm.steps, budgetTotal + tick + 1);
            ASSERT_NE(vm_status_name(vm.status)[0], '?');
        }
        errors += vm.status == VM_ERROR;
        halts += vm.status == VM_HALT;
    }
    // The programs reach both ends: most fail, some halt cleanly.
    EXPECT_GT(errors, 100);
    EXPECT_GT(halts, 0);
}

}  // namespace

// ---------------------------------------------------------------------------
// The budgeted run against the machine stepped one instruction at a time.

// MOD of whole numbers takes a shortcut through integer division; every pair
// must still give what fmod gives, bit for bit (the sign of a zero included).
TEST_F(VmTest, ModGivesWhatFmodGives) {
    const double values[] = {
        0.0,   -0.0,     1.0,          -1.0,          7.0,           -7.0,         3.0,           -3.0,         0.5,
        -0.5,  2.5,      -2.5,         0.1,           1.0 / 3.0,     6.283,        1e-300,        5e-324,       1e6,
        -1e6,  100000.5, 2147483647.0, -2147483647.0, -2147483648.0, 2147483648.0, -2147483649.0, 4294967296.0, 1e15,
        -1e15, 1e300,    -1e300,       INF,           -INF,          NaN};
    int compared = 0;
    for (double a : values) {
        for (double b : values) {
            if (b == 0.0) continue;  // refused with its error, tested above
            SCOPED_TRACE(testing::Message() << a << " % " << b);
            start({push(a), push(b), op(OP_MOD), op(OP_HALT)});
            vm_run(&vm, 10);  // the budgeted run
            ASSERT_EQ(vm.status, VM_HALT);
            ASSERT_EQ(vm.sp, 1);
            EXPECT_TRUE(same_number(vm.stack[0], std::fmod(a, b))) << vm.stack[0];
            start({push(a), push(b), op(OP_MOD), op(OP_HALT)});
            step_while_running();  // one step at a time
            ASSERT_EQ(vm.sp, 1);
            EXPECT_TRUE(same_number(vm.stack[0], std::fmod(a, b))) << vm.stack[0];
            compared++;
        }
    }
    EXPECT_GT(compared, 1000);
}

// A host whose game ends only through its own operations: after the
// endAfter-th operation the status turns to endStatus.
struct OperationsHost {
    std::vector<std::string> calls;  // every operation, in order, with its arguments
    int operations = 0;
    int endAfter = 0;  // 0: never
    int32_t endStatus = 1;
    int statusCalls = 0;
};

OperationsHost* ops_of(void* c) { return static_cast<OperationsHost*>(c); }
void ops_operation(void* c, const std::string& call) {
    OperationsHost* h = ops_of(c);
    h->calls.push_back(call);
    h->operations++;
}
VmHost operations_host(OperationsHost* recorder, int32_t onlyInOperations) {
    VmHost host{};
    host.context = recorder;
    host.move = [](void* c, int32_t d) { ops_operation(c, "move " + std::to_string(d)); };
    host.shoot = [](void* c) { ops_operation(c, "shoot"); };
    host.shield = [](void* c) { ops_operation(c, "shield"); };
    host.builtin = [](void* c, int32_t index, double argument, int32_t hasArgument) {
        ops_operation(
            c, "builtin " + std::to_string(index) + " " + std::to_string(argument) + " " + std::to_string(hasArgument));
        return static_cast<double>(ops_of(c)->operations % 3);
    };
    host.gameStatus = [](void* c) {
        OperationsHost* h = ops_of(c);
        h->statusCalls++;
        return h->endAfter > 0 && h->operations >= h->endAfter ? h->endStatus : 0;
    };
    host.statusChangesOnlyInOperations = onlyInOperations;
    return host;
}

// Mostly well-formed programs, so that runs go on for many ticks: statements
// that keep the stack balanced, jumps to statement starts, every opcode; now
// and then a raw instruction that may fault.
Program generated_program(std::mt19937& gen) {
    const double numbers[] = {0.0, -0.0, 1.0, -1.0, 2.0, 3.0, 2.5, 7.0, 100.0, 1e10, NaN, INF, -7.0, 0.5};
    auto pick = [&](int n) { return static_cast<int>(gen() % static_cast<unsigned>(n)); };
    auto number = [&] { return numbers[pick(14)]; };
    auto variable = [&] { return 6 + pick(2); };
    constexpr int32_t TO_STATEMENT = 1 << 20;  // arg = TO_STATEMENT + statement index, resolved below
    const int count = 3 + pick(25);
    std::vector<Program> statements;
    for (int i = 0; i < count; i++) {
        const int32_t target = TO_STATEMENT + pick(count + 1);
        Program st;
        switch (pick(11)) {
            case 0:
                st = {push(number()), push(number()), op(OP_ADD + pick(OP_OR - OP_ADD + 1)), op(OP_STORE, variable())};
                break;
            case 1: st = {op(OP_LOAD, variable()), op(pick(2) ? OP_JZ : OP_JNZ, target)}; break;
            case 2: st = {op(OP_MOVE_UP + pick(4))}; break;
            case 3: st = {op(pick(2) ? OP_SHOOT : OP_SHIELD)}; break;
            case 4: st = {push(pick(4)), op(OP_WAIT)}; break;
            case 5: st = {op(OP_CALL, pick(3)), op(OP_STORE, variable())}; break;
            case 6: st = {push(number()), op(OP_CALL, 3), op(OP_STORE, variable())}; break;
            case 7: st = {op(OP_JMP, target)}; break;
            case 8:
                st = {push(pick(4)), op(OP_REPEAT_START, -1), op(OP_SHOOT), op(OP_MOVE_LEFT), op(OP_REPEAT_END)};
                break;
            case 9: st = {op(OP_LOAD, variable()), op(OP_NEG), op(OP_NOT), op(OP_STORE, variable())}; break;
            default: st = {{pick(OPCODE_COUNT + 2), pick(count * 3) - 1, number()}}; break;  // anything
        }
        statements.push_back(st);
    }
    statements.push_back({pick(2) ? op(OP_HALT) : op(OP_JMP, TO_STATEMENT)});
    std::vector<int32_t> address;
    int32_t next = 0;
    for (const Program& st : statements) {
        address.push_back(next);
        next += static_cast<int32_t>(st.size());
    }
    address.push_back(next);
    Program program;
    for (const Program& st : statements) {
        for (Ins ins : st) {
            if (ins.arg >= TO_STATEMENT) ins.arg = address[static_cast<size_t>(ins.arg - TO_STATEMENT)];
            // A REPEAT_START skips to just past its REPEAT_END, three instructions on.
            if (ins.op == OP_REPEAT_START && ins.arg == -1) ins.arg = static_cast<int32_t>(program.size()) + 4;
            program.push_back(ins);
        }
    }
    return program;
}

struct Machine {
    Vm vm;
    OperationsHost host;
};

void load_machine(Machine& m, const CompileResult& r, int32_t onlyInOperations, int endAfter) {
    m.host = OperationsHost{};
    m.host.endAfter = endAfter;
    const VmHost host = operations_host(&m.host, onlyInOperations);
    vm_load(&m.vm, &r, &host);
    vm_reset(&m.vm);
}

// Everything a tick leaves that anyone can see.
void expect_same_machine(const Machine& a, const Machine& b) {
    ASSERT_EQ(a.vm.status, b.vm.status);
    ASSERT_EQ(a.vm.pc, b.vm.pc);
    ASSERT_EQ(a.vm.sp, b.vm.sp);
    for (int32_t i = 0; i < a.vm.sp && i < MAX_STACK; i++) ASSERT_TRUE(same_number(a.vm.stack[i], b.vm.stack[i]));
    for (int32_t i = 0; i < MAX_VARS; i++) ASSERT_TRUE(same_number(a.vm.vars[i].value, b.vm.vars[i].value));
    ASSERT_EQ(a.vm.steps, b.vm.steps);
    ASSERT_EQ(a.vm.ticks, b.vm.ticks);
    ASSERT_EQ(a.vm.budgetHits, b.vm.budgetHits);
    ASSERT_EQ(a.vm.loopDepth, b.vm.loopDepth);
    ASSERT_EQ(a.vm.wait, b.vm.wait);
    ASSERT_EQ(a.vm.hasError, b.vm.hasError);
    ASSERT_EQ(a.vm.error.line, b.vm.error.line);
    ASSERT_STREQ(a.vm.error.message, b.vm.error.message);
    ASSERT_EQ(a.host.calls, b.host.calls);
}

// One tick of vm_run done by hand with vm_step, for a machine that is running:
// up to the budget while it runs, then the tick and budget counters.
void run_tick_by_steps(Vm* vm, int32_t budget) {
    int32_t executed = 0;
    while (executed < budget && vm->status == VM_EJECUTANDO) {
        vm_step(vm);
        executed++;
    }
    if (executed == budget && vm->status == VM_EJECUTANDO) vm->budgetHits++;
    vm->ticks++;
}

// The budgeted run (with the game asked after every instruction, or, for a host
// that says so, only after its operations) leaves the machine exactly as
// stepping does: same pc, stack, variables, counters, errors and host calls.
TEST(VmRunAgainstSteps, GeneratedProgramsGiveTheSameMachine) {
    static Machine stepped;
    static Machine askedEveryStep;
    static Machine askedAfterOperations;
    static CompileResult r;
    std::mt19937 gen(4711u);
    int ended = 0, errors = 0, budgetHits = 0, fewerQuestions = 0;
    for (int round = 0; round < 600; round++) {
        SCOPED_TRACE(round);
        const Program program = generated_program(gen);
        std::memset(&r, 0, sizeof r);
        r.ok = 1;
        r.codeCount = static_cast<int32_t>(program.size());
        for (size_t i = 0; i < program.size(); i++) {
            r.code[i].op = static_cast<uint8_t>(program[i].op);
            r.code[i].arg = program[i].arg;
            r.code[i].num = program[i].num;
            r.code[i].line = static_cast<int16_t>(line_of(static_cast<int32_t>(i)));
        }
        r.varCount = 8;
        const int endAfter = round % 3 == 0 ? 0 : 1 + static_cast<int>(gen() % 40u);
        load_machine(stepped, r, 0, endAfter);
        load_machine(askedEveryStep, r, 0, endAfter);
        load_machine(askedAfterOperations, r, 1, endAfter);
        for (int tick = 0; tick < 40; tick++) {
            const int32_t budget = 1 + static_cast<int32_t>(gen() % 60u);
            if (stepped.vm.status == VM_EJECUTANDO) {
                run_tick_by_steps(&stepped.vm, budget);
            } else {
                vm_run(&stepped.vm, budget);  // the halt, wait and final-status bookkeeping
            }
            vm_run(&askedEveryStep.vm, budget);
            vm_run(&askedAfterOperations.vm, budget);
            expect_same_machine(stepped, askedEveryStep);
            expect_same_machine(stepped, askedAfterOperations);
            if (HasFatalFailure()) return;
        }
        // The generic host is asked exactly as often as the stepped machine asks it.
        EXPECT_EQ(askedEveryStep.host.statusCalls, stepped.host.statusCalls);
        EXPECT_LE(askedAfterOperations.host.statusCalls, askedAfterOperations.host.operations);
        fewerQuestions += askedAfterOperations.host.statusCalls < stepped.host.statusCalls;
        ended += stepped.vm.status == VM_VICTORIA;
        errors += stepped.vm.hasError;
        budgetHits += stepped.vm.budgetHits > 0;
    }
    // The rounds reach every outcome.
    EXPECT_GT(ended, 50);
    EXPECT_GT(errors, 50);
    EXPECT_GT(budgetHits, 50);
    EXPECT_GT(fewerQuestions, 300);
}

// ---------------------------------------------------------------------------
// The opcode table's stack effects are the machine's: each opcode, run on a
// stack of three values, leaves it pushes - pops deeper.

TEST_F(VmTest, EveryOpcodeMovesTheStackAsItsTableRowSays) {
    for (const OpcodeRow& row : OPCODE_TABLE) {
        // Operands that take the quiet path: a divisor of 2, a WAIT and a
        // REPEAT of 1 pass, jumps to the next address, a built-in of each arity.
        std::vector<int32_t> args = {0};
        if (row.operand == OPERAND_VARIABLE) args = {6};
        if (row.operand == OPERAND_BUILTIN) args = {BUILTIN_ENEMY_AHEAD, BUILTIN_RANDOM};
        for (int32_t arg : args) {
            SCOPED_TRACE(std::string(row.name) + " " + std::to_string(arg));
            Program program = {push(1), push(2), push(row.value == OP_WAIT ? 0 : 1)};
            // REPEAT_END closes a loop of one pass opened just before it.
            if (row.value == OP_REPEAT_END) program.insert(program.end(), {push(1), op(OP_REPEAT_START, 6)});
            const int before = static_cast<int>(program.size());
            program.insert(program.end(), {op(row.value, before + 1), op(OP_HALT)});
            if (row.operand != OPERAND_ADDRESS) program[static_cast<size_t>(before)].arg = arg;
            start(program);
            for (int i = 0; i < before; i++) vm_step(&vm);
            ASSERT_EQ(vm.sp, 3);
            vm_step(&vm);
            EXPECT_FALSE(vm.hasError) << vm.error.message;
            const int pops = row.pops == STACK_ARITY ? BUILTIN_TABLE[arg].arity : row.pops;
            EXPECT_EQ(vm.sp, 3 - pops + row.pushes);
            EXPECT_GE(pops, 0);
        }
    }
}
