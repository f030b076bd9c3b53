// Virtual machine: runs a loaded program one instruction at a time, a tick's
// budget per vm_run, and reaches the game only through its host operations.
// Whatever bytecode it is handed, it never reads or writes outside its tables:
// every address, index and count is checked before a slot is touched.
#include "vm/vm.h"

#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "vm/runtime_contract.h"

namespace prendax {

namespace {

constexpr int32_t COUNTER_MAX = INT32_MAX;

// Counters stop at the largest int32 instead of overflowing on very long runs.
void count_up(int32_t& counter) {
    if (counter < COUNTER_MAX) counter++;
}

// Copies at most 23 bytes of a name, stopping at its terminator, and terminates it.
void copy_var_name(char (&to)[NAME_SIZE], const char (&from)[NAME_SIZE]) {
    int32_t n = 0;
    while (n < MAX_NAME_LENGTH && from[n] != '\0') {
        to[n] = from[n];
        n++;
    }
    to[n] = '\0';
}

bool truth(double value) { return value != 0.0; }

double flag(bool value) { return value ? 1.0 : 0.0; }

// The error paths stay out of line so that the checks on the hot path are one compare each.
[[gnu::cold, gnu::noinline]] void fail_empty_stack(Vm* vm, int32_t line) {
    vm_error(vm, line, "Pila vacía: la instrucción intentó sacar un valor que no existe");
}

[[gnu::cold, gnu::noinline]] void fail_stack_overflow(Vm* vm, int32_t line) {
    vm_error(vm, line, "Desbordamiento de pila de la VM (máximo %d valores)", MAX_STACK);
}

[[gnu::cold, gnu::noinline]] void fail_bad_pc(Vm* vm, int32_t pc) {
    vm_error(vm, 0, "Contador de programa fuera del bytecode (%d)", pc);
}

[[gnu::cold, gnu::noinline]] void fail_unknown_opcode(Vm* vm, const Instruction& ins) {
    vm_error(vm, ins.line, "Opcode desconocido (%d)", ins.op);
}

// sp is trusted only within 1..256 for a pop and 0..255 for a push.
inline bool pop(Vm* vm, const Instruction& ins, double& out) {
    if (static_cast<uint32_t>(vm->sp) - 1u >= static_cast<uint32_t>(MAX_STACK)) [[unlikely]] {
        fail_empty_stack(vm, ins.line);
        return false;
    }
    out = vm->stack[--vm->sp];
    return true;
}

inline void push(Vm* vm, const Instruction& ins, double value) {
    if (static_cast<uint32_t>(vm->sp) >= static_cast<uint32_t>(MAX_STACK)) [[unlikely]] {
        fail_stack_overflow(vm, ins.line);
        return;
    }
    vm->stack[vm->sp++] = value;
}

// The right operand comes off first; a lone value is consumed and the pop fails.
inline bool pop_operands(Vm* vm, const Instruction& ins, double& a, double& b) {
    return pop(vm, ins, b) && pop(vm, ins, a);
}

template <typename Operation>
void binary(Vm* vm, const Instruction& ins, Operation operation) {
    double a = 0.0;
    double b = 0.0;
    if (pop_operands(vm, ins, a, b)) push(vm, ins, operation(a, b));
}

template <typename Operation>
void unary(Vm* vm, const Instruction& ins, Operation operation) {
    double n = 0.0;
    if (pop(vm, ins, n)) push(vm, ins, operation(n));
}

// fmod of two whole numbers of fewer than 32 bits by integer division, which is
// as exact as fmod and many times cheaper; a zero takes the sign of a, as fmod's
// does. b is never 0.
inline double exact_fmod(double a, double b) {
    constexpr double WHOLE_LIMIT = 2147483648.0;  // 2^31: no quotient overflows
    if (std::fabs(a) < WHOLE_LIMIT && std::fabs(b) < WHOLE_LIMIT) {
        const auto wholeA = static_cast<int32_t>(a);
        const auto wholeB = static_cast<int32_t>(b);
        if (static_cast<double>(wholeA) == a && static_cast<double>(wholeB) == b) {
            const auto r = static_cast<double>(wholeA % wholeB);
            return r == 0.0 ? std::copysign(0.0, a) : r;
        }
    }
    return std::fmod(a, b);
}

// Division and remainder refuse a divisor of 0 or -0; both operands stay consumed.
template <typename Operation>
void checked_division(Vm* vm, const Instruction& ins, const char* message, Operation operation) {
    double a = 0.0;
    double b = 0.0;
    if (!pop_operands(vm, ins, a, b)) return;
    if (b == 0.0) {
        vm_error(vm, ins.line, "%s", message);
        return;
    }
    push(vm, ins, operation(a, b));
}

void divide(Vm* vm, const Instruction& ins) {
    checked_division(vm, ins, "División entre cero en ejecución", [](double a, double b) { return a / b; });
}

void modulo(Vm* vm, const Instruction& ins) { checked_division(vm, ins, "Módulo entre cero en ejecución", exact_fmod); }

bool variable_exists(const Vm* vm, int32_t index) { return index >= 0 && index < vm->varCount && index < MAX_VARS; }

void load(Vm* vm, const Instruction& ins) {
    if (!variable_exists(vm, ins.arg)) {
        vm_error(vm, ins.line, "Variable inválida en LOAD (%d)", ins.arg);
        return;
    }
    push(vm, ins, vm->vars[ins.arg].value);
}

// The read-only flag is not consulted: the compiler keeps programs off the reserved variables.
void store(Vm* vm, const Instruction& ins) {
    if (!variable_exists(vm, ins.arg)) {
        vm_error(vm, ins.line, "Variable inválida en STORE (%d)", ins.arg);
        return;
    }
    double n = 0.0;
    if (pop(vm, ins, n)) vm->vars[ins.arg].value = n;
}

// A target is valid inside the loaded code; an invalid one leaves pc at the next instruction.
void jump(Vm* vm, const Instruction& ins) {
    if (ins.arg < 0 || ins.arg >= vm->codeCount || ins.arg >= MAX_CODE) {
        vm_error(vm, ins.line, "Salto inválido a la dirección %d", ins.arg);
        return;
    }
    vm->pc = ins.arg;
}

void jump_if(Vm* vm, const Instruction& ins, bool when) {
    double n = 0.0;
    if (pop(vm, ins, n) && truth(n) == when) jump(vm, ins);
}

// A built-in that takes an argument (random) pops it; the others take none.
void call_builtin(Vm* vm, const Instruction& ins) {
    if (ins.arg < 0 || ins.arg >= BUILTIN_COUNT) {
        vm_error(vm, ins.line, "Función integrada inválida (%d)", ins.arg);
        return;
    }
    double argument = 0.0;
    int32_t hasArgument = 0;
    if (BUILTIN_TABLE[ins.arg].arity > 0) {
        if (!pop(vm, ins, argument)) return;
        hasArgument = 1;
    }
    const double result =
        vm->host.builtin != nullptr ? vm->host.builtin(vm->host.context, ins.arg, argument, hasArgument) : 0.0;
    push(vm, ins, result);
}

void move(Vm* vm, int32_t direction) {
    if (vm->host.move != nullptr) vm->host.move(vm->host.context, direction);
}

void shoot(Vm* vm) {
    if (vm->host.shoot != nullptr) vm->host.shoot(vm->host.context);
}

void shield(Vm* vm) {
    if (vm->host.shield != nullptr) vm->host.shield(vm->host.context);
}

// A WAIT lasts at most 600 ticks; a whole number of 0 or less does not wait.
// True when the machine starts waiting, which ends the step at once.
bool start_wait(Vm* vm, const Instruction& ins) {
    double n = 0.0;
    if (!pop(vm, ins, n)) return false;
    const int32_t k = vm_whole_number(n);
    if (k <= 0) {
        vm->wait = 0;
        return false;
    }
    vm->wait = k < MAX_WAIT_TICKS ? k : MAX_WAIT_TICKS;
    vm->status = VM_ESPERANDO;
    return true;
}

// A REPEAT runs at most 10000 passes; a count of 0 or less skips its body.
void repeat_start(Vm* vm, const Instruction& ins) {
    double n = 0.0;
    if (!pop(vm, ins, n)) return;
    const int32_t k = vm_whole_number(n);
    if (k <= 0) {
        jump(vm, ins);
        return;
    }
    if (vm->loopDepth < 0 || vm->loopDepth >= MAX_REPEAT) {
        vm_error(vm, ins.line, "Demasiados REPEAT anidados (máximo %d)", MAX_REPEAT);
        return;
    }
    RepeatFrame& frame = vm->repeatStack[vm->loopDepth++];
    frame.start = vm->pc;
    frame.remaining = k < MAX_REPEAT_PASSES ? k : MAX_REPEAT_PASSES;
}

void repeat_end(Vm* vm, const Instruction& ins) {
    if (vm->loopDepth <= 0 || vm->loopDepth > MAX_REPEAT) {
        vm_error(vm, ins.line, "REPEAT_END sin un REPEAT_START activo");
        return;
    }
    RepeatFrame& frame = vm->repeatStack[vm->loopDepth - 1];
    if (frame.remaining > 1) {
        frame.remaining--;
        vm->pc = frame.start;
        return;
    }
    frame.remaining = 0;
    vm->loopDepth--;
}

void halt(Vm* vm) {
    vm->haltTicks = 0;
    vm->status = VM_HALT;
}

// Executes one fetched instruction of a known opcode. True when the step ends
// at once (HALT, or a WAIT that starts waiting), without asking the game.
[[gnu::always_inline]] inline bool execute(Vm* vm, const Instruction& ins) {
    switch (static_cast<Opcode>(ins.op)) {
        case OP_PUSH: push(vm, ins, ins.num); break;
        case OP_LOAD: load(vm, ins); break;
        case OP_STORE: store(vm, ins); break;
        case OP_ADD: binary(vm, ins, [](double a, double b) { return a + b; }); break;
        case OP_SUB: binary(vm, ins, [](double a, double b) { return a - b; }); break;
        case OP_MUL: binary(vm, ins, [](double a, double b) { return a * b; }); break;
        case OP_DIV: divide(vm, ins); break;
        case OP_MOD: modulo(vm, ins); break;
        case OP_NEG: unary(vm, ins, [](double n) { return -n; }); break;
        case OP_NOT: unary(vm, ins, [](double n) { return flag(n == 0.0); }); break;
        case OP_LT: binary(vm, ins, [](double a, double b) { return flag(a < b); }); break;
        case OP_GT: binary(vm, ins, [](double a, double b) { return flag(a > b); }); break;
        case OP_LE: binary(vm, ins, [](double a, double b) { return flag(a <= b); }); break;
        case OP_GE: binary(vm, ins, [](double a, double b) { return flag(a >= b); }); break;
        case OP_EQ: binary(vm, ins, [](double a, double b) { return flag(a == b); }); break;
        case OP_NE: binary(vm, ins, [](double a, double b) { return flag(a != b); }); break;
        case OP_AND: binary(vm, ins, [](double a, double b) { return flag(truth(a) && truth(b)); }); break;
        case OP_OR: binary(vm, ins, [](double a, double b) { return flag(truth(a) || truth(b)); }); break;
        case OP_JMP: jump(vm, ins); break;
        case OP_JZ: jump_if(vm, ins, false); break;
        case OP_JNZ: jump_if(vm, ins, true); break;
        case OP_CALL: call_builtin(vm, ins); break;
        case OP_MOVE_UP: move(vm, DIR_UP); break;
        case OP_MOVE_DOWN: move(vm, DIR_DOWN); break;
        case OP_MOVE_LEFT: move(vm, DIR_LEFT); break;
        case OP_MOVE_RIGHT: move(vm, DIR_RIGHT); break;
        case OP_SHOOT: shoot(vm); break;
        case OP_SHIELD: shield(vm); break;
        case OP_WAIT: return start_wait(vm, ins);
        case OP_REPEAT_START: repeat_start(vm, ins); break;
        case OP_REPEAT_END: repeat_end(vm, ins); break;
        case OP_HALT: halt(vm); return true;
    }
    return false;
}

// Turns a won or lost game into the machine's status.
void ask_game(Vm* vm) {
    if (vm->host.gameStatus == nullptr) return;
    const int32_t game = vm->host.gameStatus(vm->host.context);
    if (game == GAME_VICTORY) vm->status = VM_VICTORIA;
    if (game == GAME_DEFEAT) vm->status = VM_DERROTA;
}

// Counts the instruction at pc (a valid address) and, with a trace, records it.
[[gnu::noinline]] void account_step(Vm* vm) {
    VmProfile* profile = vm->profile;
    profile->executed[vm->pc]++;
    if (profile->trace == nullptr) return;
    if (profile->traceCount < 0 || profile->traceCount >= profile->traceCapacity) {
        count_up(profile->traceDropped);
        return;
    }
    VmTraceStep& entry = profile->trace[profile->traceCount++];
    entry.pc = vm->pc;
    entry.sp = vm->sp;
    const bool filled = vm->sp > 0 && vm->sp <= MAX_STACK;
    entry.top = filled ? vm->stack[vm->sp - 1] : 0.0;
}

// The profiled and the plain machine are two copies of one step: the plain one
// carries no trace of the accounting, not even a test of the pointer.
template <bool Profiled>
[[gnu::always_inline]] inline VmStatus step(Vm* vm) {
    if (vm->pc < 0 || vm->pc >= vm->codeCount || vm->pc >= MAX_CODE) {
        fail_bad_pc(vm, vm->pc);
        return vm->status;
    }
    const Instruction& ins = vm->code[vm->pc];
    if constexpr (Profiled) account_step(vm);
    vm->pc++;
    count_up(vm->steps);
    if (ins.op >= OPCODE_COUNT) {
        fail_unknown_opcode(vm, ins);
    } else if (execute(vm, ins)) {
        return vm->status;
    }
    // The game may have been won or lost by what the instruction did.
    if (vm->status == VM_EJECUTANDO) ask_game(vm);
    return vm->status;
}

VmStatus step_accounted(Vm* vm) { return vm->profile != nullptr ? step<true>(vm) : step<false>(vm); }

// A tick that begins in a WAIT is spent in the WAIT just before pc.
void account_wait(Vm* vm) {
    const int32_t at = vm->pc - 1;
    if (vm->profile != nullptr && at >= 0 && at < PROFILE_SLOTS) vm->profile->waitTicks[at]++;
}

// Runs up to the budget; true when the budget ran out with the program still running.
template <bool Profiled>
bool run_budget(Vm* vm, int32_t budget) {
    int32_t executed = 0;
    while (executed < budget) {
        executed++;
        if (step<Profiled>(vm) != VM_EJECUTANDO) break;
    }
    const bool stopped = executed == budget && vm->status == VM_EJECUTANDO;
    if constexpr (Profiled) {
        if (stopped && vm->pc >= 0 && vm->pc < PROFILE_SLOTS) vm->profile->budgetStops[vm->pc]++;
    }
    return stopped;
}

// One tick of a WAIT countdown. True when it has run out and the machine runs again.
bool count_down_wait(Vm* vm) {
    if (vm->wait > 1) {
        vm->wait--;
        return false;
    }
    vm->wait = 0;
    vm->status = VM_EJECUTANDO;
    return true;
}

// A halted program starts again from address 0; its variables and counters stay.
void restart(Vm* vm) {
    vm->sp = 0;
    vm->pc = 0;
    vm->loopDepth = 0;
    vm->wait = 0;
    vm->haltTicks = 0;
    vm->status = VM_EJECUTANDO;
}

// The WebAssembly build, whose size is held down, keeps the step-by-step loop alone.
#if !defined(__wasm__)
// The budgeted loop of vm_run without a profile, the fast path of what step()
// does one instruction at a time (a profiled run goes step by step). pc, sp and the budget left live in locals that the
// compiler keeps in registers; they are written back to the record before anything that may look at it (a helper, a
// host operation, the end of the run). Each opcode's fast path does the common case inline; anything else (a stack or
// an address out of range, a host operation, a WAIT, a REPEAT_START) runs the same helper as step() on the written-back
// record, so both paths give the same results, errors and host calls.
//
// Under GCC and Clang each body jumps straight to the next instruction's body
// through a table of label addresses (one well-predicted indirect jump per
// instruction); elsewhere every body goes back to the switch. The switch stays the
// one place that lists the opcodes: the first run fills the table by visiting each
// case once.
//
// AskEveryStep: the game's status is asked after every instruction, as step() does;
// otherwise only after host operations (VmHost::statusChangesOnlyInOperations).
// (PRENDAX_VM_PORTABLE builds the switch alone, so that the tests run it too.)
#if defined(__GNUC__) && !defined(PRENDAX_VM_PORTABLE)
#define VM_THREADED 1
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#else
#define VM_THREADED 0
#endif

// The label addresses of one function are meaningful only in that one copy of it.
#if defined(__clang__) || !defined(__GNUC__)
#define VM_ONE_COPY [[gnu::noinline]]
#else
#define VM_ONE_COPY [[gnu::noinline, gnu::noclone]]
#endif

// Steps added to a counter that stops at the largest int32, as count_up does one at a time.
int32_t add_steps(int32_t counter, int32_t n) {
    const int64_t sum = static_cast<int64_t>(counter) + n;
    return counter >= COUNTER_MAX ? counter : static_cast<int32_t>(sum > COUNTER_MAX ? COUNTER_MAX : sum);
}

int32_t clamped_end(int32_t count, int32_t capacity) { return count < 0 ? 0 : (count < capacity ? count : capacity); }

template <bool AskEveryStep>
VM_ONE_COPY int32_t run_budget_fast(Vm* vm, int32_t budget) {
    const Instruction* const code = vm->code;
    const uint32_t codeEnd = static_cast<uint32_t>(clamped_end(vm->codeCount, MAX_CODE));
    const Instruction* const end = code + codeEnd;
    const uint32_t varEnd = static_cast<uint32_t>(clamped_end(vm->varCount, MAX_VARS));
    const int32_t stepsBefore = vm->steps;
    const Instruction* ip = end;                    // the next instruction; end while pc lies outside the code
    int32_t badPc = static_cast<int32_t>(codeEnd);  // pc while ip is end
    auto sp = static_cast<uint32_t>(vm->sp);
    int32_t left = budget;  // instructions the budget still allows
    int32_t uncounted = 0;  // steps stopped at an invalid pc, which step() does not count
    const Instruction* ins = nullptr;
    int32_t op = 0;
    double b = 0.0;

// sp holds at least n values, or room for n more (within 0..256 either way).
#define HOLDS(n) (sp - (n) <= static_cast<uint32_t>(MAX_STACK - (n)))
#define ROOM(n) (sp <= static_cast<uint32_t>(MAX_STACK - (n)))
#define TARGET_OK(address) (static_cast<uint32_t>(address) < codeEnd)
#define SET_PC(value)            \
    do {                         \
        if (TARGET_OK(value)) {  \
            ip = code + (value); \
        } else {                 \
            ip = end;            \
            badPc = (value);     \
        }                        \
    } while (0)
#define SAVE()                                                         \
    do {                                                               \
        vm->pc = ip < end ? static_cast<int32_t>(ip - code) : badPc;   \
        vm->sp = static_cast<int32_t>(sp);                             \
        vm->steps = add_steps(stepsBefore, budget - left - uncounted); \
    } while (0)
// Runs a helper of step() on the record, then goes on as step() does after it.
#define HELPER(call)       \
    do {                   \
        SAVE();            \
        call;              \
        goto after_helper; \
    } while (0)
#define HOST_OPERATION(call)       \
    do {                           \
        SAVE();                    \
        call;                      \
        goto after_host_operation; \
    } while (0)
#define ASK_GAME(when)                              \
    if ((when) && vm->host.gameStatus != nullptr) { \
        SAVE();                                     \
        ask_game(vm);                               \
        if (vm->status != VM_EJECUTANDO) goto out;  \
    }
#define DONE()                  \
    do {                        \
        ASK_GAME(AskEveryStep); \
        NEXT();                 \
    } while (0)
#define BINARY(expression)                                                        \
    do {                                                                          \
        constexpr auto operation = [](double x, double y) { return expression; }; \
        if (!HOLDS(2)) [[unlikely]]                                               \
            HELPER(binary(vm, *ins, operation));                                  \
        b = vm->stack[--sp];                                                      \
        vm->stack[sp - 1] = operation(vm->stack[sp - 1], b);                      \
        DONE();                                                                   \
    } while (0)
#define CONDITIONAL_JUMP(when)                                      \
    do {                                                            \
        if (!HOLDS(1) || !TARGET_OK(ins->arg)) [[unlikely]]         \
            HELPER(jump_if(vm, *ins, when));                        \
        if (truth(vm->stack[--sp]) == (when)) ip = code + ins->arg; \
        DONE();                                                     \
    } while (0)

#if VM_THREADED
    static std::atomic<void*> jumps[256];
    static std::atomic<bool> jumpsReady{false};
    bool registering = false;
#define CASE(name)                                                       \
    case name:                                                           \
        if (registering) {                                               \
            jumps[name].store(&&body_##name, std::memory_order_relaxed); \
            goto registered;                                             \
        }                                                                \
        body_##name:
#define NEXT()                                                \
    do {                                                      \
        if (--left < 0) goto spent;                           \
        if (ip >= end) goto bad_pc;                           \
        ins = ip++;                                           \
        goto* jumps[ins->op].load(std::memory_order_relaxed); \
    } while (0)
#else
#define CASE(name) case name:
#define NEXT() goto next_instruction
#endif

    SET_PC(vm->pc);
#if VM_THREADED
    if (!jumpsReady.load(std::memory_order_acquire)) {
        // Threads may fill the table at the same time. An entry becomes
        // unknown_opcode only while it is still empty, so no thread undoes
        // what another has registered, and all store the same addresses.
        for (std::atomic<void*>& jump : jumps) {
            void* empty = nullptr;
            jump.compare_exchange_strong(empty, &&unknown_opcode, std::memory_order_relaxed);
        }
        registering = true;
        goto dispatch;
    }
#endif

next_instruction:
    if (--left < 0) goto spent;
    if (ip >= end) goto bad_pc;
    ins = ip++;
    op = ins->op;
#if VM_THREADED
dispatch:
#endif
    if (op >= OPCODE_COUNT) goto unknown_opcode;
    switch (static_cast<Opcode>(op)) {
        CASE(OP_PUSH) {
            if (!ROOM(1)) [[unlikely]]
                HELPER(push(vm, *ins, ins->num));
            vm->stack[sp++] = ins->num;
            DONE();
        }
        CASE(OP_LOAD) {
            if (static_cast<uint32_t>(ins->arg) >= varEnd || !ROOM(1)) [[unlikely]]
                HELPER(load(vm, *ins));
            vm->stack[sp++] = vm->vars[ins->arg].value;
            DONE();
        }
        CASE(OP_STORE) {
            if (static_cast<uint32_t>(ins->arg) >= varEnd || !HOLDS(1)) [[unlikely]]
                HELPER(store(vm, *ins));
            vm->vars[ins->arg].value = vm->stack[--sp];
            DONE();
        }
        CASE(OP_ADD) { BINARY(x + y); }
        CASE(OP_SUB) { BINARY(x - y); }
        CASE(OP_MUL) { BINARY(x * y); }
        CASE(OP_DIV) {
            if (!HOLDS(2) || vm->stack[sp - 1] == 0.0) [[unlikely]]
                HELPER(divide(vm, *ins));
            b = vm->stack[--sp];
            vm->stack[sp - 1] = vm->stack[sp - 1] / b;
            DONE();
        }
        CASE(OP_MOD) {
            if (!HOLDS(2) || vm->stack[sp - 1] == 0.0) [[unlikely]]
                HELPER(modulo(vm, *ins));
            b = vm->stack[--sp];
            vm->stack[sp - 1] = exact_fmod(vm->stack[sp - 1], b);
            DONE();
        }
        CASE(OP_NEG) {
            if (!HOLDS(1)) [[unlikely]]
                HELPER(unary(vm, *ins, [](double n) { return -n; }));
            vm->stack[sp - 1] = -vm->stack[sp - 1];
            DONE();
        }
        CASE(OP_NOT) {
            if (!HOLDS(1)) [[unlikely]]
                HELPER(unary(vm, *ins, [](double n) { return flag(n == 0.0); }));
            vm->stack[sp - 1] = flag(vm->stack[sp - 1] == 0.0);
            DONE();
        }
        CASE(OP_LT) { BINARY(flag(x < y)); }
        CASE(OP_GT) { BINARY(flag(x > y)); }
        CASE(OP_LE) { BINARY(flag(x <= y)); }
        CASE(OP_GE) { BINARY(flag(x >= y)); }
        CASE(OP_EQ) { BINARY(flag(x == y)); }
        CASE(OP_NE) { BINARY(flag(x != y)); }
        CASE(OP_AND) { BINARY(flag(truth(x) && truth(y))); }
        CASE(OP_OR) { BINARY(flag(truth(x) || truth(y))); }
        CASE(OP_JMP) {
            if (!TARGET_OK(ins->arg)) [[unlikely]]
                HELPER(jump(vm, *ins));
            ip = code + ins->arg;
            DONE();
        }
        CASE(OP_JZ) { CONDITIONAL_JUMP(false); }
        CASE(OP_JNZ) { CONDITIONAL_JUMP(true); }
        CASE(OP_CALL) { HOST_OPERATION(call_builtin(vm, *ins)); }
        CASE(OP_MOVE_UP) { HOST_OPERATION(move(vm, DIR_UP)); }
        CASE(OP_MOVE_DOWN) { HOST_OPERATION(move(vm, DIR_DOWN)); }
        CASE(OP_MOVE_LEFT) { HOST_OPERATION(move(vm, DIR_LEFT)); }
        CASE(OP_MOVE_RIGHT) { HOST_OPERATION(move(vm, DIR_RIGHT)); }
        CASE(OP_SHOOT) { HOST_OPERATION(shoot(vm)); }
        CASE(OP_SHIELD) { HOST_OPERATION(shield(vm)); }
        CASE(OP_WAIT) {
            SAVE();
            if (start_wait(vm, *ins)) {
                sp = static_cast<uint32_t>(vm->sp);
                goto out;
            }
            goto after_helper;
        }
        CASE(OP_REPEAT_START) { HELPER(repeat_start(vm, *ins)); }
        CASE(OP_REPEAT_END) { HELPER(repeat_end(vm, *ins)); }
        CASE(OP_HALT) {
            halt(vm);
            goto out;
        }
    }

#if VM_THREADED
registered:
    if (++op < OPCODE_COUNT) goto dispatch;
    registering = false;
    jumpsReady.store(true, std::memory_order_release);
    goto next_instruction;
#endif

unknown_opcode:
    HELPER(fail_unknown_opcode(vm, *ins));

after_helper:
    SET_PC(vm->pc);
    sp = static_cast<uint32_t>(vm->sp);
    if (vm->status != VM_EJECUTANDO) goto out;
    DONE();

after_host_operation:
    sp = static_cast<uint32_t>(vm->sp);
    if (vm->status != VM_EJECUTANDO) goto out;
    ASK_GAME(true);
    NEXT();

// pc lies outside the code: the step fails there and is not counted.
bad_pc:
    uncounted++;
    SAVE();
    fail_bad_pc(vm, badPc);
    if (vm->status != VM_EJECUTANDO) goto out;
    NEXT();

spent:
    left = 0;
out:
    SAVE();
    return budget - left;

#undef HOLDS
#undef ROOM
#undef TARGET_OK
#undef SET_PC
#undef SAVE
#undef HELPER
#undef HOST_OPERATION
#undef ASK_GAME
#undef DONE
#undef BINARY
#undef CONDITIONAL_JUMP
#undef CASE
#undef NEXT
}

#if VM_THREADED
#pragma GCC diagnostic pop
#endif

#endif  // !defined(__wasm__)

}  // namespace

const char* vm_status_name(int32_t status) { return table_name(VM_STATUS_TABLE, status, "?"); }

// Counts from a hand-made result are held to the tables' capacities (0..2048
// instructions, 0..64 variables), so loading never reads or writes past them.
void vm_load(Vm* vm, const CompileResult* result, const VmHost* host) {
    if (vm == nullptr) return;
    // Of the code table only the program loaded before is not zero already.
    static_assert(offsetof(Vm, code) == 0, "the code table opens the record");
    std::memset(vm->code, 0, sizeof(Instruction) * static_cast<std::size_t>(clamp_count(vm->codeCount, MAX_CODE)));
    std::memset(reinterpret_cast<char*>(vm) + sizeof vm->code, 0, sizeof *vm - sizeof vm->code);
    if (result != nullptr) {
        vm->codeCount = clamp_count(result->codeCount, MAX_CODE);
        std::memcpy(vm->code, result->code, static_cast<std::size_t>(vm->codeCount) * sizeof(Instruction));
        vm->varCount = clamp_count(result->varCount, MAX_VARS);
        for (int32_t i = 0; i < vm->varCount; i++) {
            copy_var_name(vm->vars[i].name, result->varNames[i]);
            vm->vars[i].value = 0.0;
            vm->vars[i].readonly = result->varReadonly[i];
        }
    }
    if (host != nullptr) vm->host = *host;
    vm->status = VM_LISTO;
}

void vm_clear(Vm* vm) {
    if (vm != nullptr) std::memset(vm, 0, sizeof *vm);
}

void vm_reset(Vm* vm) {
    if (vm == nullptr) return;
    // Everything a HALT restart resets, and the counters, the error and the variables.
    restart(vm);
    vm->steps = 0;
    vm->ticks = 0;
    vm->budgetHits = 0;
    vm->hasError = 0;
    vm->error = Diagnostic{};
    for (VmVar& var : vm->vars) var.value = 0.0;
}

// Executes the instruction at pc whatever the status; callers decide when to step.
VmStatus vm_step(Vm* vm) {
    if (vm == nullptr) return VM_ERROR;
    return step_accounted(vm);
}

VmStatus vm_step_waiting(Vm* vm) {
    if (vm == nullptr) return VM_ERROR;
    if (vm->status == VM_ESPERANDO) {
        count_down_wait(vm);
        return vm->status;
    }
    if (vm->status == VM_EJECUTANDO) return step_accounted(vm);
    return vm->status;
}

// One game tick: a halted program restarts on the 30th call after its HALT, a
// WAIT counts down one tick, a running program executes up to the budget.
void vm_run(Vm* vm, int32_t budget) {
    if (vm == nullptr) return;
    if (budget <= 0) budget = DEFAULT_BUDGET;
    if (vm->status == VM_HALT) {
        count_up(vm->haltTicks);
        if (vm->haltTicks < HALT_RESTART_TICKS) {
            count_up(vm->ticks);
            return;
        }
        restart(vm);
    } else if (vm->status == VM_ESPERANDO) {
        account_wait(vm);
        if (!count_down_wait(vm)) {
            count_up(vm->ticks);
            return;
        }
    } else if (vm->status != VM_EJECUTANDO) {
        count_up(vm->ticks);
        return;
    }
    bool stopped = false;
    if (vm->profile != nullptr) {
        stopped = run_budget<true>(vm, budget);
    } else {
#if defined(__wasm__)
        stopped = run_budget<false>(vm, budget);
#else
        const bool askEveryStep = vm->host.gameStatus != nullptr && vm->host.statusChangesOnlyInOperations == 0;
        const int32_t executed = askEveryStep ? run_budget_fast<true>(vm, budget) : run_budget_fast<false>(vm, budget);
        stopped = executed == budget && vm->status == VM_EJECUTANDO;
#endif
    }
    if (stopped) count_up(vm->budgetHits);
    count_up(vm->ticks);
}

void vm_error(Vm* vm, int32_t line, const char* format, ...) {
    if (vm == nullptr || vm->hasError) return;
    vm->status = VM_ERROR;
    vm->hasError = 1;
    vm->error.phase = PHASE_EJECUCION;
    vm->error.line = line;
    vm->error.col = 0;
    va_list args;
    va_start(args, format);
    const int written = std::vsnprintf(vm->error.message, sizeof vm->error.message, format, args);
    va_end(args);
    if (written < 0) vm->error.message[0] = '\0';
}

// Judged before truncation: NaN, anything above 2147483647 (2147483647.5 too)
// and anything below -2147483648 give -2147483648.
int32_t vm_whole_number(double value) {
    if (!(value >= -2147483648.0 && value <= 2147483647.0)) return INT32_MIN;
    return static_cast<int32_t>(value);
}

}  // namespace prendax
