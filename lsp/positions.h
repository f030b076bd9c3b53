// Positions as the client counts them. The engine counts byte columns; a
// client counts UTF-16 code units unless it offered UTF-8. Both conversions
// read the line's own text, so accented letters in comments count right.
#pragma once

#include <cstdint>
#include <string_view>

namespace prendax::lsp {

enum class Encoding { Utf8, Utf16 };

// The client's column of a byte column within a line.
int32_t units_from_bytes(std::string_view line, int32_t byteCol, Encoding enc);
// The byte column of a client's column, clamped to the line; a column inside
// a character lands on the character's first byte.
int32_t bytes_from_units(std::string_view line, int64_t units, Encoding enc);

}  // namespace prendax::lsp
