#include "compiler/text.h"

#include <cstring>

namespace prendax {

char fold_ascii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

int equals_ignore_case(const char* a, const char* b) {
    if (a == nullptr || b == nullptr) return 0;
    for (;; a++, b++) {
        if (fold_ascii(*a) != fold_ascii(*b)) return 0;
        if (*a == '\0') return 1;
    }
}

std::size_t bounded_length(const char* text, std::size_t limit) {
    std::size_t n = 0;
    while (n < limit && text[n] != '\0') n++;
    return n;
}

void copy_bounded(char* dst, const char* src, std::size_t limit) {
    const std::size_t n = src != nullptr ? bounded_length(src, limit) : 0;
    if (n > 0) std::memcpy(dst, src, n);
    dst[n] = '\0';
}

}  // namespace prendax
