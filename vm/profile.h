// Accounting of a program's run, for the tools that ask for it: per
// instruction, how often it ran, in how many ticks the budget ran out with it
// as the next instruction, and how many ticks the program spent waiting in it;
// optionally the executed instructions themselves, one step at a time. The VM
// fills a profile only while one is attached (Vm::profile); without one it runs
// exactly the code it runs otherwise.
#pragma once

#include <cstdint>

#include "compiler/limits.h"

namespace prendax {

// Every address of the largest program, plus the one just past it, where a
// program without a final HALT stands when a budget runs out after its last
// instruction.
inline constexpr int PROFILE_SLOTS = MAX_CODE + 1;

// One executed instruction, as the machine stood just before it.
struct VmTraceStep {
    int32_t pc;  // address of the instruction, 0..2047
    int32_t sp;  // values on the stack before it, 0..256
    double top;  // the value on top of the stack before it; 0 when sp is 0
};

struct VmProfile {
    int64_t executed[PROFILE_SLOTS];     // times the instruction ran; the sum is the VM's steps
    int64_t budgetStops[PROFILE_SLOTS];  // ticks whose budget ran out with it next; the sum is budgetHits
    int64_t waitTicks[PROFILE_SLOTS];    // ticks that began waiting in it (a WAIT)
    VmTraceStep* trace;                  // null: no trace; else room for traceCapacity steps
    int32_t traceCapacity;               // 0..: steps the trace holds
    int32_t traceCount;                  // steps recorded since the tool last emptied the trace
    int32_t traceDropped;                // saturates, no message: steps that found the trace full
};

// Empties the counters and the trace; the trace buffer stays attached.
void profile_clear(VmProfile* profile);
// Adds every counter of `from` into `into` (the trace is left alone).
void profile_add(VmProfile* into, const VmProfile* from);

}  // namespace prendax
