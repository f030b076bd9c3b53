// Diagnostics: one reported problem with its phase, position and Spanish message,
// and the bounded list of them kept in the compiler context.
#pragma once

#include <cstdint>

#include "compiler/enum_table.h"
#include "compiler/limits.h"

namespace prendax {

enum Phase : int32_t {
    PHASE_NINGUNA = 0,
    PHASE_LEXICO = 1,
    PHASE_SINTACTICO = 2,
    PHASE_SEMANTICO = 3,
    PHASE_CODIGO = 4,
    PHASE_EJECUCION = 5,
    PHASE_JUEGO = 6,
};

struct PhaseRow {
    Phase value;
    const char* name;
};

inline constexpr PhaseRow PHASE_TABLE[] = {
    {PHASE_NINGUNA, "ninguna"},     {PHASE_LEXICO, "lexico"}, {PHASE_SINTACTICO, "sintactico"},
    {PHASE_SEMANTICO, "semantico"}, {PHASE_CODIGO, "codigo"}, {PHASE_EJECUCION, "ejecucion"},
    {PHASE_JUEGO, "juego"},
};
static_assert(table_is_dense(PHASE_TABLE) && sizeof(PHASE_TABLE) / sizeof(PHASE_TABLE[0]) == 7);

struct Diagnostic {
    Phase phase;
    int32_t line;  // 1-based; 0 where the reporter has no position
    int32_t col;   // 1-based byte column; 0 where the reporter has no column
    char message[MESSAGE_SIZE];
};

struct CompilerContext;

// "ninguna" for 0 and for every value outside the table.
const char* phase_name(int32_t phase);

// Appends one diagnostic; beyond the 32nd the report is dropped without a trace.
void add_diagnostic(CompilerContext* ctx, Phase phase, int32_t line, int32_t col, const char* format, ...)
    __attribute__((format(printf, 5, 6)));

}  // namespace prendax
