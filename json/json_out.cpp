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
    if (out->sink.write != nullptr && !piece_fits(out, n)) {
        json_flush(out);
        // A piece larger than the whole buffer goes straight to the sink.
        if (!piece_fits(out, n)) {
            out->sink.write(out->sink.context, bytes, n);
            return;
        }
    }
    if (piece_fits(out, n)) {
        std::memcpy(out->buf + out->len, bytes, n);
        out->len += n;
        out->buf[out->len] = '\0';
        return;
    }
    if (out->cap != 0) out->buf[out->len < out->cap ? out->len : out->cap - 1] = '\0';
    out->overflow = 1;
}

// The piece that stands for one byte below 0x80 inside a string literal; returns its length.
std::size_t escape_ascii(unsigned char byte, char (&piece)[8]) {
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

// U+FFFD, the replacement character, in UTF-8.
constexpr char REPLACEMENT_CHARACTER[] = "\xEF\xBF\xBD";

}  // namespace

std::size_t utf8_sequence_length(const unsigned char* bytes, std::size_t available) {
    if (available == 0) return 0;
    unsigned char lead = bytes[0];
    if (lead < 0x80) return 1;
    // The well-formed sequences: the lead byte fixes the length and the range of
    // the second byte (which rules out overlong forms, surrogates and anything
    // above U+10FFFF); every later byte lies in 80..BF.
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (available < length || bytes[1] < low || bytes[1] > high) return 0;
    for (std::size_t i = 2; i < length; i++) {
        if (bytes[i] < 0x80 || bytes[i] > 0xBF) return 0;
    }
    return length;
}

JsonOut json_open(char* buffer, std::size_t capacity) {
    JsonOut out{buffer, capacity, 0, 0};
    if (buffer != nullptr && capacity != 0) buffer[0] = '\0';
    return out;
}

JsonOut json_open_sink(char* buffer, std::size_t capacity, JsonSink sink) {
    JsonOut out = json_open(buffer, capacity);
    out.sink = sink;
    return out;
}

void json_flush(JsonOut* out) {
    if (out == nullptr || out->sink.write == nullptr || out->buf == nullptr || out->len == 0) return;
    out->sink.write(out->sink.context, out->buf, out->len);
    out->len = 0;
    out->buf[0] = '\0';
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
        const auto* bytes = reinterpret_cast<const unsigned char*>(text);
        std::size_t available = 0;
        while (available < maxBytes && bytes[available] != '\0') available++;
        // Each escape, character or replacement is its own piece, so a cut
        // document may end inside a string but never inside a character.
        for (std::size_t i = 0; i < available;) {
            std::size_t n = utf8_sequence_length(bytes + i, available - i);
            if (n == 1) {
                char piece[8];
                append_bytes(out, piece, escape_ascii(bytes[i], piece));
            } else if (n > 1) {
                append_bytes(out, text + i, n);
            } else {
                // A byte outside every well-formed sequence stands for itself as U+FFFD.
                append_bytes(out, REPLACEMENT_CHARACTER, sizeof REPLACEMENT_CHARACTER - 1);
                n = 1;
            }
            i += n;
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
