// Console output: every text of the driver goes through these, bytes as they stand.
#include <cstdarg>
#include <cstdio>

#include "frontend/frontend.h"

namespace prendax {

void print_out(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
}

void print_to(std::FILE* stream, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stream, format, args);
    va_end(args);
}

void pause_for_enter() {
    print_out("\nPresiona Enter para salir...");
    std::fflush(stdout);
    (void)std::getchar();
}

}  // namespace prendax
