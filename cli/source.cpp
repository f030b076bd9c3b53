// Reading a robot program from disk and reporting what keeps it from running,
// shared by every front end.
#include <cstdio>
#include <cstdlib>

#include "cli/cli.h"
#include "compiler/diagnostics.h"

namespace prendax {

namespace {

constexpr const char* MSG_UNREADABLE = "No se pudo leer %s\n";
constexpr const char* DIAGNOSTIC_LINE = "[%s] línea %d, col %d: %s\n";

}  // namespace

// The file's first 16384 bytes, NUL-terminated (a NUL inside ends the text), or
// nullptr when it cannot be opened, sized or read. The caller frees the buffer.
char* read_source_file(const char* path) {
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

void report_unreadable(const char* path) { print_to(stderr, MSG_UNREADABLE, path); }

void print_diagnostics(const CompileResult& result) {
    for (int32_t i = 0; i < result.errorCount && i < MAX_DIAGNOSTICS; i++) {
        const Diagnostic& d = result.errors[i];
        print_to(stderr, DIAGNOSTIC_LINE, phase_name(d.phase), d.line, d.col, d.message);
    }
}

}  // namespace prendax
