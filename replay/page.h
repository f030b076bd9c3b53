// The replay page: the viewer with the program, its instructions and every
// recorded frame inline, written to a file while the match is played. The page
// fetches nothing: style, script and data all travel inside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "compiler/context.h"

namespace prendax {

// What the page tells about the match besides its frames.
struct PageInfo {
    const char* name;          // the program's path as written on the command line
    const char* source;        // the text that was compiled (any bytes)
    std::size_t sourceLength;  // its length in bytes
    int32_t ticks;
    uint32_t seed;
    int32_t level;
};

// The viewer page cut at the three places the writer fills: the style, the
// data and the script.
struct PageTemplate {
    std::string_view head;        // up to the style
    std::string_view beforeData;  // from the style to the data
    std::string_view afterData;   // from the data to the script
    std::string_view tail;        // after the script
};

inline constexpr std::string_view STYLE_PLACE = "<link rel=\"stylesheet\" href=\"viewer.css\">";
inline constexpr std::string_view DATA_PLACE = "<!-- replay-data -->";
inline constexpr std::string_view SCRIPT_PLACE = "<script src=\"viewer.js\"></script>";

// Cuts the page at its three places; false when one is missing or they are out of order.
bool split_page(std::string_view page, PageTemplate& out);

// Length of the base64 text of n bytes.
std::size_t base64_length(std::size_t n);
// Writes the base64 text (RFC 4648, padded, no terminator) of n bytes; returns its length.
std::size_t base64_encode(const unsigned char* bytes, std::size_t n, char* out);

// Writes JSON text so that it can stand inside a <script> element: every '<'
// becomes \u003c. JSON holds '<' only inside strings, where the escape means
// the same character, so the data reads back unchanged.
void write_script_text(std::FILE* file, std::string_view json);

// The page up to its first frame: viewer, style, the match's description and
// the program's instructions and source. False when the embedded viewer lacks
// one of its places (nothing is written then).
bool page_begin(std::FILE* file, const PageInfo& info, const CompileResult& result);
// One frame document, on a line of its own.
void page_add_frame(std::FILE* file, const char* frameJson);
// The rest of the page after the last frame; `blocks` (further data elements,
// already safe inside a page) go between the frames and the script.
void page_end(std::FILE* file, std::string_view blocks = {});

}  // namespace prendax
