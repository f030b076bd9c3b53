// Lexer cases: each source with the tokens and the diagnostics it must give.
#include <gtest/gtest.h>

#include <string>

#include "compiler/context.h"
#include "compiler/lexer.h"
#include "compiler/text.h"

using namespace prendax;

namespace {

CompilerContext ctx;

void lex(const std::string& source) {
    ctx = CompilerContext{};
    lex_source(&ctx, source.c_str());
}

// "TYPE lexeme @line:col" for each token, separated by " | ".
std::string tokens_text() {
    std::string s;
    for (int i = 0; i < ctx.tokenCount; i++) {
        const Token& t = ctx.tokens[i];
        if (i) s += " | ";
        s += std::string(token_type_name(t.type)) + " " + t.lexeme + " @" + std::to_string(t.line) + ":" +
             std::to_string(t.col);
    }
    return s;
}

std::string diags_text() {
    std::string s;
    for (int i = 0; i < ctx.diagCount; i++) {
        const Diagnostic& d = ctx.diags[i];
        if (i) s += " | ";
        s += std::to_string(d.line) + ":" + std::to_string(d.col) + " " + d.message;
        EXPECT_EQ(d.phase, PHASE_LEXICO);
    }
    return s;
}

struct LexCase {
    const char* source;
    const char* tokens;
    const char* diags;
};

const LexCase LEX_CASES[] = {
    {"", "EOF  @1:1", ""},
    {"SHOOT", "SHOOT SHOOT @1:1 | EOF  @1:6", ""},
    {"SHOOT\n", "SHOOT SHOOT @1:1 | EOF  @2:1", ""},
    {"// solo un comentario", "EOF  @1:22", ""},
    {"SET x = 5", "SET SET @1:1 | IDENTIFICADOR x @1:5 | NUMERO 5 @1:9 | EOF  @1:10", "1:7 Carácter no reconocido '='"},
    {"x == 5", "IDENTIFICADOR x @1:1 | IGUAL == @1:3 | NUMERO 5 @1:6 | EOF  @1:7", ""},
    {"Repeat REPEAT repeat Health",
     "REPEAT Repeat @1:1 | REPEAT REPEAT @1:8 | REPEAT repeat @1:15 | IDENTIFICADOR Health @1:22 | EOF  @1:28", ""},
    {"a AND b and c && d",
     "IDENTIFICADOR a @1:1 | AND AND @1:3 | IDENTIFICADOR b @1:7 | AND and @1:9 | "
     "IDENTIFICADOR c @1:13 | AND && @1:15 | IDENTIFICADOR d @1:18 | EOF  @1:19",
     ""},
    {"or || not ! !=", "OR or @1:1 | OR || @1:4 | NOT not @1:7 | NOT ! @1:11 | DISTINTO != @1:13 | EOF  @1:15", ""},
    {"< <= > >=", "MENOR < @1:1 | MENOR_IGUAL <= @1:3 | MAYOR > @1:6 | MAYOR_IGUAL >= @1:8 | EOF  @1:10", ""},
    {"+-*/%(){},",
     "SUMA + @1:1 | RESTA - @1:2 | MULT * @1:3 | DIV / @1:4 | MOD % @1:5 | PAR_IZQ ( @1:6 | "
     "PAR_DER ) @1:7 | LLAVE_IZQ { @1:8 | LLAVE_DER } @1:9 | COMA , @1:10 | EOF  @1:11",
     ""},
    {"a / / b // c", "IDENTIFICADOR a @1:1 | DIV / @1:3 | DIV / @1:5 | IDENTIFICADOR b @1:7 | EOF  @1:13", ""},
    {"& | = .", "EOF  @1:8",
     "1:1 Carácter no reconocido '&' | 1:3 Carácter no reconocido '|' | 1:5 Carácter no reconocido '=' | "
     "1:7 Carácter no reconocido '.'"},
    // Numbers: no sign, at most one dot, a second dot begins the next number.
    {"1. .5 1.2.3", "NUMERO 1. @1:1 | NUMERO .5 @1:4 | NUMERO 1.2 @1:7 | NUMERO .3 @1:10 | EOF  @1:12", ""},
    {"1.e5", "NUMERO 1. @1:1 | IDENTIFICADOR e5 @1:3 | EOF  @1:5", ""},
    {"-5 2x", "RESTA - @1:1 | NUMERO 5 @1:2 | NUMERO 2 @1:4 | IDENTIFICADOR x @1:5 | EOF  @1:6", ""},
    {"1000000 1000001", "NUMERO 1000000 @1:1 | NUMERO 1000001 @1:9 | EOF  @1:16",
     "1:9 Número fuera de rango (máximo 1e6)"},
    {"1000000.5", "NUMERO 1000000.5 @1:1 | EOF  @1:10", "1:1 Número fuera de rango (máximo 1e6)"},
    // Strings are reported once and skipped to the closing quote or the line end.
    {"x = \"hola\" + y", "IDENTIFICADOR x @1:1 | SUMA + @1:12 | IDENTIFICADOR y @1:14 | EOF  @1:15",
     "1:3 Carácter no reconocido '=' | 1:5 Las cadenas de texto no están soportadas en ZKV"},
    {"\"sin cierre\nSHOOT", "SHOOT SHOOT @2:1 | EOF  @2:6", "1:1 Las cadenas de texto no están soportadas en ZKV"},
    {"\"\xC3\xA9\" // \xC3\xA9", "EOF  @1:11", "1:1 Las cadenas de texto no están soportadas en ZKV"},
    // Columns count bytes: tabs, carriage returns and each byte of a UTF-8 letter.
    {"\tSHOOT\r\nWAIT", "SHOOT SHOOT @1:2 | WAIT WAIT @2:1 | EOF  @2:5", ""},
    {"x\xC3\xA9y", "IDENTIFICADOR x @1:1 | IDENTIFICADOR y @1:4 | EOF  @1:5",
     "1:2 Carácter no reconocido '\xC3' | 1:3 Carácter no reconocido '\xA9'"},
    {"#$'; \x01\x7F", "EOF  @1:8",
     "1:1 Carácter no reconocido '#' | 1:2 Carácter no reconocido '$' | 1:3 Carácter no reconocido ''' | "
     "1:4 Carácter no reconocido ';' | 1:6 Carácter no reconocido '\x01' | 1:7 Carácter no reconocido '\x7F'"},
    // Names: 23 bytes are fine, 24 are reported and still become a token.
    {"abcdefghijklmnopqrstuvw", "IDENTIFICADOR abcdefghijklmnopqrstuvw @1:1 | EOF  @1:24", ""},
    {"abcdefghijklmnopqrstuvwx", "IDENTIFICADOR abcdefghijklmnopqrstuvwx @1:1 | EOF  @1:25",
     "1:1 Nombre demasiado largo (máximo 23 caracteres)"},
};

}  // namespace

