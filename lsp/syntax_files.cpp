// prendax_syntax: writes the editor syntax files of ZKV from the lexer's
// keyword table, the built-in table and the reserved variables, so that the
// highlighting of an editor without the language server cannot drift from
// the compiler. Run by the build; its output is installed.
//
//   prendax_syntax OUT_DIR
//     OUT_DIR/vim/syntax/zkv.vim, OUT_DIR/vim/ftdetect/zkv.vim (Vim and Neovim)
//     OUT_DIR/textmate/zkv.tmLanguage.json (VS Code, Sublime Text, TextMate...)
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "compiler/lexer.h"
#include "compiler/sema.h"
#include "compiler/text.h"

namespace {

using namespace prendax;

// How each keyword is shown; the categories follow the token type's place in
// the lexer's enumeration.
enum Category { STATEMENT, CONDITIONAL, DIRECTION, BOOLEAN, LOGICAL, CATEGORY_COUNT };

struct CategoryRow {
    Category value;
    const char* vimGroup;
    const char* vimLink;
    const char* scope;
};

constexpr CategoryRow CATEGORY_TABLE[] = {
    {STATEMENT, "zkvStatement", "Statement", "keyword.control.zkv"},
    {CONDITIONAL, "zkvConditional", "Conditional", "keyword.control.conditional.zkv"},
    {DIRECTION, "zkvDirection", "Constant", "constant.language.direction.zkv"},
    {BOOLEAN, "zkvBoolean", "Boolean", "constant.language.boolean.zkv"},
    {LOGICAL, "zkvLogical", "Operator", "keyword.operator.logical.zkv"},
};
static_assert(table_is_dense(CATEGORY_TABLE) && sizeof(CATEGORY_TABLE) / sizeof(CATEGORY_TABLE[0]) == CATEGORY_COUNT);

constexpr Category category_of(TokenType t) {
    if (t == TOK_IF || t == TOK_ELSE) return CONDITIONAL;
    if (t >= TOK_UP && t <= TOK_RIGHT) return DIRECTION;
    if (t == TOK_TRUE || t == TOK_FALSE) return BOOLEAN;
    if (t == TOK_AND || t == TOK_OR || t == TOK_NOT) return LOGICAL;
    return STATEMENT;
}

constexpr bool every_keyword_placed() {
    return std::ranges::all_of(KEYWORD_TABLE, [](const Keyword& k) {
        return category_of(k.type) != STATEMENT || (k.type >= TOK_START && k.type <= TOK_WHILE);
    });
}
static_assert(every_keyword_placed(), "a new keyword needs a category in the syntax files");

std::vector<std::string> words_of(Category c) {
    std::vector<std::string> out;
    for (const Keyword& k : KEYWORD_TABLE) {
        if (category_of(k.type) == c) out.emplace_back(k.word);
    }
    return out;
}

// Reserved variables a program can read: `shield` is also a keyword.
std::vector<std::string> readable_reserved() {
    std::vector<std::string> out;
    for (const ReservedRow& reserved : RESERVED_TABLE) {
        const bool keyword = std::ranges::any_of(
            KEYWORD_TABLE, [&reserved](const Keyword& k) { return equals_ignore_case(reserved.name, k.word); });
        if (!keyword) out.emplace_back(reserved.name);
    }
    return out;
}

std::vector<std::string> builtins() {
    std::vector<std::string> out;
    for (const BuiltinRow& b : BUILTIN_TABLE) out.emplace_back(b.name);
    return out;
}

std::string join(const std::vector<std::string>& words, const char* separator) {
    std::string out;
    for (const std::string& w : words) out += (out.empty() ? "" : separator) + w;
    return out;
}

std::string vim_syntax() {
    std::string s =
        "\" Vim syntax file\n"
        "\" Language: ZKV, the robot language of PRENDAX\n"
        "\" Written by prendax_syntax from the compiler's keyword table: do not edit.\n"
        "if exists(\"b:current_syntax\")\n"
        "  finish\n"
        "endif\n\n"
        "\" Keywords and built-in functions ignore letter case; variable names do not.\n"
        "syntax case ignore\n";
    for (const CategoryRow& c : CATEGORY_TABLE) {
        s += "syntax keyword " + std::string(c.vimGroup) + " " + join(words_of(c.value), " ") + "\n";
    }
    s += "syntax match zkvBuiltin \"\\<\\(" + join(builtins(), "\\|") + "\\)\\>\\ze\\s*(\"\n";
    s += "syntax case match\n";
    s += "syntax keyword zkvReserved " + join(readable_reserved(), " ") + "\n";
    s += "syntax match zkvNumber \"\\<\\d\\+\\.\\=\\d*\"\n"
         "syntax match zkvNumber \"\\.\\d\\+\"\n"
         "syntax match zkvOperator \"[-+*/%<>=!&|]\"\n"
         "\" ZKV has no strings: a quoted text is an error up to its closing quote.\n"
         "syntax region zkvString start=+\"+ end=+\"+ end=+$+ oneline\n"
         "syntax match zkvComment \"//.*$\" contains=@Spell\n\n";
    for (const CategoryRow& c : CATEGORY_TABLE) {
        s += "highlight default link " + std::string(c.vimGroup) + " " + c.vimLink + "\n";
    }
    s += "highlight default link zkvBuiltin Function\n"
         "highlight default link zkvReserved Identifier\n"
         "highlight default link zkvNumber Number\n"
         "highlight default link zkvOperator Operator\n"
         "highlight default link zkvString Error\n"
         "highlight default link zkvComment Comment\n\n"
         "let b:current_syntax = \"zkv\"\n";
    return s;
}

std::string vim_ftdetect() { return "autocmd BufNewFile,BufRead *.zkv setfiletype zkv\n"; }

// A JSON string literal of a plain ASCII text.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string rule(const std::string& scope, const std::string& regex) {
    return "    { \"name\": " + quoted(scope) + ", \"match\": " + quoted(regex) + " }";
}

