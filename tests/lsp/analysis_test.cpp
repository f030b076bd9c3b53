// The language server's analysis of a document: ranges, names, hover texts,
// completion, signatures, symbols, folds, semantic tokens and positions.
#include <gtest/gtest.h>

#include <string>

#include "lsp/analysis.h"
#include "lsp/positions.h"

using namespace prendax;
using namespace prendax::lsp;

namespace {

struct Doc {
    Analysis a;
    explicit Doc(const std::string& text) { analyse(a, text); }
    // The token that begins at the first occurrence of `text` on a line.
    int32_t at(int32_t line, const std::string& text) const {
        const std::size_t start = a.lines.starts[static_cast<std::size_t>(line)];
        const std::size_t found = a.text.find(text, start);
        return token_at(a, line, static_cast<int32_t>(found - start));
    }
};

}  // namespace

TEST(Analysis, DiagnosticRangesCoverTheTokenTheyAreAbout) {
    struct Case {
        const char* source;
        int32_t line, start, end;
        const char* message;
        const char* suggestion;
    };
    const Case cases[] = {
        {"SET x 1\nWAIT scroe + 1", 1, 5, 10, "Variable no definida 'scroe'. ¿Quiso decir 'score'?", "score"},
        {"IF enemy_ahed() { SHOOT }", 0, 3, 13, "Función desconocida 'enemy_ahed'. ¿Quiso decir 'enemy_ahead'?",
         "enemy_ahead"},
        {"SET a 10 / 0", 0, 9, 10, "División entre cero: el divisor es 0", ""},
        {"SET x 5\nIF x <= y { }", 1, 8, 9, "Variable no definida 'y'. ¿Quiso decir 'x'?", "x"},
        {"SET x (1 + 2", 0, 12, 12, "Se esperaba ')' pero se encontró el fin del archivo", ""},
        {"MOVE 1234 ", 0, 5, 9, "Se esperaba una dirección (UP, DOWN, LEFT o RIGHT) pero se encontró '1234'", ""},
        {"SET s \"hola\" + 1", 0, 6, 12, "Las cadenas de texto no están soportadas en ZKV", ""},
        {"SET x 1 || y == 2 && z", 0, 11, 12, "Variable no definida 'y'. ¿Quiso decir 'x'?", "x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        Doc d(c.source);
        const std::vector<DiagnosticItem> list = diagnostics(d.a);
        ASSERT_FALSE(list.empty());
        EXPECT_EQ(list[0].message, c.message);
        EXPECT_EQ(list[0].range.line, c.line);
        EXPECT_EQ(list[0].range.start, c.start);
        EXPECT_EQ(list[0].range.end, c.end);
        EXPECT_EQ(list[0].suggestion, c.suggestion);
    }
    // An accented letter outside a comment is two unrecognised bytes; each
    // range covers the whole letter, never half of it.
    Doc accent("SET é 1");
    const std::vector<DiagnosticItem> list = diagnostics(accent.a);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].range.start, 4);
    EXPECT_EQ(list[0].range.end, 6);
    EXPECT_EQ(list[1].range.start, 5);
    EXPECT_EQ(list[1].range.end, 6);
}

TEST(Analysis, VariablesCallsAndRenaming) {
    Doc d("SET cuenta 0\nWHILE cuenta < 3 { SET cuenta cuenta + random(2) }\nWAIT health\nSET x (1)\n");
    const int32_t use = d.at(1, "cuenta");
    ASSERT_GE(use, 0);
    EXPECT_TRUE(is_variable_token(d.a, use));
    EXPECT_EQ(first_set(d.a, "cuenta"), 1);
    EXPECT_EQ(variable_tokens(d.a, "cuenta").size(), 4u);
    EXPECT_FALSE(is_variable_token(d.a, d.at(1, "random")));
    // The name after SET is a variable even when a parenthesis follows it.
    EXPECT_TRUE(is_variable_token(d.a, d.at(3, "x")));
    EXPECT_EQ(rename_refusal(d.a, use), "");
    EXPECT_EQ(rename_refusal(d.a, d.at(2, "health")),
              "'health' es una variable reservada del juego: no se puede renombrar.");
    EXPECT_EQ(rename_refusal(d.a, d.at(1, "random")), "Solo se pueden renombrar variables del programa.");
    EXPECT_EQ(check_new_name(d.a, "cuenta", "vueltas"), "");
    EXPECT_EQ(check_new_name(d.a, "cuenta", "x"), "Ya existe una variable 'x'.");
    EXPECT_EQ(check_new_name(d.a, "cuenta", "while"), "'while' es una palabra clave de ZKV.");
    EXPECT_EQ(check_new_name(d.a, "cuenta", "score"), "'score' es una variable reservada del juego.");
    EXPECT_EQ(check_new_name(d.a, "cuenta", "2x"),
              "'2x' no es un nombre válido: usa letras sin acento, cifras y '_', sin empezar por cifra.");
    EXPECT_EQ(check_new_name(d.a, "cuenta", "año"),
              "'año' no es un nombre válido: usa letras sin acento, cifras y '_', sin empezar por cifra.");
    EXPECT_EQ(check_new_name(d.a, "cuenta", std::string(24, 'n')),
              "'" + std::string(24, 'n') + "' es demasiado largo (máximo 23 caracteres).");
}

