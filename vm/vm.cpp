// Virtual machine: runs a loaded program one instruction at a time, a tick's
// budget per vm_run, and reaches the game only through its host operations.
// Whatever bytecode it is handed, it never reads or writes outside its tables:
// every address, index and count is checked before a slot is touched.
#include "vm/vm.h"

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "compiler/sema.h"
#include "compiler/syntax_tree.h"

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

// Division and remainder refuse a divisor of 0 or -0; both operands stay consumed.
void divide(Vm* vm, const Instruction& ins) {
    double a = 0.0;
    double b = 0.0;
    if (!pop_operands(vm, ins, a, b)) return;
    if (b == 0.0) {
        vm_error(vm, ins.line, "División entre cero en ejecución");
        return;
    }
    push(vm, ins, a / b);
}

void modulo(Vm* vm, const Instruction& ins) {
    double a = 0.0;
    double b = 0.0;
    if (!pop_operands(vm, ins, a, b)) return;
    if (b == 0.0) {
        vm_error(vm, ins.line, "Módulo entre cero en ejecución");
        return;
    }
    push(vm, ins, std::fmod(a, b));
}

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
        vm_error(vm, 0, "Contador de programa fuera del bytecode (%d)", vm->pc);
        return vm->status;
    }
    const Instruction& ins = vm->code[vm->pc];
    if constexpr (Profiled) account_step(vm);
    vm->pc++;
    count_up(vm->steps);
    if (ins.op >= OPCODE_COUNT) {
        vm_error(vm, ins.line, "Opcode desconocido (%d)", ins.op);
    } else if (execute(vm, ins)) {
        return vm->status;
    }
    // The game may have been won or lost by what the instruction did.
    if (vm->status == VM_EJECUTANDO && vm->host.gameStatus != nullptr) {
        const int32_t game = vm->host.gameStatus(vm->host.context);
        if (game == 1) vm->status = VM_VICTORIA;
        if (game == 2) vm->status = VM_DERROTA;
    }
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

}  // namespace

const char* vm_status_name(int32_t status) { return table_name(VM_STATUS_TABLE, status, "?"); }

// Counts from a hand-made result are held to the tables' capacities (0..2048
// instructions, 0..64 variables), so loading never reads or writes past them.
void vm_load(Vm* vm, const CompileResult* result, const VmHost* host) {
    if (vm == nullptr) return;
    std::memset(vm, 0, sizeof *vm);
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

void vm_reset(Vm* vm) {
    if (vm == nullptr) return;
    vm->loopDepth = 0;
    vm->wait = 0;
    vm->haltTicks = 0;
    vm->status = VM_EJECUTANDO;
    vm->sp = 0;
    vm->pc = 0;
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
    const bool stopped = vm->profile != nullptr ? run_budget<true>(vm, budget) : run_budget<false>(vm, budget);
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

// The host writes the reserved variables 0..5 even though they are read-only to programs.
void vm_set_reserved(Vm* vm, int32_t index, double value) {
    if (vm == nullptr) return;
    if (index < 0 || index >= RESERVED_VARS || index >= vm->varCount) return;
    vm->vars[index].value = value;
}

}  // namespace prendax
