// The bounded JSON writer: the strict fit rule, the sticky overflow, string
// escapes and the guarded number form.
#include "json/json_out.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace prendax {
namespace {

constexpr char SENTINEL = '#';

// A buffer with sentinel bytes behind the capacity, to catch writes past it.
struct GuardedBuffer {
    std::vector<char> bytes;
    std::size_t cap;
    explicit GuardedBuffer(std::size_t capacity) : bytes(capacity + 16, SENTINEL), cap(capacity) {}
    char* data() { return bytes.data(); }
    bool tail_untouched() const {
        for (std::size_t i = cap; i < bytes.size(); i++) {
            if (bytes[i] != SENTINEL) return false;
        }
        return true;
    }
};

std::string string_literal(const char* text) {
    char buf[1024];
    JsonOut out = json_open(buf, sizeof buf);
    json_string(&out, text);
    EXPECT_EQ(out.overflow, 0);
    return std::string(buf, out.len);
}

std::string number_text(double value) {
    char buf[64];
    JsonOut out = json_open(buf, sizeof buf);
    json_number(&out, value);
    EXPECT_EQ(out.overflow, 0);
    return std::string(buf, out.len);
}

TEST(JsonOut, OpenClearsTheFirstByteOnlyWhenThereIsRoom) {
    char buf[4] = {'x', 'y', 'z', 'w'};
    JsonOut out = json_open(buf, sizeof buf);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(buf[1], 'y');
    EXPECT_EQ(out.len, 0u);
    EXPECT_EQ(out.cap, 4u);
    EXPECT_EQ(out.overflow, 0);

    char untouched[2] = {'x', 'y'};
    JsonOut empty = json_open(untouched, 0);
    EXPECT_EQ(untouched[0], 'x');
    EXPECT_EQ(empty.overflow, 0);
}

TEST(JsonOut, FitRuleIsStrictAndOverflowIsSticky) {
    struct Case {
        const char* name;
        std::size_t cap;
        std::vector<const char*> pieces;
        const char* text;
        int overflow;
    };
    const Case cases[] = {
        {"eight then one in ten", 10, {"12345678", "9"}, "12345678", 1},
        {"later empty piece is ignored", 10, {"12345678", "9", ""}, "12345678", 1},
        {"later piece that would fit is ignored", 10, {"1234567", "89", "x"}, "1234567", 1},
        {"c-2 characters fit", 10, {"12345678"}, "12345678", 0},
        {"c-1 characters do not", 10, {"123456789"}, "", 1},
        {"small pieces up to c-2", 10, {"1234", "5678"}, "12345678", 0},
        {"empty piece fits in two", 2, {""}, "", 0},
        {"one character needs three", 2, {"a"}, "", 1},
        {"capacity one takes nothing", 1, {""}, "", 1},
        {"absent piece counts as empty", 4, {nullptr, "ab"}, "ab", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GuardedBuffer g(c.cap);
        JsonOut out = json_open(g.data(), g.cap);
        for (const char* piece : c.pieces) json_append(&out, piece);
        EXPECT_STREQ(g.data(), c.text);
        EXPECT_EQ(out.len, std::strlen(c.text));
        EXPECT_EQ(out.overflow, c.overflow);
        EXPECT_TRUE(g.tail_untouched());
    }
}

TEST(JsonOut, CapacityZeroAndAbsentBufferWriteNothing) {
    GuardedBuffer g(0);
    JsonOut out = json_open(g.data(), 0);
    json_append(&out, "a");
    EXPECT_EQ(out.overflow, 1);
    EXPECT_EQ(out.len, 0u);
    json_appendf(&out, "%d", 5);
    json_string(&out, "x");
    json_number(&out, 1.0);
    EXPECT_EQ(out.len, 0u);
    EXPECT_TRUE(g.tail_untouched());  // not even a terminator was written

    JsonOut none = json_open(nullptr, 100);
    json_append(&none, "abc");
    json_appendf(&none, "%s", "def");
    json_string(&none, "ghi");
    json_number(&none, 2.0);
    EXPECT_EQ(none.len, 0u);
    EXPECT_EQ(none.overflow, 0);

    json_append(nullptr, "abc");  // no writer at all: nothing happens
}

TEST(JsonOut, OverflowTerminatesAtTheLastFittingPiece) {
    // A writer whose length already reached its capacity (hand-made) is
    // terminated at the last byte and never written past it.
    GuardedBuffer g(5);
    std::memcpy(g.data(), "abcde", 5);
    JsonOut out{g.data(), 5, 7, 0};
    json_append(&out, "x");
    EXPECT_EQ(out.overflow, 1);
    EXPECT_EQ(std::string(g.data(), 5), std::string("abcd\0", 5));
    EXPECT_TRUE(g.tail_untouched());
}

TEST(JsonOut, AppendfCutsOnePieceAt511Characters) {
    struct Case {
        std::size_t length;
        std::size_t written;
    };
    const Case cases[] = {{510, 510}, {511, 511}, {512, 511}, {600, 511}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        std::string text(c.length, 'a');
        std::vector<char> buf(2048);
        JsonOut out = json_open(buf.data(), buf.size());
        json_appendf(&out, "%s", text.c_str());
        json_append(&out, "|");
        EXPECT_EQ(out.overflow, 0);
        EXPECT_EQ(std::string(buf.data()), std::string(c.written, 'a') + "|");
    }
}

TEST(JsonOut, AppendfFormatsAndObeysTheFitRule) {
    char buf[16];
    JsonOut out = json_open(buf, sizeof buf);
    json_appendf(&out, "{\"a\":%d,", -7);
    json_appendf(&out, "\"b\":%ld", static_cast<long>(2147483647));
    EXPECT_EQ(out.overflow, 1);  // the second piece needs 14 more characters
    EXPECT_STREQ(buf, "{\"a\":-7,");
}

TEST(JsonOut, StringEscapes) {
    struct Case {
        const char* name;
        const char* input;
        const char* expected;
    };
    const Case cases[] = {
        {"quote backslash tab 0x01", "\"\\\t\x01", "\"\\\"\\\\\\t\\u0001\""},
        {"line feed and carriage return", "a\nb\rc", "\"a\\nb\\rc\""},
        {"escape character", "\x1b[0m", "\"\\u001b[0m\""},
        {"backspace and form feed", "\b\f", "\"\\u0008\\u000c\""},
        {"unit separator", "\x1f", "\"\\u001f\""},
        {"delete passes", "\x7f", "\"\x7f\""},
        {"utf-8 passes", "línea", "\"línea\""},
        {"slash is not escaped", "a/b", "\"a/b\""},
        {"space and printable ascii", " ~!", "\" ~!\""},
        {"empty text", "", "\"\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string literal = string_literal(c.input);
        EXPECT_EQ(literal, c.expected);
        // A real parser reads the literal back as the original bytes.
        nlohmann::json parsed = nlohmann::json::parse(literal);
        ASSERT_TRUE(parsed.is_string());
        EXPECT_EQ(parsed.get<std::string>(), c.input);
    }
}

// U+FFFD, the replacement character, in UTF-8.
#define REPL "\xEF\xBF\xBD"

TEST(JsonOut, StringKeepsWellFormedUtf8AndReplacesEveryOtherByte) {
    struct Case {
        const char* name;
        const char* input;
        const char* expected;  // between the quotes
    };
    const Case cases[] = {
        {"spanish text", "Carácter no reconocido: ñ ¿?", "Carácter no reconocido: ñ ¿?"},
        {"lowest two-byte", "\xC2\x80", "\xC2\x80"},
        {"highest two-byte", "\xDF\xBF", "\xDF\xBF"},
        {"lowest three-byte", "\xE0\xA0\x80", "\xE0\xA0\x80"},
        {"last before the surrogates", "\xED\x9F\xBF", "\xED\x9F\xBF"},
        {"first after the surrogates", "\xEE\x80\x80", "\xEE\x80\x80"},
        {"highest three-byte", "\xEF\xBF\xBF", "\xEF\xBF\xBF"},
        {"lowest four-byte", "\xF0\x90\x80\x80", "\xF0\x90\x80\x80"},
        {"highest code point", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
        {"emoji between ascii", "a\xF0\x9F\x9A\x80z", "a\xF0\x9F\x9A\x80z"},
        {"lone lead byte of o acute", "posici\xC3n", "posici" REPL "n"},
        {"lone continuation byte", "\xB3", REPL},
        {"overlong two-byte", "\xC0\xAF", REPL REPL},
        {"overlong two-byte C1", "\xC1\xBF", REPL REPL},
        {"overlong three-byte", "\xE0\x9F\xBF", REPL REPL REPL},
        {"overlong four-byte", "\xF0\x8F\xBF\xBF", REPL REPL REPL REPL},
        {"surrogate", "\xED\xA0\x80", REPL REPL REPL},
        {"above U+10FFFF", "\xF4\x90\x80\x80", REPL REPL REPL REPL},
        {"F5 and up never start a sequence", "\xF5\x80\xFE\xFF", REPL REPL REPL REPL},
        {"sequence cut by ascii",
         "\xE2\x82"
         "a",
         REPL REPL "a"},
        {"sequence cut at the end", "ok\xF0\x9F\x9A", "ok" REPL REPL REPL},
        {"well-formed after ill-formed", "\xFF\xC3\xB3", REPL "\xC3\xB3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string literal = string_literal(c.input);
        EXPECT_EQ(literal, std::string("\"") + c.expected + "\"");
        // nlohmann's parser rejects ill-formed UTF-8 inside strings.
        nlohmann::json parsed;
        EXPECT_NO_THROW(parsed = nlohmann::json::parse(literal));
        EXPECT_EQ(parsed, nlohmann::json(c.expected));
    }
}

// Decodes by code point rather than by the table of well-formed sequences: a
// sequence is well-formed when its bits give a code point that needs exactly
// that many bytes, is not a surrogate and does not pass U+10FFFF.
std::size_t reference_sequence_length(const unsigned char* b, std::size_t available) {
    std::size_t length = b[0] < 0x80 ? 1 : b[0] >= 0xF0 ? 4 : b[0] >= 0xE0 ? 3 : b[0] >= 0xC0 ? 2 : 0;
    if (length == 0 || b[0] >= 0xF8 || length > available) return 0;
    uint32_t cp = length == 1 ? b[0] : b[0] & (0x7F >> length);
    for (std::size_t i = 1; i < length; i++) {
        if ((b[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b[i] & 0x3F);
    }
    const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < smallest[length] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return 0;
    return length;
}

TEST(JsonOut, SequenceLengthAgreesWithDecodingByCodePoint) {
    // Every pair of first bytes, with the later bytes at the edges of the
    // continuation range and just outside it.
    const unsigned char later[] = {0x00, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xFF};
    std::size_t mismatches = 0;
    for (int first = 1; first <= 0xFF; first++) {
        for (int second = 0; second <= 0xFF; second++) {
            for (unsigned char third : later) {
                for (unsigned char fourth : later) {
                    const unsigned char b[4] = {static_cast<unsigned char>(first), static_cast<unsigned char>(second),
                                                third, fourth};
                    for (std::size_t available = 1; available <= 4; available++) {
                        if (utf8_sequence_length(b, available) != reference_sequence_length(b, available)) {
                            mismatches++;
                        }
                    }
                }
            }
        }
    }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_EQ(utf8_sequence_length(nullptr, 0), 0u);
}

TEST(JsonOut, EveryHighByteAloneBecomesTheReplacementCharacter) {
    std::string all;
    std::string replaced;
    for (int b = 0x80; b <= 0xFF; b++) {
        all.push_back(static_cast<char>(b));
        replaced += REPL;
    }
    // Sorted bytes never form a well-formed sequence: leads (C2..F4) are
    // followed by higher leads, never by continuation bytes.
    EXPECT_EQ(string_literal(all.c_str()), "\"" + replaced + "\"");
}

TEST(JsonOut, CutDocumentNeverEndsInsideACharacter) {
    // "\"aé" is 4 bytes; a buffer of 5 holds at most 3, so é (two bytes) does
    // not fit after "\"a" and the document stays "\"a".
    char buf[5];
    JsonOut out = json_open(buf, sizeof buf);
    json_string(&out, "aé");
    EXPECT_EQ(out.overflow, 1);
    EXPECT_STREQ(buf, "\"a");
}

TEST(JsonOut, BoundedStringReplacesACharacterCutByTheFieldEnd) {
    // A diagnostic cut in the middle of "ó" keeps its first byte only.
    const char field[4] = {'a', 'b', '\xC3', '\xB3'};
    char buf[32];
    JsonOut out = json_open(buf, sizeof buf);
    json_string_bounded(&out, field, 3);
    EXPECT_STREQ(buf, "\"ab" REPL "\"");
}
#undef REPL

TEST(JsonOut, AbsentStringIsEmptyLiteral) { EXPECT_EQ(string_literal(nullptr), "\"\""); }

TEST(JsonOut, BoundedStringStopsAtTheFieldEnd) {
    char field[4] = {'a', 'b', 'c', 'd'};  // no terminator inside the field
    char buf[32];
    JsonOut out = json_open(buf, sizeof buf);
    json_string_bounded(&out, field, sizeof field);
    EXPECT_STREQ(buf, "\"abcd\"");

    out = json_open(buf, sizeof buf);
    json_string_bounded(&out, "ab\0cd", 5);
    EXPECT_STREQ(buf, "\"ab\"");
}

TEST(JsonOut, StringIsCutBetweenWholeEscapes) {
    struct Case {
        std::size_t cap;
        const char* input;
        const char* text;
    };
    const Case cases[] = {
        {6, "abcdef", "\"abc"},    // room for four characters
        {5, "a\"b", "\"a"},        // the two-character escape does not fit after "a
        {6, "a\"b", "\"a\\\""},    // it does with one more byte
        {8, "\x01", "\""},         // the six-character escape is one piece
        {9, "\x01", "\"\\u0001"},  // ... and the closing quote is another
        {10, "\x01", "\"\\u0001\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cap);
        GuardedBuffer g(c.cap);
        JsonOut out = json_open(g.data(), g.cap);
        json_string(&out, c.input);
        EXPECT_STREQ(g.data(), c.text);
        EXPECT_TRUE(g.tail_untouched());
    }
}

TEST(JsonOut, NumberForm) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* name;
        double value;
        const char* expected;
    };
    const Case cases[] = {
        {"tenth", 0.1, "0.1"},
        {"one", 1.0, "1"},
        {"third", 1.0 / 3.0, "0.333333"},
        {"minus two and a half", -2.5, "-2.5"},
        {"million", 1e6, "1e+06"},
        {"zero", 0.0, "0"},
        {"negative zero", -0.0, "-0"},
        {"infinity", inf, "0"},
        {"negative infinity", -inf, "0"},
        {"nan", std::nan(""), "0"},
        {"lower limit", -1e308, "-1e+308"},
        {"upper limit", 1e308, "1e+308"},
        {"just past the upper limit", std::nextafter(1e308, inf), "0"},
        {"just past the lower limit", std::nextafter(-1e308, -inf), "0"},
        {"largest finite", DBL_MAX, "0"},
        {"smallest normal", DBL_MIN, "2.22507e-308"},
        {"seven digits round", 1234567.0, "1.23457e+06"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = number_text(c.value);
        EXPECT_EQ(text, c.expected);
        EXPECT_TRUE(nlohmann::json::parse(text).is_number());
    }
    // 1e309 does not exist as a double: the literal is infinity.
    volatile double huge = 1e300;
    EXPECT_EQ(number_text(huge * 1e9), "0");
}

// A writer with a sink hands on its buffer whenever a piece would not fit: the
// document comes out whole and the same as through one large buffer, whatever
// the small buffer's size, pieces larger than the buffer included.
TEST(JsonOutSink, DocumentsOfAnyLengthComeOutWhole) {
    auto write = [](JsonOut* out) {
        json_append(out, "{\"texto\":");
        json_string(out, std::string(3000, 'a').append("\"\\\n\xC3\xA9\xFF").c_str());
        for (int i = 0; i < 200; i++) json_appendf(out, ",\"k%d\":%d", i, i * i);
        json_append(out, ",\"n\":");
        json_number(out, 0.1);
        json_append(out, "}");
    };
    std::vector<char> large(1 << 16);
    JsonOut whole = json_open(large.data(), large.size());
    write(&whole);
    ASSERT_EQ(whole.overflow, 0);
    const std::string expected(large.data(), whole.len);
    for (std::size_t size : {std::size_t{2}, std::size_t{3}, std::size_t{7}, std::size_t{64}, std::size_t{4096}}) {
        SCOPED_TRACE(size);
        std::string text;
        std::vector<char> small(size);
        JsonOut out = json_open_sink(
            small.data(), small.size(),
            JsonSink{&text, [](void* c, const char* b, std::size_t n) { static_cast<std::string*>(c)->append(b, n); }});
        write(&out);
        json_flush(&out);
        EXPECT_EQ(out.overflow, 0);
        EXPECT_EQ(text, expected);
    }
}

}  // namespace
}  // namespace prendax