TEST(Analysis, HoverTexts) {
    Doc d("SET lado random(2)\nIF lado == 0 { MOVE LEFT }\nWAIT ticks\n");
    EXPECT_EQ(hover_text(d.a, d.at(1, "lado"))
                  .rfind("Variable `lado`, creada en la línea 1:\n```zkv\nSET lado random(2)\n```", 0),
              0u);
    const std::string call = hover_text(d.a, d.at(0, "random"));
    EXPECT_NE(call.find("random(n)"), std::string::npos) << call;
    EXPECT_NE(call.find("1 argumento"), std::string::npos) << call;
    // The instructions of the line come from the compiled code.
    EXPECT_NE(call.find("Instrucciones de la línea 1:\n```\n0000  PUSH           2\n0001  CALL           random\n"
                        "0002  STORE          lado\n```"),
              std::string::npos)
        << call;
    EXPECT_EQ(hover_text(d.a, d.at(2, "ticks")).rfind("Variable reservada `ticks` (solo lectura)", 0), 0u);
    EXPECT_EQ(hover_text(d.a, d.at(1, "MOVE")).rfind("`MOVE UP|DOWN|LEFT|RIGHT`", 0), 0u);
    // Without compiled code there are no instructions to show.
    Doc broken("SET lado random(2)\nWAIT nada");
    EXPECT_EQ(hover_text(broken.a, broken.at(0, "SET")).find("Instrucciones"), std::string::npos);
}

TEST(Analysis, CompletionAndSignatures) {
    Doc d("SET vueltas 1\nMOVE \nWAIT random(vueltas, \n");
    const std::vector<CompletionEntry> afterMove = completions(d.a, 1, 5);
    ASSERT_EQ(afterMove.size(), 4u);
    EXPECT_EQ(afterMove[0].label, "UP");
    EXPECT_EQ(afterMove[3].label, "RIGHT");
    const std::vector<CompletionEntry> all = completions(d.a, 3, 0);
    auto has = [&](const std::string& label) {
        for (const CompletionEntry& e : all) {
            if (e.label == label) return true;
        }
        return false;
    };
    EXPECT_TRUE(has("REPEAT"));
    EXPECT_TRUE(has("random"));
    EXPECT_TRUE(has("enemies_left"));
    EXPECT_TRUE(has("vueltas"));
    EXPECT_FALSE(has("shield"));  // the keyword, not a name a program can read
    EXPECT_FALSE(has("UP"));
    const SignatureInfo inside = signature_at(d.a, 2, 12);
    EXPECT_EQ(inside.builtin, 3);
    EXPECT_EQ(inside.activeParameter, 0);
    EXPECT_EQ(signature_at(d.a, 2, 20).activeParameter, 1);
    EXPECT_EQ(signature_at(d.a, 2, 11).builtin, -1);  // before the parenthesis
    EXPECT_EQ(signature_at(d.a, 0, 5).builtin, -1);
    EXPECT_EQ(builtin_signature(3), "random(n)");
}