// A name ends where name characters end; it needs no boundary in front, since
// a longer name that contains it always matches further left.
constexpr const char* NAME_END = "(?![A-Za-z0-9_])";

std::string textmate() {
    std::vector<std::string> rules = {
        rule("comment.line.double-slash.zkv", "//.*$"),
        rule("invalid.illegal.string.zkv", "\"[^\"]*\"?"),
    };
    for (const CategoryRow& c : CATEGORY_TABLE) {
        rules.push_back(rule(c.scope, "(?i)(?:" + join(words_of(c.value), "|") + ")" + NAME_END));
    }
    rules.push_back(
        rule("support.function.builtin.zkv", "(?i)(?:" + join(builtins(), "|") + ")" + NAME_END + "(?=[ \\t]*\\()"));
    rules.push_back(rule("variable.language.reserved.zkv", "(?:" + join(readable_reserved(), "|") + ")" + NAME_END));
    rules.push_back(rule("entity.name.function.zkv", "[A-Za-z_][A-Za-z0-9_]*(?=[ \\t]*\\()"));
    rules.push_back(rule("variable.other.zkv", "[A-Za-z_][A-Za-z0-9_]*"));
    rules.push_back(rule("constant.numeric.zkv", "[0-9]+(?:\\.[0-9]*)?|\\.[0-9]+"));
    rules.push_back(rule("keyword.operator.logical.zkv", "&&|\\|\\||!(?!=)"));
    rules.push_back(rule("keyword.operator.comparison.zkv", "<=|>=|==|!=|<|>"));
    rules.push_back(rule("keyword.operator.arithmetic.zkv", "[-+*/%]"));
    rules.push_back(rule("punctuation.parenthesis.zkv", "[()]"));
    rules.push_back(rule("punctuation.section.block.zkv", "[{}]"));
    rules.push_back(rule("punctuation.separator.comma.zkv", ","));
    std::string s =
        "{\n"
        "  \"$comment\": \"Written by prendax_syntax from the compiler's keyword table: do not edit.\",\n"
        "  \"name\": \"ZKV\",\n"
        "  \"scopeName\": \"source.zkv\",\n"
        "  \"fileTypes\": [\"zkv\"],\n"
        "  \"patterns\": [\n";
    for (std::size_t i = 0; i < rules.size(); i++) s += rules[i] + (i + 1 < rules.size() ? ",\n" : "\n");
    return s + "  ]\n}\n";
}

// Written under a temporary name and renamed into place.
bool write_file(const std::filesystem::path& path, const std::string& text) {
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    const std::filesystem::path temporary = path.string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary);
        out << text;
        if (!out.flush()) return false;
    }
    std::filesystem::rename(temporary, path, ec);
    return !ec;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Uso: prendax_syntax CARPETA\n");
        return 2;
    }
    const std::filesystem::path out = argv[1];
    const bool ok = write_file(out / "vim" / "syntax" / "zkv.vim", vim_syntax()) &&
                    write_file(out / "vim" / "ftdetect" / "zkv.vim", vim_ftdetect()) &&
                    write_file(out / "textmate" / "zkv.tmLanguage.json", textmate());
    if (!ok) {
        std::fprintf(stderr, "No se pudo escribir en %s\n", argv[1]);
        return 1;
    }
    return 0;
}
