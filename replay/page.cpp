// Writes the replay page piece by piece: the viewer's head and style, then the
// match's description and one line per frame inside JSON data blocks, then the
// viewer's script. Every byte of data passes through write_script_text, so no
// program text or path can end a <script> element early.
#include "replay/page.h"

#include <cstring>
#include <vector>

#include "compiler/bytecode.h"
#include "frontend/json_document.h"
#include "json/game_facts_json.h"
#include "json/json_out.h"
#include "replay/assets.h"

namespace prendax {

namespace {

constexpr const char* META_OPEN = "<script type=\"application/json\" id=\"replay-meta\">";
constexpr const char* FRAMES_OPEN = "<script type=\"application/json\" id=\"replay-frames\">";
constexpr const char* DATA_CLOSE = "</script>\n";
constexpr const char BASE64_DIGITS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// One instruction's entry: the opcode name, the operand text (each byte at most
// six when escaped) and the line.
constexpr std::size_t INSTRUCTION_PIECE_SIZE = 1024;
static_assert(64 + 6 * OPERAND_TEXT_SIZE < INSTRUCTION_PIECE_SIZE);

// Source bytes encoded at a time; a multiple of 3, so only the last chunk pads.
constexpr std::size_t SOURCE_CHUNK = std::size_t{3} * 1024;

// An empty view may hold no pointer at all, which fwrite must never be given.
void write_text(std::FILE* file, std::string_view text) {
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), file);
}

void write_json_string(std::FILE* file, const char* text) {
    write_script_text(file, json_document([&](JsonOut* out) { json_string(out, text); }));
}

void write_instructions(std::FILE* file, const CompileResult& result) {
    write_text(file, ",\"code\":[");
    for (int32_t i = 0; i < result.codeCount && i < MAX_CODE; i++) {
        const Instruction& ins = result.code[i];
        char operand[OPERAND_TEXT_SIZE];
        operand_text(&result, &ins, operand);
        char piece[INSTRUCTION_PIECE_SIZE];
        JsonOut out = json_open(piece, sizeof piece);
        json_append(&out, i == 0 ? "{\"op\":" : ",{\"op\":");
        json_string(&out, opcode_name(ins.op));
        json_append(&out, ",\"operand\":");
        json_string(&out, operand);
        json_appendf(&out, ",\"line\":%d}", static_cast<int>(ins.line));
        write_script_text(file, std::string_view(piece, out.len));
    }
    write_text(file, "]");
}

void write_source(std::FILE* file, const char* source, std::size_t length) {
    write_text(file, ",\"source\":\"");
    const auto* bytes = reinterpret_cast<const unsigned char*>(source);
    char encoded[SOURCE_CHUNK / 3 * 4];
    for (std::size_t at = 0; at < length; at += SOURCE_CHUNK) {
        std::size_t n = length - at < SOURCE_CHUNK ? length - at : SOURCE_CHUNK;
        write_text(file, std::string_view(encoded, base64_encode(bytes + at, n, encoded)));
    }
    write_text(file, "\"");
}

void write_meta(std::FILE* file, const PageInfo& info, const CompileResult& result) {
    write_text(file, META_OPEN);
    write_text(file, "{\"name\":");
    write_json_string(file, info.name != nullptr ? info.name : "");
    std::fprintf(file, ",\"ticks\":%d,\"seed\":%u,\"level\":%d", static_cast<int>(info.ticks),
                 static_cast<unsigned>(info.seed), static_cast<int>(info.level));
    char facts[GAME_FACTS_JSON_CAPACITY];
    game_facts_to_json(facts, sizeof facts);
    write_text(file, ",\"game\":");
    write_text(file, facts);
    write_instructions(file, result);
    write_source(file, info.source != nullptr ? info.source : "", info.source != nullptr ? info.sourceLength : 0);
    write_text(file, "}");
    write_text(file, DATA_CLOSE);
}

}  // namespace

bool split_page(std::string_view page, PageTemplate& out) {
    std::size_t style = page.find(STYLE_PLACE);
    if (style == std::string_view::npos) return false;
    std::size_t data = page.find(DATA_PLACE, style + STYLE_PLACE.size());
    if (data == std::string_view::npos) return false;
    std::size_t script = page.find(SCRIPT_PLACE, data + DATA_PLACE.size());
    if (script == std::string_view::npos) return false;
    out.head = page.substr(0, style);
    std::size_t at = style + STYLE_PLACE.size();
    out.beforeData = page.substr(at, data - at);
    at = data + DATA_PLACE.size();
    out.afterData = page.substr(at, script - at);
    out.tail = page.substr(script + SCRIPT_PLACE.size());
    return true;
}

std::size_t base64_length(std::size_t n) { return (n + 2) / 3 * 4; }

std::size_t base64_encode(const unsigned char* bytes, std::size_t n, char* out) {
    std::size_t w = 0;
    for (std::size_t i = 0; i < n; i += 3) {
        std::size_t left = n - i;
        uint32_t group = static_cast<uint32_t>(bytes[i]) << 16;
        if (left > 1) group |= static_cast<uint32_t>(bytes[i + 1]) << 8;
        if (left > 2) group |= bytes[i + 2];
        out[w++] = BASE64_DIGITS[(group >> 18) & 63];
        out[w++] = BASE64_DIGITS[(group >> 12) & 63];
        out[w++] = left > 1 ? BASE64_DIGITS[(group >> 6) & 63] : '=';
        out[w++] = left > 2 ? BASE64_DIGITS[group & 63] : '=';
    }
    return w;
}

void write_script_text(std::FILE* file, std::string_view json) {
    std::size_t from = 0;
    for (std::size_t at = json.find('<'); at != std::string_view::npos; at = json.find('<', from)) {
        write_text(file, json.substr(from, at - from));
        write_text(file, "\\u003c");
        from = at + 1;
    }
    write_text(file, json.substr(from));
}

bool page_begin(std::FILE* file, const PageInfo& info, const CompileResult& result) {
    PageTemplate page;
    if (!split_page(viewer_html(), page)) return false;
    write_text(file, page.head);
    write_text(file, "<style>\n");
    write_text(file, viewer_css());
    write_text(file, "</style>");
    write_text(file, page.beforeData);
    write_meta(file, info, result);
    write_text(file, FRAMES_OPEN);
    return true;
}

void page_add_frame(std::FILE* file, const char* frameJson) {
    write_text(file, "\n");
    write_script_text(file, frameJson != nullptr ? frameJson : "");
}

void page_end(std::FILE* file, std::string_view blocks) {
    PageTemplate page;
    if (!split_page(viewer_html(), page)) return;
    write_text(file, "\n");
    write_text(file, DATA_CLOSE);
    write_text(file, blocks);
    write_text(file, page.afterData);
    // The script goes in byte for byte: the page's policy names it by its hash.
    write_text(file, "<script>");
    write_text(file, viewer_js());
    write_text(file, "</script>");
    write_text(file, page.tail);
}

}  // namespace prendax
