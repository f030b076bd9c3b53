// What every front end shares: reading option values and a robot program from
// disk, and reporting what keeps it from running.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "compiler/diagnostics.h"
#include "frontend/files.h"
#include "frontend/frontend.h"

namespace prendax {

namespace {

constexpr const char* MSG_UNKNOWN_OPTION = "Opción desconocida: %s\n";
constexpr const char* MSG_UNREADABLE = "No se pudo leer %s\n";
constexpr const char* DIAGNOSTIC_LINE = "[%s] línea %d, col %d: %s\n";

}  // namespace

// The file's first 16384 bytes, NUL-terminated (a NUL inside ends the text), or
// nullptr when it cannot be opened, sized or read. The caller frees the buffer.
char* read_source_file_noted(const char* path, SourceNotes& notes) {
    notes = SourceNotes{};
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return nullptr;
    char* buffer = nullptr;
    long size = -1;
    if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
    if (size >= 0 && std::fseek(f, 0, SEEK_SET) == 0) {
        std::size_t n = size < MAX_SOURCE_BYTES ? static_cast<std::size_t>(size) : MAX_SOURCE_BYTES;
        buffer = static_cast<char*>(std::malloc(n + 1));
        if (buffer != nullptr) {
            std::size_t got = std::fread(buffer, 1, n, f);
            buffer[got] = '\0';
            notes.size = size;
            notes.cut = static_cast<std::size_t>(size) > n;
            std::size_t text = std::strlen(buffer);
            if (text < got) notes.nulAt = static_cast<long long>(text);
            // A directory opens and sizes on some systems but cannot be read.
            if (std::ferror(f)) {
                std::free(buffer);
                buffer = nullptr;
            }
        }
    }
    std::fclose(f);
    return buffer;
}

char* read_source_file(const char* path) {
    SourceNotes notes;
    return read_source_file_noted(path, notes);
}

// Reads a decimal integer as atoi does, saturating beyond the signed 32-bit range.
int32_t read_int_option(const char* text) {
    while (std::isspace(static_cast<unsigned char>(*text))) text++;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+') text++;
    int64_t value = 0;
    const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
    for (; *text >= '0' && *text <= '9'; text++) {
        value = value * 10 + (*text - '0');
        if (value > limit) {
            value = limit;
            break;
        }
    }
    return static_cast<int32_t>(negative ? -value : value);
}

// Reads a seed as strtoul with base 10 does, kept to 32 bits (-1 gives 4294967295).
uint32_t read_seed_option(const char* text) { return static_cast<uint32_t>(std::strtoul(text, nullptr, 10)); }

void report_unknown_option(const char* arg) { print_to(stderr, MSG_UNKNOWN_OPTION, arg); }

void report_unreadable(const char* path) { print_to(stderr, MSG_UNREADABLE, path); }

void print_diagnostics(const CompileResult& result, const char* program, bool escaped) {
    for (int32_t i = 0; i < result.errorCount && i < MAX_DIAGNOSTICS; i++) {
        const Diagnostic& d = result.errors[i];
        const std::string message = escaped ? shown(d.message) : std::string(d.message);
        if (program != nullptr) print_to(stderr, "%s: ", program);
        print_to(stderr, DIAGNOSTIC_LINE, phase_name(d.phase), d.line, d.col, message.c_str());
    }
}

}  // namespace prendax