TEST(Lexer, TokensAndDiagnostics) {
    for (const LexCase& c : LEX_CASES) {
        SCOPED_TRACE(c.source);
        lex(c.source);
        EXPECT_EQ(tokens_text(), c.tokens);
        EXPECT_EQ(diags_text(), c.diags);
    }
}

TEST(Lexer, NumberValuesAsStrtodReadsThem) {
    lex("1. .5 1.2.3 0.1 1000000.5 007");
    const double expected[] = {1.0, 0.5, 1.2, 0.3, 0.1, 1000000.5, 7.0};
    ASSERT_EQ(ctx.tokenCount, 8);
    for (int i = 0; i < 7; i++) EXPECT_EQ(ctx.tokens[i].num, expected[i]) << i;
    EXPECT_EQ(ctx.tokens[7].num, 0.0);
}

TEST(Lexer, LongTextsAreCutInTheLexeme) {
    std::string name(60, 'a');
    lex(name);
    ASSERT_EQ(ctx.tokenCount, 2);
    EXPECT_EQ(std::string(ctx.tokens[0].lexeme), std::string(47, 'a'));
    EXPECT_EQ(ctx.tokens[1].col, 61);
    EXPECT_EQ(diags_text(), "1:1 Nombre demasiado largo (máximo 23 caracteres)");

    // Only the first 63 digits are converted; the rest are consumed and dropped.
    std::string digits = "1" + std::string(69, '0');
    lex(digits);
    ASSERT_EQ(ctx.tokenCount, 2);
    EXPECT_EQ(std::string(ctx.tokens[0].lexeme), digits.substr(0, 47));
    EXPECT_EQ(ctx.tokens[0].num, 1e62);
    EXPECT_EQ(ctx.tokens[1].col, 71);
    EXPECT_EQ(diags_text(), "1:1 Número fuera de rango (máximo 1e6)");
}

