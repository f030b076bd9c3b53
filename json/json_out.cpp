// The bounded JSON text writer. Every document is a sequence of pieces; a piece
// that does not fit ends the document at the last piece that did, the text stays
// terminated, and every later append of that document does nothing.
#include "json/json_out.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace prendax {

namespace {

// Numbers beyond this magnitude (and NaN) are written as 0, so every written
// number is valid JSON.
constexpr double JSON_NUMBER_LIMIT = 1e308;

// A piece fits only when it leaves room for the terminator and one more byte:
// the longest text a buffer of capacity c receives is c - 2 characters.
bool piece_fits(const JsonOut* out, std::size_t n) {
    if (out->len >= out->cap) return false;
    return n < out->cap - out->len - 1;
}

void append_bytes(JsonOut* out, const char* bytes, std::size_t n) {
    if (out == nullptr || out->buf == nullptr || out->overflow) return;
    if (piece_fits(out, n)) {
        std::memcpy(out->buf + out->len, bytes, n);
        out->len += n;
        out->buf[out->len] = '\0';
        return;
    }
    if (out->cap != 0) out->buf[out->len < out->cap ? out->len : out->cap - 1] = '\0';
    out->overflow = 1;
}

// The piece that stands for one byte inside a string literal; returns its length.
// Bytes from 0x80 up pass unchanged, so UTF-8 text stays UTF-8.
std::size_t escape_byte(unsigned char byte, char (&piece)[8]) {
    switch (byte) {
        case '"': std::memcpy(piece, "\\\"", 3); return 2;
        case '\\': std::memcpy(piece, "\\\\", 3); return 2;
        case '\n': std::memcpy(piece, "\\n", 3); return 2;
        case '\r': std::memcpy(piece, "\\r", 3); return 2;
        case '\t': std::memcpy(piece, "\\t", 3); return 2;
        default: break;
    }
    if (byte < 0x20) {
        std::snprintf(piece, sizeof piece, "\\u%04x", static_cast<unsigned>(byte));
        return 6;
    }
    piece[0] = static_cast<char>(byte);
    piece[1] = '\0';
    return 1;
}

}  // namespace

JsonOut json_open(char* buffer, std::size_t capacity) {
    JsonOut out{buffer, capacity, 0, 0};
    if (buffer != nullptr && capacity != 0) buffer[0] = '\0';
    return out;
}

void json_append(JsonOut* out, const char* text) {
    append_bytes(out, text != nullptr ? text : "", text != nullptr ? std::strlen(text) : 0);
}

void json_appendf(JsonOut* out, const char* format, ...) {
    if (out == nullptr || out->buf == nullptr || out->overflow) return;
    // One formatted piece is cut at 511 characters.
    char scratch[JSON_SCRATCH_SIZE];
    va_list args;
    va_start(args, format);
    int written = std::vsnprintf(scratch, sizeof scratch, format, args);
    va_end(args);
    if (written < 0) scratch[0] = '\0';
    json_append(out, scratch);
}

void json_string_bounded(JsonOut* out, const char* text, std::size_t maxBytes) {
    json_append(out, "\"");
    if (text != nullptr) {
        // Each byte or escape is its own piece, so a cut document may end inside a string.
        for (std::size_t i = 0; i < maxBytes && text[i] != '\0'; i++) {
            char piece[8];
            std::size_t n = escape_byte(static_cast<unsigned char>(text[i]), piece);
            append_bytes(out, piece, n);
        }
    }
    json_append(out, "\"");
}

void json_string(JsonOut* out, const char* text) { json_string_bounded(out, text, static_cast<std::size_t>(-1)); }

void json_number(JsonOut* out, double value) {
    if (!std::isnan(value) && value >= -JSON_NUMBER_LIMIT && value <= JSON_NUMBER_LIMIT) {
        json_appendf(out, "%.6g", value);
    } else {
        json_append(out, "0");
    }
}

}  // namespace prendax
