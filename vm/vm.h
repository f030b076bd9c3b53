// Virtual machine: a stack machine over doubles that runs a compiled program
// under a per-tick instruction budget and reaches the game through its host.
#pragma once

#include <cstdint>

#include "compiler/bytecode.h"
#include "compiler/compile_result.h"
#include "compiler/diagnostics.h"
#include "compiler/enum_table.h"
#include "vm/host.h"
#include "vm/profile.h"

namespace prendax {

inline constexpr int MAX_STACK = 256;            // values on the stack
inline constexpr int MAX_REPEAT = 32;            // nested REPEAT frames
inline constexpr int MAX_REPEAT_PASSES = 10000;  // saturates, no message: a REPEAT runs at most 10000 passes
inline constexpr int MAX_WAIT_TICKS = 600;       // saturates, no message: a WAIT lasts at most 600 ticks
inline constexpr int DEFAULT_BUDGET = 200;       // instructions per vm_run when the budget is 0 or less
inline constexpr int HALT_RESTART_TICKS = 30;    // a halted program restarts on the 30th vm_run

enum VmStatus : int32_t {
    VM_LISTO,
    VM_EJECUTANDO,
    VM_ESPERANDO,
    VM_HALT,
    VM_VICTORIA,
    VM_DERROTA,
    VM_ERROR,
};

struct VmStatusRow {
    VmStatus value;
    const char* name;
};

inline constexpr VmStatusRow VM_STATUS_TABLE[] = {
    {VM_LISTO, "listo"},       {VM_EJECUTANDO, "ejecutando"}, {VM_ESPERANDO, "esperando"}, {VM_HALT, "halt"},
    {VM_VICTORIA, "victoria"}, {VM_DERROTA, "derrota"},       {VM_ERROR, "error"},
};
static_assert(table_is_dense(VM_STATUS_TABLE) && sizeof(VM_STATUS_TABLE) / sizeof(VM_STATUS_TABLE[0]) == 7);

struct VmVar {
    char name[NAME_SIZE];
    double value;
    int32_t readonly;  // carried for the frame document; the VM never consults it
};

struct RepeatFrame {
    int32_t start;      // first instruction of the loop body
    int32_t remaining;  // passes still to run, the current one included
};

struct Vm {
    Instruction code[MAX_CODE];           // the loaded program; slots from codeCount on are zero
    int32_t codeCount;                    // instructions loaded, 0..2048
    VmVar vars[MAX_VARS];                 // the six reserved variables first, then the program's
    int32_t varCount;                     // variables loaded, 0..64
    double stack[MAX_STACK];              // operand stack; values below sp are live
    int32_t sp;                           // values on the stack, 0..256
    int32_t pc;                           // address of the next instruction, 0..codeCount - 1 while running
    RepeatFrame repeatStack[MAX_REPEAT];  // the REPEAT loops entered, innermost last
    int32_t loopDepth;                    // REPEAT frames in use, 0..32
    int32_t wait;                         // ticks left of the current WAIT, 0..600
    int32_t haltTicks;                    // vm_run calls since the HALT, 0..30
    VmStatus status;                      // what the machine is doing
    int32_t steps;                        // instructions executed, saturating at INT32_MAX
    int32_t ticks;                        // vm_run calls, saturating at INT32_MAX
    int32_t budgetHits;                   // ticks that ran out of budget with the program still running
    int32_t hasError;                     // 0/1: error holds the first run-time error
    Diagnostic error;                     // the first run-time error; empty while hasError is 0
    VmHost host;                          // the game's operations
    VmProfile* profile;                   // null: no accounting; a tool attaches one after vm_load, which clears it
};

// "?" for any value outside the table.
const char* vm_status_name(int32_t status);

// Loads a program and the game's operations. The machine ends exactly as if
// every byte of it had been cleared first, while only the instructions of the
// program loaded before are cleared: the machine must be all zero before its
// first load (static storage, `{}`, `std::make_unique<Vm>()`, or vm_clear), and
// only vm_load writes its code. A count read from any other machine is held to
// the table, so even then nothing outside the record is touched.
void vm_load(Vm* vm, const CompileResult* result, const VmHost* host);
// Clears every byte of the machine: for memory of unknown content.
void vm_clear(Vm* vm);
void vm_reset(Vm* vm);
// The three fill vm->profile when one is attached; the results are the same either way.
VmStatus vm_step(Vm* vm);
VmStatus vm_step_waiting(Vm* vm);
void vm_run(Vm* vm, int32_t budget);
// Records the first run-time error; later ones are ignored.
void vm_error(Vm* vm, int32_t line, const char* format, ...) __attribute__((format(printf, 3, 4)));

// A number as the whole-number rule reads it: truncated toward zero; NaN and
// values outside the signed 32-bit range give -2147483648.
int32_t vm_whole_number(double value);

// Stores a number into reserved variable 0..5 (when the machine has it). The
// host writes them even though they are read-only to programs. Inline: a match
// sets all six twice a tick.
inline void vm_set_reserved(Vm* vm, int32_t index, double value) {
    if (vm == nullptr) return;
    if (index < 0 || index >= RESERVED_VARS || index >= vm->varCount) return;
    vm->vars[index].value = value;
}

}  // namespace prendax