TEST(Lexer, DemoProgram) {
    lex("// Demo incluida en prendax.exe\nSTART\nREPEAT 4 { SHOOT WAIT 8 MOVE RIGHT }\n"
        "REPEAT 4 { SHOOT WAIT 8 MOVE LEFT }\nWHILE health > 0 {\n  IF enemy_ahead() { SHOOT }\n"
        "  WAIT 3\n}\nEND\n");
    EXPECT_EQ(ctx.diagCount, 0);
    ASSERT_EQ(ctx.tokenCount, 36);
    EXPECT_EQ(ctx.tokens[35].type, TOK_EOF);
    EXPECT_EQ(ctx.tokens[35].line, 10);
    EXPECT_EQ(ctx.tokens[35].col, 1);
    struct Expected {
        TokenType type;
        int col;
    };
    const Expected line3[] = {{TOK_REPEAT, 1}, {TOK_NUMERO, 8}, {TOK_LLAVE_IZQ, 10},
                              {TOK_SHOOT, 12}, {TOK_WAIT, 18},  {TOK_NUMERO, 23},
                              {TOK_MOVE, 25},  {TOK_RIGHT, 30}, {TOK_LLAVE_DER, 36}};
    for (int i = 0; i < 9; i++) {
        const Token& t = ctx.tokens[1 + i];
        EXPECT_EQ(t.type, line3[i].type) << i;
        EXPECT_EQ(t.line, 3) << i;
        EXPECT_EQ(t.col, line3[i].col) << i;
    }
}

TEST(Lexer, TokenCapKeeps2047TokensAndEof) {
    std::string source;
    for (int i = 0; i < 3000; i++) source += "+";
    lex(source);
    ASSERT_EQ(ctx.tokenCount, MAX_TOKENS);
    EXPECT_EQ(ctx.tokens[2046].type, TOK_SUMA);
    EXPECT_EQ(ctx.tokens[2047].type, TOK_EOF);
    EXPECT_EQ(ctx.tokens[2047].col, 3001);
    EXPECT_EQ(diags_text(), "1:2048 Demasiados tokens (máximo 2048)");

    // 2047 tokens exactly: nothing is refused.
    lex(source.substr(0, 2047));
    EXPECT_EQ(ctx.tokenCount, MAX_TOKENS);
    EXPECT_EQ(ctx.diagCount, 0);
}

TEST(Lexer, DiagnosticListKeepsTheFirst32) {
    std::string source;
    for (int i = 0; i < 40; i++) source += (i < 20 ? "#" : "$");
    lex(source);
    ASSERT_EQ(ctx.diagCount, MAX_DIAGNOSTICS);
    for (int i = 0; i < MAX_DIAGNOSTICS; i++) {
        EXPECT_EQ(ctx.diags[i].col, i + 1);
        EXPECT_EQ(std::string(ctx.diags[i].message),
                  std::string("Carácter no reconocido '") + (i < 20 ? "#" : "$") + "'");
    }
    EXPECT_EQ(ctx.tokenCount, 1);
}

TEST(Lexer, EqualsIgnoreCaseFoldsOnlyAsciiLetters) {
    EXPECT_EQ(equals_ignore_case("START", "start"), 1);
    EXPECT_EQ(equals_ignore_case("Enemy_Ahead", "enemy_ahead"), 1);
    EXPECT_EQ(equals_ignore_case("star", "start"), 0);
    EXPECT_EQ(equals_ignore_case("start", "star"), 0);
    EXPECT_EQ(equals_ignore_case("\xC3\x89", "\xC3\xA9"), 0);
    EXPECT_EQ(equals_ignore_case("[", "{"), 0);
    EXPECT_EQ(equals_ignore_case("", ""), 1);
}

TEST(Lexer, TokenTypeNames) {
    EXPECT_STREQ(token_type_name(TOK_EOF), "EOF");
    EXPECT_STREQ(token_type_name(TOK_COMA), "COMA");
    EXPECT_STREQ(token_type_name(39), "?");
    EXPECT_STREQ(token_type_name(-1), "?");
}
