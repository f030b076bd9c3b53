// The texts the editor shows on hover and in completion: what each keyword,
// built-in function and reserved variable means, one row per name, checked at
// compile time against the lexer's and the semantic checks' tables.
#pragma once

#include "compiler/lexer.h"
#include "compiler/sema.h"

namespace prendax::lsp {

struct KeywordHelp {
    TokenType type;
    const char* text;
};

// One row per keyword of the lexer's keyword table, in its order.
inline constexpr KeywordHelp KEYWORD_HELP[] = {
    {TOK_START, "`START`: no hace nada; marca el principio del programa (opcional)."},
    {TOK_END, "`END`: detiene el programa; 30 ticks después vuelve a empezar desde el principio."},
    {TOK_SET, "`SET nombre expresión`: guarda el valor de la expresión en la variable; la crea la primera vez."},
    {TOK_MOVE, "`MOVE UP|DOWN|LEFT|RIGHT`: mueve la nave 18 unidades en vertical o 16 en horizontal."},
    {TOK_SHOOT, "`SHOOT`: dispara una bala hacia arriba si el cañón está cargado (recarga en 7 ticks)."},
    {TOK_SHIELD, "`SHIELD`: levanta el escudo durante 180 ticks si está disponible (cada 600 ticks)."},
    {TOK_WAIT, "`WAIT n`: termina el turno del programa y lo reanuda n ticks después (como mucho 600)."},
    {TOK_REPEAT, "`REPEAT n { ... }`: repite el bloque n veces (como mucho 10000)."},
    {TOK_WHILE, "`WHILE condición { ... }`: repite el bloque mientras la condición sea cierta."},
    {TOK_IF, "`IF condición { ... } ELSE { ... }`: ejecuta un bloque u otro según la condición."},
    {TOK_ELSE, "`ELSE { ... }`: el bloque que ejecuta un `IF` cuando su condición es falsa."},
    {TOK_UP, "`UP`: dirección hacia arriba (resta 18 a la altura de la nave)."},
    {TOK_DOWN, "`DOWN`: dirección hacia abajo (suma 18 a la altura de la nave)."},
    {TOK_LEFT, "`LEFT`: dirección a la izquierda (resta 16 a la posición horizontal)."},
    {TOK_RIGHT, "`RIGHT`: dirección a la derecha (suma 16 a la posición horizontal)."},
    {TOK_TRUE, "`TRUE`: el valor lógico cierto, 1."},
    {TOK_FALSE, "`FALSE`: el valor lógico falso, 0."},
    {TOK_AND, "`AND` (o `&&`): 1 si los dos operandos son distintos de 0; si no, 0."},
    {TOK_OR, "`OR` (o `||`): 1 si alguno de los operandos es distinto de 0; si no, 0."},
    {TOK_NOT, "`NOT` (o `!`): 1 si el operando es 0; si no, 0."},
};

constexpr bool keyword_help_matches() {
    constexpr int n = sizeof(KEYWORD_TABLE) / sizeof(KEYWORD_TABLE[0]);
    if (sizeof(KEYWORD_HELP) / sizeof(KEYWORD_HELP[0]) != n) return false;
    for (int i = 0; i < n; i++) {
        if (KEYWORD_HELP[i].type != KEYWORD_TABLE[i].type) return false;
    }
    return true;
}
static_assert(keyword_help_matches());

// What each built-in returns, by built-in index.
inline constexpr const char* BUILTIN_HELP[] = {
    "1 si hay algún enemigo por encima de la nave, a menos de 30 unidades en horizontal; si no, 0.",
    "1 si hay algún enemigo por encima de la nave y a más de 16 unidades a su izquierda; si no, 0.",
    "1 si hay algún enemigo por encima de la nave y a más de 16 unidades a su derecha; si no, 0.",
    "un número entero al azar entre 0 y n-1 (con la parte entera de n); 0 si n es menor que 1.",
};
static_assert(sizeof(BUILTIN_HELP) / sizeof(BUILTIN_HELP[0]) == BUILTIN_COUNT);

// The parameter names of each built-in, by built-in index.
inline constexpr const char* BUILTIN_PARAMETER[] = {"", "", "", "n"};
static_assert(sizeof(BUILTIN_PARAMETER) / sizeof(BUILTIN_PARAMETER[0]) == BUILTIN_COUNT);

// What each reserved variable holds, by variable index.
inline constexpr const char* RESERVED_HELP[] = {
    "salud de la nave: empieza en 100 y nunca baja de 0.",     "puntuación de la partida.",
    "enemigos en el campo ahora mismo (0 entre dos oleadas).", "nivel de la partida, de 1 a 3.",
    "1 mientras el escudo está levantado, 0 si no.",           "ticks jugados, contando el actual.",
};
static_assert(sizeof(RESERVED_HELP) / sizeof(RESERVED_HELP[0]) == RESERVED_VARS);

}  // namespace prendax::lsp
