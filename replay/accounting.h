// What prendax_replay records besides the frames: the match's events, the
// instructions executed per source line in every tick and where the budget ran
// out, and, for a bounded range of ticks, the trace of every executed
// instruction. Each becomes a JSON data block of the page; the trace is also
// printed as text and written to the JSONL.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "compiler/context.h"
#include "game/events.h"
#include "game/match.h"
#include "vm/profile.h"
#include "vm/vm.h"

namespace prendax {

// A trace holds at most 500 ticks: up to 200 instructions each, 100000 lines of
// text (about 6 MB) that the page still carries and steps through smoothly.
inline constexpr int32_t MAX_TRACE_TICKS = 500;

struct TraceRange {
    int32_t first = 0;  // 0: no trace
    int32_t last = 0;
};

// "A-B" with 1 <= A <= B and at most MAX_TRACE_TICKS ticks.
bool parse_trace_range(const char* text, TraceRange& range);

// The recorder of one match; lives in static storage.
struct MatchRecorder {
    VmProfile profile;
    VmProfile before;  // the counts before the current tick
    EventLog events;
    VmTraceStep steps[TICK_BUDGET];  // one tick of the trace: a tick runs at most the budget
    TraceRange range;
    std::string eventsJson;  // [[tick,"kind","cause",amount,type,points,line],...]
    std::string linesJson;   // per tick: [[line,count,...],stopLine]
    std::string traceJson;   // [[tick,pc,line,"op","operand",sp,top],...]
};

// Attaches the recorder to a match just set up.
void recorder_attach(MatchRecorder& recorder, Vm& vm, World& world);
// Before tick `tick` is played: opens the trace when the tick is in range.
void recorder_before_tick(MatchRecorder& recorder, int32_t tick);
// After the tick: gathers its events, its per-line counts and its trace; the
// trace is printed to `text` and written as one line to `jsonl` (both may be null).
void recorder_after_tick(MatchRecorder& recorder, const CompileResult& result, int32_t tick, std::FILE* text,
                         std::FILE* jsonl);

// The page's data blocks, each a whole <script type="application/json"> element.
std::string recorder_blocks(const MatchRecorder& recorder);

}  // namespace prendax
