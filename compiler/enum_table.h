// Every named enumeration lives in one constexpr table of {value, "NAME"} rows.
// These helpers check at compile time that row i holds value i, and look a
// name up by value with a fallback for values outside the table.
#pragma once

#include <cstddef>
#include <cstdint>

namespace prendax {

template <typename Row, std::size_t N>
constexpr bool table_is_dense(const Row (&rows)[N]) {
    for (std::size_t i = 0; i < N; i++) {
        if (static_cast<std::size_t>(rows[i].value) != i) return false;
    }
    return true;
}

template <typename Row, std::size_t N>
constexpr const char* table_name(const Row (&rows)[N], int64_t value, const char* fallback) {
    if (value < 0 || value >= static_cast<int64_t>(N)) return fallback;
    return rows[value].name;
}

}  // namespace prendax
