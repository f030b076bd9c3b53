// The replay's recorder: events, per-line counts and the trace of a match.
#include "replay/accounting.h"

#include <cstring>
#include <map>

#include "compiler/bytecode.h"
#include "frontend/json_document.h"
#include "json/json_out.h"

namespace prendax {

namespace {

constexpr const char* TRACE_HEADER = "  tick     pc  línea  instrucción                  cima\n";

bool parse_count(const char* from, const char* to, int32_t& value) {
    if (from == to || to - from > 9) return false;
    int32_t v = 0;
    for (const char* p = from; p < to; p++) {
        if (*p < '0' || *p > '9') return false;
        v = v * 10 + (*p - '0');
    }
    value = v;
    return true;
}

// A number as the JSON documents write it.
std::string number_text(double value) {
    char buffer[64];
    JsonOut out = json_open(buffer, sizeof buffer);
    json_number(&out, value);
    return {buffer, out.len};
}

std::string json_text(const char* text) {
    return json_document([&](JsonOut* out) { json_string(out, text); });
}

// Appends every part in turn (one += each: g++ 12 misreads chains of +).
template <typename... Parts>
void put(std::string& into, const Parts&... parts) {
    ((into += parts), ...);
}

std::string num(int64_t value) { return std::to_string(value); }

void add_events(MatchRecorder& r) {
    for (int32_t i = 0; i < r.events.count && i < MAX_TICK_EVENTS; i++) {
        const MatchEvent& e = r.events.events[i];
        if (e.kind == EVENT_SHOT) continue;  // shots are many and tell little on a timeline
        put(r.eventsJson, r.eventsJson.empty() ? "[" : ",", "[", num(e.tick), ",\"", match_event_name(e.kind), "\",\"",
            event_cause_name(e.cause), "\",", num(e.amount), ",", num(e.enemyType), ",", num(e.points), ",",
            num(e.line), "]");
    }
}

void add_lines(MatchRecorder& r, const CompileResult& result) {
    std::map<int32_t, int64_t> byLine;
    int32_t stopLine = 0;
    const int32_t count = clamp_count(result.codeCount, MAX_CODE);
    for (int32_t pc = 0; pc < count; pc++) {
        const int64_t n = r.profile.executed[pc] - r.before.executed[pc];
        if (n != 0) byLine[result.code[pc].line] += n;
        if (r.profile.budgetStops[pc] != r.before.budgetStops[pc]) stopLine = result.code[pc].line;
        r.before.executed[pc] = r.profile.executed[pc];
        r.before.budgetStops[pc] = r.profile.budgetStops[pc];
    }
    put(r.linesJson, r.linesJson.empty() ? "[[[" : ",[[");
    bool first = true;
    for (const auto& entry : byLine) {
        put(r.linesJson, first ? "" : ",", num(entry.first), ",", num(entry.second));
        first = false;
    }
    put(r.linesJson, "],", num(stopLine), "]");
}

void add_trace(MatchRecorder& r, const CompileResult& result, int32_t tick, std::FILE* text, std::FILE* jsonl) {
    std::string line;
    put(line, "{\"trace\":{\"tick\":", num(tick), ",\"steps\":[");
    for (int32_t i = 0; i < r.profile.traceCount && i < TICK_BUDGET; i++) {
        const VmTraceStep& step = r.steps[i];
        if (step.pc < 0 || step.pc >= result.codeCount || step.pc >= MAX_CODE) continue;
        const Instruction& ins = result.code[step.pc];
        char operand[OPERAND_TEXT_SIZE];
        operand_text(&result, &ins, operand);
        const std::string top = step.sp > 0 ? number_text(step.top) : "-";
        if (text != nullptr) {
            std::fprintf(text, "%6d %6d %6d  %-12s %-16s %s\n", static_cast<int>(tick), static_cast<int>(step.pc),
                         static_cast<int>(ins.line), opcode_name(ins.op), operand, top.c_str());
        }
        std::string entry;
        put(entry, "[", num(tick), ",", num(step.pc), ",", num(ins.line), ",", json_text(opcode_name(ins.op)), ",",
            json_text(operand), ",", num(step.sp), ",", step.sp > 0 ? top : std::string("null"), "]");
        put(r.traceJson, r.traceJson.empty() ? "[" : ",", entry);
        put(line, i == 0 ? "" : ",", entry);
    }
    if (r.profile.traceCount == 0 && text != nullptr) {
        std::fprintf(text, "%6d  (ninguna instrucción: el programa espera, está detenido o la partida terminó)\n",
                     static_cast<int>(tick));
    }
    put(line, "]}}\n");
    if (jsonl != nullptr) std::fputs(line.c_str(), jsonl);
}

std::string block(const char* id, const std::string& json, const char* empty) {
    std::string text = "<script type=\"application/json\" id=\"";
    text += id;
    text += "\">";
    std::string body = json.empty() ? std::string(empty) : json;
    if (!json.empty()) body += ']';
    for (char c : body) {
        if (c == '<') {
            text += "\\u003c";
        } else {
            text += c;
        }
    }
    text += "</script>\n";
    return text;
}

}  // namespace

bool parse_trace_range(const char* text, TraceRange& range) {
    const char* dash = std::strchr(text, '-');
    if (dash == nullptr) return false;
    int32_t a = 0;
    int32_t b = 0;
    if (!parse_count(text, dash, a) || !parse_count(dash + 1, text + std::strlen(text), b)) return false;
    if (a < 1 || b < a || b - a >= MAX_TRACE_TICKS) return false;
    range.first = a;
    range.last = b;
    return true;
}

void recorder_attach(MatchRecorder& r, Vm& vm, World& world) {
    profile_clear(&r.profile);
    profile_clear(&r.before);
    r.profile.trace = nullptr;
    r.profile.traceCapacity = 0;
    r.events.count = 0;
    r.events.dropped = 0;
    vm.profile = &r.profile;
    world.events = &r.events;
    r.eventsJson.clear();
    r.linesJson.clear();
    r.traceJson.clear();
}

void recorder_before_tick(MatchRecorder& r, int32_t tick) {
    const bool traced = r.range.first > 0 && tick >= r.range.first && tick <= r.range.last;
    r.profile.trace = traced ? r.steps : nullptr;
    r.profile.traceCapacity = traced ? TICK_BUDGET : 0;
    r.profile.traceCount = 0;
}

void recorder_after_tick(MatchRecorder& r, const CompileResult& result, int32_t tick, std::FILE* text,
                         std::FILE* jsonl) {
    add_events(r);
    add_lines(r, result);
    if (r.profile.trace == nullptr) return;
    if (text != nullptr && tick == r.range.first) std::fputs(TRACE_HEADER, text);
    add_trace(r, result, tick, text, jsonl);
}

std::string recorder_blocks(const MatchRecorder& r) {
    return block("replay-events", r.eventsJson, "[]") + block("replay-lines", r.linesJson, "[]") +
           block("replay-trace", r.traceJson, "[]");
}

}  // namespace prendax