TEST(Analysis, SymbolsAndFolds) {
    Doc d("SET a 1\n// uno\n// dos\nWHILE a < 3 {\n  IF a { SHOOT }\n  ELSE {\n    SET b 2\n  }\n}\nREPEAT 2 { }\n");
    const std::vector<Symbol> s = document_symbols(d.a);
    ASSERT_EQ(s.size(), 4u);
    EXPECT_EQ(s[0].name, "a");
    EXPECT_TRUE(s[0].isVariable);
    EXPECT_EQ(s[1].name, "b");
    EXPECT_EQ(s[2].name, "WHILE a < 3");
    EXPECT_EQ(s[2].firstLine, 3);
    EXPECT_EQ(s[2].lastLine, 8);
    ASSERT_EQ(s[2].children.size(), 1u);
    EXPECT_EQ(s[2].children[0].name, "IF a");
    EXPECT_EQ(s[2].children[0].lastLine, 7);  // through the ELSE block
    EXPECT_EQ(s[3].name, "REPEAT 2");
    const std::vector<Fold> f = folding_ranges(d.a);
    ASSERT_EQ(f.size(), 3u);
    EXPECT_EQ(f[0].startLine, 3);
    EXPECT_EQ(f[0].endLine, 7);
    EXPECT_EQ(f[1].startLine, 5);
    EXPECT_EQ(f[1].endLine, 6);
    EXPECT_TRUE(f[2].comment);
    EXPECT_EQ(f[2].startLine, 1);
    EXPECT_EQ(f[2].endLine, 2);
}

TEST(Analysis, SemanticTokensFollowTheLexer) {
    Doc d("SET x health // ¿qué?\nIF enemy_left() { MOVE LEFT }\n\"no // es\" x");
    const std::vector<SemanticToken> t = semantic_tokens(d.a);
    ASSERT_EQ(t.size(), 9u);
    EXPECT_EQ(t[0].type, SEM_KEYWORD);
    EXPECT_EQ(t[1].type, SEM_VARIABLE);
    EXPECT_EQ(t[1].modifiers, SEM_MOD_DECLARATION);
    EXPECT_EQ(t[2].type, SEM_VARIABLE);
    EXPECT_EQ(t[2].modifiers, SEM_MOD_READONLY | SEM_MOD_DEFAULT_LIBRARY);
    EXPECT_EQ(t[3].type, SEM_COMMENT);
    EXPECT_EQ(t[3].range.start, 13);
    EXPECT_EQ(t[3].range.end, 23);  // bytes: ¿ and é take two each
    EXPECT_EQ(t[4].type, SEM_KEYWORD);
    EXPECT_EQ(t[5].type, SEM_FUNCTION);
    EXPECT_EQ(t[5].modifiers, SEM_MOD_DEFAULT_LIBRARY);
    EXPECT_EQ(t[6].type, SEM_KEYWORD);
    EXPECT_EQ(t[7].type, SEM_ENUM_MEMBER);
    // The // inside a quoted text is not a comment: only x follows on line 3.
    EXPECT_EQ(t[8].range.line, 2);
    EXPECT_EQ(t[8].type, SEM_VARIABLE);
    EXPECT_EQ(t[8].modifiers, 0);
}

TEST(Positions, Utf16AndUtf8Columns) {
    const std::string line = "SET x 1 // ñandú 😀 fin";
    const auto emoji = static_cast<int32_t>(line.find("😀"));
    EXPECT_EQ(units_from_bytes(line, emoji, Encoding::Utf16), 19 - 2);
    EXPECT_EQ(units_from_bytes(line, emoji + 4, Encoding::Utf16), 19);
    EXPECT_EQ(units_from_bytes(line, emoji, Encoding::Utf8), emoji);
    EXPECT_EQ(bytes_from_units(line, 17, Encoding::Utf16), emoji);
    EXPECT_EQ(bytes_from_units(line, 18, Encoding::Utf16), emoji);  // inside the pair: its first byte
    EXPECT_EQ(bytes_from_units(line, 19, Encoding::Utf16), emoji + 4);
    EXPECT_EQ(bytes_from_units(line, 1000, Encoding::Utf16), static_cast<int32_t>(line.size()));
    EXPECT_EQ(bytes_from_units(line, -3, Encoding::Utf16), 0);
    const auto enye = static_cast<int32_t>(line.find("ñ"));
    EXPECT_EQ(bytes_from_units(line, enye + 1, Encoding::Utf8), enye);  // never half a letter
    EXPECT_EQ(units_from_bytes(line, 1000, Encoding::Utf8), static_cast<int32_t>(line.size()));
}
