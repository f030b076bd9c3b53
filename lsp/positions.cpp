// UTF-8 byte columns and UTF-16 code units. A stray byte that does not begin a
// well-formed character counts as one unit, as the replacement character the
// client would show in its place.
#include "lsp/positions.h"

namespace prendax::lsp {

namespace {

// Bytes of the character at `i` (1 for a malformed sequence) and its UTF-16 units.
void character_at(std::string_view s, std::size_t i, std::size_t& bytes, int32_t& units) {
    const auto lead = static_cast<unsigned char>(s[i]);
    std::size_t want = 1;
    if (lead >= 0xC2 && lead <= 0xDF) want = 2;
    if (lead >= 0xE0 && lead <= 0xEF) want = 3;
    if (lead >= 0xF0 && lead <= 0xF4) want = 4;
    bytes = 1;
    units = 1;
    if (want == 1 || i + want > s.size()) return;
    for (std::size_t k = 1; k < want; k++) {
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return;
    }
    bytes = want;
    units = want == 4 ? 2 : 1;
}

}  // namespace

int32_t units_from_bytes(std::string_view line, int32_t byteCol, Encoding enc) {
    if (byteCol <= 0) return 0;
    const std::size_t limit =
        static_cast<std::size_t>(byteCol) < line.size() ? static_cast<std::size_t>(byteCol) : line.size();
    if (enc == Encoding::Utf8) return static_cast<int32_t>(limit);
    int32_t units = 0;
    std::size_t i = 0;
    while (i < limit) {
        std::size_t bytes;
        int32_t u;
        character_at(line, i, bytes, u);
        if (i + bytes > limit) break;  // a column inside a character counts from its start
        i += bytes;
        units += u;
    }
    return units;
}

int32_t bytes_from_units(std::string_view line, int64_t units, Encoding enc) {
    if (units <= 0) return 0;
    if (enc == Encoding::Utf8) {
        std::size_t at = static_cast<uint64_t>(units) < line.size() ? static_cast<std::size_t>(units) : line.size();
        // Never split a character: step back to its first byte.
        while (at > 0 && at < line.size() && (static_cast<unsigned char>(line[at]) & 0xC0) == 0x80) at--;
        return static_cast<int32_t>(at);
    }
    int64_t seen = 0;
    std::size_t i = 0;
    while (i < line.size()) {
        std::size_t bytes;
        int32_t u;
        character_at(line, i, bytes, u);
        if (seen + u > units) break;
        seen += u;
        i += bytes;
    }
    return static_cast<int32_t>(i);
}

}  // namespace prendax::lsp
