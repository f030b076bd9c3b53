// Gathers a program's per-instruction counts by source line and writes them as
// a table, as JSON and as collapsed stacks.
#include "arena/line_profile.h"

#include <map>

#include "compiler/lexer.h"
#include "frontend/files.h"
#include "frontend/frontend.h"

namespace prendax {

namespace {

constexpr std::size_t TABLE_TEXT_WIDTH = 40;  // bytes of a line's text shown in the table

// The line without its leading and trailing blanks.
std::string trimmed(const std::string& text) {
    std::size_t from = text.find_first_not_of(" \t\r");
    if (from == std::string::npos) return "";
    std::size_t to = text.find_last_not_of(" \t\r");
    return text.substr(from, to - from + 1);
}

const std::string& line_text(const ProgramLines& lines, int32_t line) {
    static const std::string none;
    if (line < 1 || static_cast<std::size_t>(line) > lines.text.size()) return none;
    return lines.text[static_cast<std::size_t>(line) - 1];
}

// A frame of a collapsed stack: ';' separates frames, so it never appears in one.
std::string frame_name(const ProgramLines& lines, int32_t line) {
    std::string text = "línea ";
    text += std::to_string(line);
    text += ": ";
    text += shown(trimmed(line_text(lines, line)));
    for (char& c : text) {
        if (c == ';') c = ',';
    }
    return text;
}

double share(int64_t part, int64_t whole) {
    return whole == 0 ? 0.0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole);
}

int64_t total_executed(const std::vector<LineRow>& rows) {
    int64_t total = 0;
    for (const LineRow& row : rows) total += row.executed;
    return total;
}

}  // namespace

ProgramLines program_lines(const char* source, const CompilerContext& context) {
    ProgramLines lines;
    std::string text = source != nullptr ? source : "";
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        lines.text.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    lines.enclosing.resize(lines.text.size());
    // A '{' opens a block of the latest WHILE, REPEAT or IF; an ELSE block
    // belongs to the IF whose block just closed.
    std::vector<int32_t> open;
    int32_t owner = 0;
    int32_t closed = 0;
    int32_t lastLine = 0;
    const int32_t count = clamp_count(context.tokenCount, MAX_TOKENS);
    for (int32_t i = 0; i < count; i++) {
        const Token& token = context.tokens[i];
        if (token.line != lastLine && token.line >= 1 && static_cast<std::size_t>(token.line) <= lines.text.size()) {
            lastLine = token.line;
            lines.enclosing[static_cast<std::size_t>(token.line) - 1] = open;
        }
        switch (token.type) {
            case TOK_WHILE:
            case TOK_REPEAT:
            case TOK_IF: owner = token.line; break;
            case TOK_ELSE: owner = closed; break;
            case TOK_LLAVE_IZQ: open.push_back(owner); break;
            case TOK_LLAVE_DER:
                if (!open.empty()) {
                    closed = open.back();
                    open.pop_back();
                }
                break;
            default: break;
        }
    }
    return lines;
}

std::vector<LineRow> line_rows(const VmProfile& profile, const CompileResult& result) {
    std::map<int32_t, LineRow> byLine;
    const int32_t count = clamp_count(result.codeCount, MAX_CODE);
    for (int32_t pc = 0; pc < count; pc++) {
        LineRow& row = byLine[result.code[pc].line];
        row.line = result.code[pc].line;
        row.executed += profile.executed[pc];
        row.budgetStops += profile.budgetStops[pc];
        row.waitTicks += profile.waitTicks[pc];
    }
    std::vector<LineRow> rows;
    for (const auto& entry : byLine) {
        const LineRow& row = entry.second;
        // Line 0 holds the closing HALT of a program without END: shown only when it counted.
        if (row.line < 1 && row.executed == 0 && row.budgetStops == 0 && row.waitTicks == 0) continue;
        rows.push_back(row);
    }
    return rows;
}

void print_line_profile(const char* path, const ProgramLines& lines, const std::vector<LineRow>& rows) {
    const int64_t total = total_executed(rows);
    print_out("\nPerfil de %s (todas las partidas)\n", shown(path).c_str());
    // The header is spelt out: printf pads by bytes, and "línea" and "código" hold two-byte letters.
    print_out(
        " línea  código                                    instrucciones       %%     al límite  ticks en WAIT\n");
    for (const LineRow& row : rows) {
        std::string text = shown(trimmed(line_text(lines, row.line)));
        if (text.size() > TABLE_TEXT_WIDTH) {
            text.resize(TABLE_TEXT_WIDTH - 3);
            text += "...";
        }
        print_out("%6d  %-40s  %13lld  %5.1f%%  %12lld  %13lld\n", static_cast<int>(row.line), text.c_str(),
                  static_cast<long long>(row.executed), share(row.executed, total),
                  static_cast<long long>(row.budgetStops), static_cast<long long>(row.waitTicks));
    }
}

void json_line_profile(JsonOut* out, const char* path, const ProgramLines& lines, const std::vector<LineRow>& rows) {
    const int64_t total = total_executed(rows);
    json_append(out, "{\"program\":");
    json_string(out, path);
    json_append(out, ",\"lines\":[");
    for (std::size_t i = 0; i < rows.size(); i++) {
        const LineRow& row = rows[i];
        json_appendf(out, "%s{\"line\":%d,\"text\":", i == 0 ? "" : ",", static_cast<int>(row.line));
        json_string(out, trimmed(line_text(lines, row.line)).c_str());
        json_appendf(out, ",\"executed\":%lld,\"share\":%.4f,\"budgetStops\":%lld,\"waitTicks\":%lld}",
                     static_cast<long long>(row.executed), share(row.executed, total) / 100.0,
                     static_cast<long long>(row.budgetStops), static_cast<long long>(row.waitTicks));
    }
    json_append(out, "]}");
}

void write_collapsed(std::FILE* file, const char* path, const ProgramLines& lines, const std::vector<LineRow>& rows) {
    std::string root = shown(path);
    for (char& c : root) {
        if (c == ';') c = ',';
    }
    for (const LineRow& row : rows) {
        if (row.executed == 0) continue;
        std::string stack = root;
        if (row.line >= 1 && static_cast<std::size_t>(row.line) <= lines.enclosing.size()) {
            for (int32_t outer : lines.enclosing[static_cast<std::size_t>(row.line) - 1]) {
                if (outer == row.line) continue;
                stack += ';';
                stack += frame_name(lines, outer);
            }
        }
        stack += ';';
        stack += frame_name(lines, row.line);
        std::fprintf(file, "%s %lld\n", stack.c_str(), static_cast<long long>(row.executed));
    }
}

}  // namespace prendax
