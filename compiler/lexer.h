// Lexer: turns the NUL-terminated source text into the token array of the
// compiler context, always ending it with an EOF token.
#pragma once

#include <cstdint>

#include "compiler/enum_table.h"
#include "compiler/limits.h"

namespace prendax {

enum TokenType : int32_t {
    TOK_EOF,
    TOK_NUMERO,
    TOK_IDENTIFICADOR,
    TOK_START,
    TOK_END,
    TOK_SET,
    TOK_MOVE,
    TOK_SHOOT,
    TOK_SHIELD,
    TOK_WAIT,
    TOK_REPEAT,
    TOK_WHILE,
    TOK_IF,
    TOK_ELSE,
    TOK_UP,
    TOK_DOWN,
    TOK_LEFT,
    TOK_RIGHT,
    TOK_TRUE,
    TOK_FALSE,
    TOK_SUMA,
    TOK_RESTA,
    TOK_MULT,
    TOK_DIV,
    TOK_MOD,
    TOK_MENOR,
    TOK_MAYOR,
    TOK_MENOR_IGUAL,
    TOK_MAYOR_IGUAL,
    TOK_IGUAL,
    TOK_DISTINTO,
    TOK_AND,
    TOK_OR,
    TOK_NOT,
    TOK_PAR_IZQ,
    TOK_PAR_DER,
    TOK_LLAVE_IZQ,
    TOK_LLAVE_DER,
    TOK_COMA,
};

struct TokenTypeRow {
    TokenType value;
    const char* name;
};

inline constexpr TokenTypeRow TOKEN_TYPE_TABLE[] = {
    {TOK_EOF, "EOF"},
    {TOK_NUMERO, "NUMERO"},
    {TOK_IDENTIFICADOR, "IDENTIFICADOR"},
    {TOK_START, "START"},
    {TOK_END, "END"},
    {TOK_SET, "SET"},
    {TOK_MOVE, "MOVE"},
    {TOK_SHOOT, "SHOOT"},
    {TOK_SHIELD, "SHIELD"},
    {TOK_WAIT, "WAIT"},
    {TOK_REPEAT, "REPEAT"},
    {TOK_WHILE, "WHILE"},
    {TOK_IF, "IF"},
    {TOK_ELSE, "ELSE"},
    {TOK_UP, "UP"},
    {TOK_DOWN, "DOWN"},
    {TOK_LEFT, "LEFT"},
    {TOK_RIGHT, "RIGHT"},
    {TOK_TRUE, "TRUE"},
    {TOK_FALSE, "FALSE"},
    {TOK_SUMA, "SUMA"},
    {TOK_RESTA, "RESTA"},
    {TOK_MULT, "MULT"},
    {TOK_DIV, "DIV"},
    {TOK_MOD, "MOD"},
    {TOK_MENOR, "MENOR"},
    {TOK_MAYOR, "MAYOR"},
    {TOK_MENOR_IGUAL, "MENOR_IGUAL"},
    {TOK_MAYOR_IGUAL, "MAYOR_IGUAL"},
    {TOK_IGUAL, "IGUAL"},
    {TOK_DISTINTO, "DISTINTO"},
    {TOK_AND, "AND"},
    {TOK_OR, "OR"},
    {TOK_NOT, "NOT"},
    {TOK_PAR_IZQ, "PAR_IZQ"},
    {TOK_PAR_DER, "PAR_DER"},
    {TOK_LLAVE_IZQ, "LLAVE_IZQ"},
    {TOK_LLAVE_DER, "LLAVE_DER"},
    {TOK_COMA, "COMA"},
};
inline constexpr int TOKEN_TYPE_COUNT = sizeof(TOKEN_TYPE_TABLE) / sizeof(TOKEN_TYPE_TABLE[0]);
static_assert(table_is_dense(TOKEN_TYPE_TABLE) && TOKEN_TYPE_COUNT == 39);

struct Keyword {
    const char* word;
    TokenType type;
};

// Searched in this order; the first entry equal to a name (ignoring ASCII case) wins.
inline constexpr Keyword KEYWORD_TABLE[] = {
    {"start", TOK_START},   {"end", TOK_END},     {"set", TOK_SET},       {"move", TOK_MOVE},   {"shoot", TOK_SHOOT},
    {"shield", TOK_SHIELD}, {"wait", TOK_WAIT},   {"repeat", TOK_REPEAT}, {"while", TOK_WHILE}, {"if", TOK_IF},
    {"else", TOK_ELSE},     {"up", TOK_UP},       {"down", TOK_DOWN},     {"left", TOK_LEFT},   {"right", TOK_RIGHT},
    {"true", TOK_TRUE},     {"false", TOK_FALSE}, {"and", TOK_AND},       {"or", TOK_OR},       {"not", TOK_NOT},
};
static_assert(sizeof(KEYWORD_TABLE) / sizeof(KEYWORD_TABLE[0]) == 20);

struct Token {
    TokenType type;
    int32_t line;
    int32_t col;
    double num;                // value of a NUMERO token, else 0
    char lexeme[LEXEME_SIZE];  // at most 47 bytes, NUL-terminated; empty for EOF
};

struct CompilerContext;

// "?" for any value outside the table.
const char* token_type_name(int32_t type);

// Scans the whole text, reports every lexical problem and returns tokenCount.
int lex_source(CompilerContext* ctx, const char* source);

// Appends one token; the 2048th token of the text is the first one refused.
void add_token(CompilerContext* ctx, TokenType type, const char* lexeme, double num, int32_t line, int32_t col);

}  // namespace prendax
