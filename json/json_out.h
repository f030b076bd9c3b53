// The bounded JSON text writer behind every document: a piece that does not fit
// ends the document, and nothing is ever written past the buffer. A writer with
// a sink instead hands the buffer on whenever it fills, so a tool can write a
// document of any length through a small buffer of its own.
#pragma once

#include <cstddef>
#include <cstdint>

namespace prendax {

inline constexpr int JSON_SCRATCH_SIZE = 512;  // one formatted piece, cut at 511 bytes

// Where a writer hands on its text: `write` receives the bytes in order.
struct JsonSink {
    void* context;
    void (*write)(void* context, const char* bytes, std::size_t n);
};

struct JsonOut {
    char* buf;
    uint64_t cap;
    uint64_t len;
    int32_t overflow;                 // set by the first piece that did not fit; stays set (never with a sink)
    JsonSink sink{nullptr, nullptr};  // none: the document ends at the buffer's end
};

// A writer over the caller's buffer, its first byte cleared when cap is not 0.
JsonOut json_open(char* buffer, std::size_t capacity);
// A writer that hands its buffer to the sink whenever a piece would not fit;
// json_flush hands on the rest at the end.
JsonOut json_open_sink(char* buffer, std::size_t capacity, JsonSink sink);
void json_flush(JsonOut* out);

void json_append(JsonOut* out, const char* text);
void json_appendf(JsonOut* out, const char* format, ...) __attribute__((format(printf, 2, 3)));
// A JSON string literal of the text. Bytes below 0x20, the quotation mark and
// the backslash are escaped; well-formed UTF-8 sequences pass unchanged; every
// other byte is written as U+FFFD, so the document is valid UTF-8 whatever the text.
void json_string(JsonOut* out, const char* text);
// json_string of a fixed-size text field: stops at the first NUL or after
// maxBytes bytes, so an unterminated field is never read past its end.
void json_string_bounded(JsonOut* out, const char* text, std::size_t maxBytes);
// Length of the well-formed UTF-8 sequence (1 to 4 bytes) that starts the
// available bytes, or 0 when they do not start with one (overlong forms,
// surrogates, code points above U+10FFFF, stray or missing continuation bytes).
std::size_t utf8_sequence_length(const unsigned char* bytes, std::size_t available);
// "%.6g" for numbers within [-1e308, 1e308]; "0" for NaN and the rest.
void json_number(JsonOut* out, double value);

}  // namespace prendax
