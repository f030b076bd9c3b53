// Lexer: one pass over the source text, no allocation. Every lexical problem is
// reported and the scan always goes on to the end, closing with an EOF token.
#include "compiler/lexer.h"

#include <cstdlib>
#include <cstring>

#include "compiler/context.h"
#include "compiler/diagnostics.h"
#include "compiler/text.h"

namespace prendax {

namespace {

constexpr const char* MSG_NUMBER_RANGE = "Número fuera de rango (máximo 1e6)";
constexpr const char* MSG_NAME_TOO_LONG = "Nombre demasiado largo (máximo %d caracteres)";
constexpr const char* MSG_TOO_MANY_TOKENS = "Demasiados tokens (máximo %d)";
constexpr const char* MSG_NO_STRINGS = "Las cadenas de texto no están soportadas en ZKV";
constexpr const char* MSG_UNKNOWN_CHAR = "Carácter no reconocido '%c'";

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
// The scan position: byte index, 1-based line and byte column.
struct Scan {
    CompilerContext* ctx;
    const char* src;
    int32_t pos;
    int32_t line;
    int32_t col;
};

char at(const Scan& s, int32_t offset = 0) { return s.src[s.pos + offset]; }

void step(Scan& s, int32_t bytes) {
    s.pos += bytes;
    s.col += bytes;
}

// Text up to, but not including, the next line feed or the end is skipped.
void skip_comment(Scan& s) {
    while (at(s) != '\0' && at(s) != '\n') step(s, 1);
}

// number -> digits with at most one '.', e.g. 12, 1., .5, 1.25
void lex_number(Scan& s) {
    char text[NUMBER_TEXT_MAX + 1];
    int32_t stored = 0;
    int32_t line = s.line;
    int32_t col = s.col;
    bool seen_dot = false;
    while (is_digit(at(s)) || (at(s) == '.' && !seen_dot)) {
        if (at(s) == '.') seen_dot = true;
        if (stored < NUMBER_TEXT_MAX) text[stored++] = at(s);
        step(s, 1);
    }
    text[stored] = '\0';
    double value = std::strtod(text, nullptr);
    if (value > MAX_NUMBER || value < -MAX_NUMBER) {
        add_diagnostic(s.ctx, PHASE_LEXICO, line, col, "%s", MSG_NUMBER_RANGE);
    }
    add_token(s.ctx, TOK_NUMERO, text, value, line, col);
}

TokenType keyword_or_identifier(const char* text) {
    for (const Keyword& k : KEYWORD_TABLE) {
        if (equals_ignore_case(text, k.word)) return k.type;
    }
    return TOK_IDENTIFICADOR;
}

// name -> (letter | '_') (letter | digit | '_')*
void lex_name(Scan& s) {
    char text[LEXEME_SIZE];
    int32_t stored = 0;
    int32_t line = s.line;
    int32_t col = s.col;
    while (is_letter(at(s)) || is_digit(at(s))) {
        if (stored < MAX_LEXEME) text[stored++] = at(s);
        step(s, 1);
    }
    text[stored] = '\0';
    if (stored > MAX_NAME_LENGTH) {
        add_diagnostic(s.ctx, PHASE_LEXICO, line, col, MSG_NAME_TOO_LONG, MAX_NAME_LENGTH);
    }
    add_token(s.ctx, keyword_or_identifier(text), text, 0.0, line, col);
}

// A quoted text is reported once and skipped up to its closing quote on the same line.
void skip_string(Scan& s) {
    add_diagnostic(s.ctx, PHASE_LEXICO, s.line, s.col, "%s", MSG_NO_STRINGS);
    step(s, 1);
    while (at(s) != '\0' && at(s) != '\n') {
        bool closing = at(s) == '"';
        step(s, 1);
        if (closing) break;
    }
}

struct Operator {
    const char* text;
    TokenType type;
};

// Two-byte operators first, so that "<=" wins over "<".
constexpr Operator OPERATORS[] = {
    {"<=", TOK_MENOR_IGUAL}, {">=", TOK_MAYOR_IGUAL}, {"==", TOK_IGUAL},    {"!=", TOK_DISTINTO}, {"&&", TOK_AND},
    {"||", TOK_OR},          {"<", TOK_MENOR},        {">", TOK_MAYOR},     {"!", TOK_NOT},       {"+", TOK_SUMA},
    {"-", TOK_RESTA},        {"*", TOK_MULT},         {"/", TOK_DIV},       {"%", TOK_MOD},       {"(", TOK_PAR_IZQ},
    {")", TOK_PAR_DER},      {"{", TOK_LLAVE_IZQ},    {"}", TOK_LLAVE_DER}, {",", TOK_COMA},
};

// Adds the operator at the position and returns 1, or returns 0 when none starts there.
int lex_operator(Scan& s) {
    for (const Operator& op : OPERATORS) {
        int32_t n = static_cast<int32_t>(std::strlen(op.text));
        if (at(s) != op.text[0] || (n == 2 && at(s, 1) != op.text[1])) continue;
        add_token(s.ctx, op.type, op.text, 0.0, s.line, s.col);
        step(s, n);
        return 1;
    }
    return 0;
}

}  // namespace

const char* token_type_name(int32_t type) { return table_name(TOKEN_TYPE_TABLE, type, "?"); }

void add_token(CompilerContext* ctx, TokenType type, const char* lexeme, double num, int32_t line, int32_t col) {
    if (type != TOK_EOF && ctx->tokenCount >= MAX_TOKENS - 1) {
        if (!ctx->tokenOverflow) {
            ctx->tokenOverflow = 1;
            add_diagnostic(ctx, PHASE_LEXICO, line, col, MSG_TOO_MANY_TOKENS, MAX_TOKENS);
        }
        return;
    }
    if (ctx->tokenCount >= MAX_TOKENS) return;
    Token& t = ctx->tokens[ctx->tokenCount++];
    t.type = type;
    t.line = line;
    t.col = col;
    t.num = num;
    std::size_t n = std::strlen(lexeme);
    if (n > static_cast<std::size_t>(MAX_LEXEME)) n = MAX_LEXEME;
    std::memcpy(t.lexeme, lexeme, n);
    t.lexeme[n] = '\0';
}

int lex_source(CompilerContext* ctx, const char* source) {
    ctx->tokenCount = 0;
    ctx->tokenOverflow = 0;
    Scan s{ctx, source != nullptr ? source : "", 0, 1, 1};
    for (;;) {
        char c = at(s);
        if (c == '\0') {
            add_token(ctx, TOK_EOF, "", 0.0, s.line, s.col);
            return ctx->tokenCount;
        }
        if (c == ' ' || c == '\t' || c == '\r') {
            step(s, 1);
        } else if (c == '\n') {
            s.pos++;
            s.line++;
            s.col = 1;
        } else if (c == '/' && at(s, 1) == '/') {
            skip_comment(s);
        } else if (is_digit(c) || (c == '.' && is_digit(at(s, 1)))) {
            lex_number(s);
        } else if (is_letter(c)) {
            lex_name(s);
        } else if (c == '"') {
            skip_string(s);
        } else if (!lex_operator(s)) {
            add_diagnostic(ctx, PHASE_LEXICO, s.line, s.col, MSG_UNKNOWN_CHAR, c);
            step(s, 1);
        }
    }
}

}  // namespace prendax
