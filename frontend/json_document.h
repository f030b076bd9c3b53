// A JSON document of any length, written by the engine's writer into a string
// through a small buffer that is handed on whenever it fills.
#pragma once

#include <cstddef>
#include <string>

#include "json/json_out.h"

namespace prendax {

inline void append_to_string(void* text, const char* bytes, std::size_t n) {
    static_cast<std::string*>(text)->append(bytes, n);
}

// The document that `fill(JsonOut*)` writes, whole.
template <typename Fill>
std::string json_document(Fill fill) {
    std::string text;
    char buffer[4096];
    JsonOut out = json_open_sink(buffer, sizeof buffer, JsonSink{&text, append_to_string});
    fill(&out);
    json_flush(&out);
    return text;
}

}  // namespace prendax
