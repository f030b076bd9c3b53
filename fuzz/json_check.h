// A strict JSON syntax check for the documents the engine writes: one value,
// no whitespace anywhere (the writers never emit any), strings without raw
// control bytes, numbers in the JSON grammar (so "nan" or "inf" fail), and
// strings in well-formed UTF-8 (decoded by code point: no overlong forms, no
// surrogates, nothing above U+10FFFF).
#pragma once

#include <cstddef>

namespace prendax::fuzzcheck {

// The documents nest four levels at most; anything far deeper is a fault.
inline constexpr int JSON_MAX_NESTING = 16;

struct JsonCursor {
    const char* at;
    const char* end;
};

inline bool json_take(JsonCursor& c, char expected) {
    if (c.at == c.end || *c.at != expected) return false;
    c.at++;
    return true;
}

inline bool json_is_digit(char ch) { return ch >= '0' && ch <= '9'; }

inline bool json_is_hex(char ch) { return json_is_digit(ch) || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F'); }

inline bool json_check_digits(JsonCursor& c) {
    if (c.at == c.end || !json_is_digit(*c.at)) return false;
    while (c.at != c.end && json_is_digit(*c.at)) c.at++;
    return true;
}

// number -> '-'? ('0' | [1-9][0-9]*) ('.' [0-9]+)? ([eE] [+-]? [0-9]+)?
inline bool json_check_number(JsonCursor& c) {
    json_take(c, '-');
    if (c.at == c.end) return false;
    if (*c.at == '0') {
        c.at++;
    } else if (!json_check_digits(c)) {
        return false;
    }
    if (json_take(c, '.') && !json_check_digits(c)) return false;
    if (c.at != c.end && (*c.at == 'e' || *c.at == 'E')) {
        c.at++;
        if (!json_take(c, '+')) json_take(c, '-');
        if (!json_check_digits(c)) return false;
    }
    return true;
}

// Takes the rest of a character whose first byte (0x80 or above) was just read.
inline bool json_check_utf8_tail(JsonCursor& c, unsigned char lead) {
    int more = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    if (more == 0 || lead >= 0xF8) return false;
    unsigned long cp = lead & (0x3Fu >> more);
    for (int i = 0; i < more; i++) {
        if (c.at == c.end || (static_cast<unsigned char>(*c.at) & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (static_cast<unsigned char>(*c.at++) & 0x3Fu);
    }
    const unsigned long smallest[] = {0, 0x80, 0x800, 0x10000};
    return cp >= smallest[more] && (cp < 0xD800 || cp > 0xDFFF) && cp <= 0x10FFFF;
}

inline bool json_check_string(JsonCursor& c) {
    if (!json_take(c, '"')) return false;
    while (c.at != c.end) {
        const unsigned char ch = static_cast<unsigned char>(*c.at++);
        if (ch == '"') return true;
        if (ch < 0x20) return false;
        if (ch >= 0x80) {
            if (!json_check_utf8_tail(c, ch)) return false;
            continue;
        }
        if (ch != '\\') continue;
        if (c.at == c.end) return false;
        const char escape = *c.at++;
        if (escape == 'u') {
            for (int i = 0; i < 4; i++) {
                if (c.at == c.end || !json_is_hex(*c.at)) return false;
                c.at++;
            }
        } else if (escape != '"' && escape != '\\' && escape != '/' && escape != 'b' && escape != 'f' &&
                   escape != 'n' && escape != 'r' && escape != 't') {
            return false;
        }
    }
    return false;
}

inline bool json_check_word(JsonCursor& c, const char* word) {
    for (; *word != '\0'; word++) {
        if (!json_take(c, *word)) return false;
    }
    return true;
}

inline bool json_check_value(JsonCursor& c, int depth);

// The members of an object or the elements of an array, up to the closing byte.
inline bool json_check_items(JsonCursor& c, int depth, char close, bool keyed) {
    if (json_take(c, close)) return true;
    do {
        if (keyed && !(json_check_string(c) && json_take(c, ':'))) return false;
        if (!json_check_value(c, depth + 1)) return false;
    } while (json_take(c, ','));
    return json_take(c, close);
}

inline bool json_check_value(JsonCursor& c, int depth) {
    if (depth > JSON_MAX_NESTING || c.at == c.end) return false;
    switch (*c.at) {
        case '{': c.at++; return json_check_items(c, depth, '}', true);
        case '[': c.at++; return json_check_items(c, depth, ']', false);
        case '"': return json_check_string(c);
        case 't': return json_check_word(c, "true");
        case 'f': return json_check_word(c, "false");
        case 'n': return json_check_word(c, "null");
        default: return json_check_number(c);
    }
}

// True when text[0..length) is exactly one JSON value.
inline bool json_is_valid(const char* text, std::size_t length) {
    JsonCursor c{text, text + length};
    return json_check_value(c, 0) && c.at == c.end;
}

}  // namespace prendax::fuzzcheck
