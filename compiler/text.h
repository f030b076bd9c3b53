// Small text operations shared by the compiler and the tools around it: ASCII
// case folding, and lengths and copies that never go past a bound.
#pragma once

#include <cstddef>

namespace prendax {

// A-Z onto a-z; every other byte as it is.
char fold_ascii(char c);

// 1 when both texts have the same length and bytes after folding A-Z onto a-z.
int equals_ignore_case(const char* a, const char* b);

// Length of a text, counting at most `limit` bytes.
std::size_t bounded_length(const char* text, std::size_t limit);

// Copies at most `limit` bytes of src (nothing when src is null) and a
// terminator: dst must hold limit + 1 bytes.
void copy_bounded(char* dst, const char* src, std::size_t limit);

}  // namespace prendax
