// What the front ends share: their defaults, limits, exit statuses and console
// operations, the option values they read alike, and the reading of a robot
// program. Only front ends print: the engine fills records and returns 0 or 1.
#pragma once

#include <cstdint>
#include <cstdio>

#include "compiler/compile_result.h"

namespace prendax {

inline constexpr int COMPILE_JSON_CAPACITY = 524288;  // saturates, no message: the document is cut
inline constexpr int FRAME_JSON_CAPACITY = 65536;     // saturates, no message: the document is cut
inline constexpr const char* VERSION_TEXT = "1.0.0";
inline constexpr const char* DEMO_DISPLAY_NAME = "demo incluida";
inline constexpr int DEFAULT_TICKS = 900;
inline constexpr uint32_t DEFAULT_SEED = 12345;
inline constexpr int DEFAULT_LEVEL = 1;

// Texts every front end prints alike.
inline constexpr const char* MSG_UNWRITABLE = "No se pudo escribir %s\n";
inline constexpr const char* RUNTIME_ERROR_LINE = "Error de ejecución: línea %d: %s\n";

// The process exit statuses.
enum ExitStatus : int {
    EXIT_OK = 0,              // compiled and printed as JSON, or compiled and simulated
    EXIT_COMPILE_FAILED = 1,  // the program did not compile
    EXIT_BAD_INVOCATION = 2,  // unknown option, or the source file could not be read
};

// The built-in program that runs when no file is named.
inline constexpr const char* demo_source =
    "// Demo incluida en prendax.exe\n"
    "START\n"
    "REPEAT 4 { SHOOT WAIT 8 MOVE RIGHT }\n"
    "REPEAT 4 { SHOOT WAIT 8 MOVE LEFT }\n"
    "WHILE health > 0 {\n"
    "  IF enemy_ahead() { SHOOT }\n"
    "  WAIT 3\n"
    "}\n"
    "END\n";

void print_out(const char* format, ...) __attribute__((format(printf, 1, 2)));
void print_to(std::FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
// An option value as atoi reads it, saturated to the signed 32-bit range
// ("5x" gives 5, "abc" gives 0, "99999999999" gives 2147483647).
int32_t read_int_option(const char* text);
// A seed as strtoul with base 10 reads it, kept to 32 bits ("-1" gives 4294967295).
uint32_t read_seed_option(const char* text);
// "Opción desconocida: ..." on standard error.
void report_unknown_option(const char* arg);

// The file's first 16384 bytes, NUL-terminated (a NUL byte inside ends the text),
// or nullptr when it cannot be opened, sized or read. The caller frees it.
char* read_source_file(const char* path);
// "No se pudo leer ..." on standard error.
void report_unreadable(const char* path);
// One "[fase] línea L, col C: mensaje" line per diagnostic on standard error,
// each after "PROGRAM: " when a program name is given. When `escaped`, control
// bytes and invalid UTF-8 the message quotes from the source are shown as \xNN
// (prendax_cli prints them as they stand).
void print_diagnostics(const CompileResult& result, const char* program = nullptr, bool escaped = false);

// Prints the closing prompt and waits for one character of standard input.
void pause_for_enter();

}  // namespace prendax
