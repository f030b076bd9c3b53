// The language server's view of one document, built from the engine's own
// compile: the lexer's tokens, the diagnostics of the failing phase, the
// syntax tree and the code. Positions stay in source lines and bytes here.
#include "lsp/analysis.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "compiler/bytecode.h"
#include "compiler/pipeline.h"
#include "compiler/text.h"
#include "lsp/help_text.h"

namespace prendax::lsp {

namespace {

bool is_name_byte(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Bytes of the UTF-8 character that starts with `lead` (1 for a stray byte).
int utf8_length(unsigned char lead) {
    if (lead >= 0xF0 && lead < 0xF8) return 4;
    if (lead >= 0xE0) return lead < 0xF0 ? 3 : 1;
    if (lead >= 0xC0) return 2;
    return 1;
}

const Token& token(const Analysis& a, int32_t i) { return a.ctx->tokens[i]; }
int32_t token_count(const Analysis& a) { return clamp_count(a.ctx->tokenCount, MAX_TOKENS); }

// The brace that closes or opens each brace token, by a stack over the tokens.
void match_braces(Analysis& a) {
    const int32_t n = token_count(a);
    a.braceMatch.assign(static_cast<std::size_t>(n), -1);
    std::vector<int32_t> open;
    for (int32_t i = 0; i < n; i++) {
        if (token(a, i).type == TOK_LLAVE_IZQ) open.push_back(i);
        if (token(a, i).type == TOK_LLAVE_DER && !open.empty()) {
            a.braceMatch[static_cast<std::size_t>(i)] = open.back();
            a.braceMatch[static_cast<std::size_t>(open.back())] = i;
            open.pop_back();
        }
    }
}

// The name proposed by a "¿Quiso decir '%s'?" message, or empty.
std::string suggestion_of(const char* message) {
    static constexpr const char* ASK = "¿Quiso decir '";
    const char* at = std::strstr(message, ASK);
    if (at == nullptr) return "";
    at += std::strlen(ASK);
    const char* close = std::strchr(at, '\'');
    if (close == nullptr) return "";
    return {at, close};
}

bool is_call_token(const Analysis& a, int32_t i) {
    if (token(a, i).type != TOK_IDENTIFICADOR) return false;
    const bool afterSet = i > 0 && token(a, i - 1).type == TOK_SET;
    return !afterSet && i + 1 < token_count(a) && token(a, i + 1).type == TOK_PAR_IZQ;
}

// The text of one source line, without its line feed.
std::string line_text(const Analysis& a, int32_t line) {
    if (line < 0 || static_cast<std::size_t>(line) >= a.lines.starts.size()) return "";
    return a.text.substr(a.lines.starts[static_cast<std::size_t>(line)], line_length(a.lines, a.text, line));
}

std::string trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

// The listing lines of the instructions that a source line compiled to.
std::string instructions_of_line(const Analysis& a, int32_t line1) {
    const CompileResult& r = *a.result;
    if (!r.ok) return "";
    std::string out;
    const int32_t n = clamp_count(r.codeCount, MAX_CODE);
    for (int32_t i = 0; i < n; i++) {
        const Instruction& ins = r.code[i];
        if (ins.line != static_cast<int16_t>(line1)) continue;
        char operand[OPERAND_TEXT_SIZE];
        operand_text(&r, &ins, operand);
        char row[LISTING_LINE_SIZE];
        if (operand[0] != '\0') {
            std::snprintf(row, sizeof row, "%04d  %-14s %s\n", static_cast<int>(i), opcode_name(ins.op), operand);
        } else {
            std::snprintf(row, sizeof row, "%04d  %s\n", static_cast<int>(i), opcode_name(ins.op));
        }
        out += row;
    }
    return out;
}

std::string keyword_help(TokenType type) {
    for (const KeywordHelp& k : KEYWORD_HELP) {
        if (k.type == type) return k.text;
    }
    return "";
}

int32_t reserved_index(const char* name) {
    for (int32_t i = 0; i < RESERVED_VARS; i++) {
        if (std::strcmp(RESERVED_TABLE[i].name, name) == 0) return i;
    }
    return -1;
}

}  // namespace

LineTable make_line_table(const std::string& text) {
    LineTable t;
    t.starts.push_back(0);
    for (std::size_t i = 0; i < text.size(); i++) {
        if (text[i] == '\n') t.starts.push_back(i + 1);
    }
    return t;
}

std::size_t line_length(const LineTable& lines, const std::string& text, int32_t line) {
    if (line < 0 || static_cast<std::size_t>(line) >= lines.starts.size()) return 0;
    const std::size_t start = lines.starts[static_cast<std::size_t>(line)];
    const std::size_t next = static_cast<std::size_t>(line) + 1 < lines.starts.size()
                                 ? lines.starts[static_cast<std::size_t>(line) + 1] - 1
                                 : text.size();
    return next - start;
}

void analyse(Analysis& a, const std::string& text) {
    a.text = text;
    a.lines = make_line_table(a.text);
    compile_source(a.text.c_str(), a.result.get(), a.ctx.get());
    match_braces(a);
}

namespace {

// The end of the number that starts at from: digits with at most one dot.
std::size_t number_end(const std::string& s, std::size_t from, std::size_t lineEnd) {
    std::size_t to = from;
    bool dot = false;
    while (to < lineEnd && (is_digit(s[to]) || (s[to] == '.' && !dot))) {
        if (s[to] == '.') dot = true;
        to++;
    }
    return to;
}

// A two-byte operator (<= >= == != && ||) starts at from.
bool two_byte_operator_at(const std::string& s, std::size_t from, std::size_t lineEnd) {
    const char c = s[from];
    return from + 1 < lineEnd && std::strchr("<>=!&|", c) != nullptr &&
           ((s[from + 1] == '=' && std::strchr("<>=!", c) != nullptr) || (c == '&' && s[from + 1] == '&') ||
            (c == '|' && s[from + 1] == '|'));
}

// The end of the piece of text (name, number, string, operator or one
// character) that starts at from, which lies before lineEnd.
std::size_t piece_end(const std::string& s, std::size_t from, std::size_t lineEnd) {
    const char c = s[from];
    std::size_t to = from;
    if (is_name_byte(c) && !is_digit(c)) {
        while (to < lineEnd && is_name_byte(s[to])) to++;
    } else if (is_digit(c) || (c == '.' && from + 1 < lineEnd && is_digit(s[from + 1]))) {
        to = number_end(s, from, lineEnd);
    } else if (c == '"') {
        to++;
        while (to < lineEnd && s[to] != '"') to++;
        if (to < lineEnd) to++;
    } else if (two_byte_operator_at(s, from, lineEnd)) {
        to += 2;
    } else if (c != '\0') {
        to += static_cast<std::size_t>(utf8_length(static_cast<unsigned char>(c)));
        if (to > lineEnd) to = lineEnd;
    }
    return to;
}

}  // namespace

ByteRange extent_at(const Analysis& a, int32_t line1, int32_t col1) {
    ByteRange r;
    if (line1 < 1 || col1 < 1 || static_cast<std::size_t>(line1) > a.lines.starts.size()) return r;
    r.line = line1 - 1;
    const std::size_t lineStart = a.lines.starts[static_cast<std::size_t>(r.line)];
    const std::size_t lineEnd = lineStart + line_length(a.lines, a.text, r.line);
    std::size_t from = lineStart + static_cast<std::size_t>(col1 - 1);
    if (from > lineEnd) from = lineEnd;
    const std::size_t to = from < lineEnd ? piece_end(a.text, from, lineEnd) : from;
    r.start = static_cast<int32_t>(from - lineStart);
    r.end = static_cast<int32_t>(to - lineStart);
    return r;
}

ByteRange token_range(const Analysis& a, int32_t index) {
    const Token& t = token(a, index);
    return extent_at(a, t.line, t.col);
}

int32_t token_at(const Analysis& a, int32_t line, int32_t byteCol) {
    int32_t touching = -1;
    const int32_t n = token_count(a);
    for (int32_t i = 0; i < n; i++) {
        if (token(a, i).type == TOK_EOF || token(a, i).line - 1 != line) continue;
        const ByteRange r = token_range(a, i);
        if (r.start <= byteCol && byteCol < r.end) return i;
        if (r.end == byteCol && r.end > r.start) touching = i;
    }
    return touching;
}

std::vector<DiagnosticItem> diagnostics(const Analysis& a) {
    std::vector<DiagnosticItem> out;
    const CompileResult& r = *a.result;
    const int32_t n = clamp_count(r.errorCount, MAX_DIAGNOSTICS);
    for (int32_t i = 0; i < n; i++) {
        const Diagnostic& d = r.errors[i];
        DiagnosticItem item;
        item.range = extent_at(a, d.line, d.col);
        item.phase = d.phase;
        item.message.assign(d.message, strnlen(d.message, MESSAGE_SIZE));
        item.suggestion = suggestion_of(item.message.c_str());
        out.push_back(item);
    }
    return out;
}

bool is_reserved_name(const char* name) { return reserved_index(name) >= 0; }

int32_t builtin_index(const char* name) {
    for (int32_t i = 0; i < BUILTIN_COUNT; i++) {
        if (equals_ignore_case(name, BUILTIN_TABLE[i].name)) return i;
    }
    return -1;
}

bool is_keyword(const char* name) {
    return std::ranges::any_of(KEYWORD_TABLE, [name](const Keyword& k) { return equals_ignore_case(name, k.word); });
}

bool is_variable_token(const Analysis& a, int32_t index) {
    return index >= 0 && index < token_count(a) && token(a, index).type == TOK_IDENTIFICADOR &&
           !is_call_token(a, index);
}

int32_t first_set(const Analysis& a, const char* name) {
    const int32_t n = token_count(a);
    for (int32_t i = 1; i < n; i++) {
        if (token(a, i - 1).type == TOK_SET && token(a, i).type == TOK_IDENTIFICADOR &&
            std::strcmp(token(a, i).lexeme, name) == 0) {
            return i;
        }
    }
    return -1;
}

std::vector<int32_t> variable_tokens(const Analysis& a, const char* name) {
    std::vector<int32_t> out;
    const int32_t n = token_count(a);
    for (int32_t i = 0; i < n; i++) {
        if (is_variable_token(a, i) && std::strcmp(token(a, i).lexeme, name) == 0) out.push_back(i);
    }
    return out;
}

std::string rename_refusal(const Analysis& a, int32_t index) {
    if (!is_variable_token(a, index)) return "Solo se pueden renombrar variables del programa.";
    const char* name = token(a, index).lexeme;
    if (is_reserved_name(name)) {
        return std::string("'") + name + "' es una variable reservada del juego: no se puede renombrar.";
    }
    if (first_set(a, name) < 0) {
        return std::string("'") + name + "' no es una variable del programa: ningún SET la crea.";
    }
    return "";
}

std::string check_new_name(const Analysis& a, const std::string& oldName, const std::string& newName) {
    const std::string quoted = "'" + newName + "'";
    if (newName.empty()) return "El nombre nuevo está vacío.";
    if (!is_name_byte(newName[0]) || is_digit(newName[0]) ||
        !std::all_of(newName.begin(), newName.end(), is_name_byte)) {
        return quoted + " no es un nombre válido: usa letras sin acento, cifras y '_', sin empezar por cifra.";
    }
    if (newName.size() > static_cast<std::size_t>(MAX_NAME_LENGTH)) {
        return quoted + " es demasiado largo (máximo " + std::to_string(MAX_NAME_LENGTH) + " caracteres).";
    }
    if (is_keyword(newName.c_str())) return quoted + " es una palabra clave de ZKV.";
    if (is_reserved_name(newName.c_str())) return quoted + " es una variable reservada del juego.";
    if (newName != oldName && first_set(a, newName.c_str()) >= 0) return "Ya existe una variable " + quoted + ".";
    return "";
}

std::string builtin_signature(int32_t builtin) {
    if (builtin < 0 || builtin >= BUILTIN_COUNT) return "";
    return std::string(BUILTIN_TABLE[builtin].name) + "(" + BUILTIN_PARAMETER[builtin] + ")";
}

std::string builtin_description(int32_t builtin) {
    if (builtin < 0 || builtin >= BUILTIN_COUNT) return "";
    const int32_t arity = BUILTIN_TABLE[builtin].arity;
    return "Función integrada, " + std::to_string(arity) + (arity == 1 ? " argumento" : " argumentos") + ". Devuelve " +
           BUILTIN_HELP[builtin];
}

std::string hover_text(const Analysis& a, int32_t index) {
    if (index < 0 || index >= token_count(a)) return "";
    const Token& t = token(a, index);
    std::string text;
    if (t.type == TOK_IDENTIFICADOR && is_call_token(a, index)) {
        const int32_t b = builtin_index(t.lexeme);
        text = b >= 0 ? "```zkv\n" + builtin_signature(b) + "\n```\n" + builtin_description(b)
                      : std::string("Función desconocida '") + t.lexeme + "'.";
    } else if (t.type == TOK_IDENTIFICADOR) {
        const int32_t reserved = reserved_index(t.lexeme);
        const int32_t def = first_set(a, t.lexeme);
        if (reserved >= 0) {
            text = std::string("Variable reservada `") + t.lexeme + "` (solo lectura): " + RESERVED_HELP[reserved];
        } else if (def >= 0) {
            const int32_t line = token(a, def).line;
            text = std::string("Variable `") + t.lexeme + "`, creada en la línea " + std::to_string(line) +
                   ":\n```zkv\n" + trim(line_text(a, line - 1)) + "\n```";
        } else {
            text = std::string("Variable `") + t.lexeme + "` sin definir: ningún SET la crea.";
        }
    } else if (t.type == TOK_NUMERO) {
        char value[64];
        std::snprintf(value, sizeof value, "%g", t.num);
        text = std::string("Número ") + value + ".";
    } else {
        text = keyword_help(t.type);
    }
    if (text.empty()) return "";
    const std::string code = instructions_of_line(a, t.line);
    if (!code.empty()) text += "\n\nInstrucciones de la línea " + std::to_string(t.line) + ":\n```\n" + code + "```";
    return text;
}

namespace {

// The last token that ends before the cursor, or -1.
int32_t token_before(const Analysis& a, int32_t line, int32_t byteCol) {
    int32_t before = -1;
    const int32_t n = token_count(a);
    for (int32_t i = 0; i < n; i++) {
        const Token& t = token(a, i);
        if (t.type == TOK_EOF) break;
        const ByteRange r = token_range(a, i);
        if (r.line > line || (r.line == line && r.end >= byteCol)) break;
        before = i;
    }
    return before;
}

// The keywords, in capitals: only the directions after MOVE, all the others elsewhere.
void add_keyword_entries(std::vector<CompletionEntry>& out, bool afterMove) {
    for (const Keyword& k : KEYWORD_TABLE) {
        const bool direction = k.type >= TOK_UP && k.type <= TOK_RIGHT;
        if (afterMove != direction) continue;
        std::string word = k.word;
        std::transform(word.begin(), word.end(), word.begin(), [](char c) { return static_cast<char>(c - 'a' + 'A'); });
        const ItemKind kind =
            k.type >= TOK_AND ? ItemKind::Operator : (direction ? ItemKind::Constant : ItemKind::Keyword);
        out.push_back({word, kind, "palabra clave", keyword_help(k.type), word});
    }
}

// The built-in functions and the reserved variables a program can name.
void add_builtin_entries(std::vector<CompletionEntry>& out) {
    for (int32_t b = 0; b < BUILTIN_COUNT; b++) {
        out.push_back({BUILTIN_TABLE[b].name, ItemKind::Function, builtin_signature(b), builtin_description(b),
                       std::string(BUILTIN_TABLE[b].name) + (BUILTIN_TABLE[b].arity == 0 ? "()" : "(")});
    }
    for (int32_t v = 0; v < RESERVED_VARS; v++) {
        // `shield` is also a keyword, so a program cannot name that variable.
        if (is_keyword(RESERVED_TABLE[v].name)) continue;
        out.push_back({RESERVED_TABLE[v].name, ItemKind::Variable, "variable reservada (solo lectura)",
                       RESERVED_HELP[v], RESERVED_TABLE[v].name});
    }
}

// The program's own variables, once each, where SET first creates them.
void add_variable_entries(const Analysis& a, std::vector<CompletionEntry>& out) {
    const int32_t n = token_count(a);
    std::vector<std::string> seen;
    for (int32_t i = 1; i < n; i++) {
        if (token(a, i - 1).type != TOK_SET || token(a, i).type != TOK_IDENTIFICADOR) continue;
        const std::string name = token(a, i).lexeme;
        if (is_reserved_name(name.c_str()) || std::find(seen.begin(), seen.end(), name) != seen.end()) continue;
        seen.push_back(name);
        out.push_back(
            {name, ItemKind::Variable, "variable, creada en la línea " + std::to_string(token(a, i).line), "", name});
    }
}

}  // namespace

std::vector<CompletionEntry> completions(const Analysis& a, int32_t line, int32_t byteCol) {
    std::vector<CompletionEntry> out;
    // The token before the cursor decides: after MOVE only a direction fits.
    const int32_t before = token_before(a, line, byteCol);
    const bool afterMove = before >= 0 && token(a, before).type == TOK_MOVE;
    add_keyword_entries(out, afterMove);
    if (afterMove) return out;
    add_builtin_entries(out);
    add_variable_entries(a, out);
    return out;
}

SignatureInfo signature_at(const Analysis& a, int32_t line, int32_t byteCol) {
    SignatureInfo info;
    // The tokens before the cursor, walked back to an unclosed parenthesis.
    std::vector<int32_t> before;
    const int32_t n = token_count(a);
    for (int32_t i = 0; i < n && token(a, i).type != TOK_EOF; i++) {
        const ByteRange r = token_range(a, i);
        if (r.line > line || (r.line == line && r.start >= byteCol)) break;
        before.push_back(i);
    }
    int32_t depth = 0;
    int32_t commas = 0;
    for (std::size_t k = before.size(); k > 0; k--) {
        const int32_t at = before[k - 1];
        const TokenType type = token(a, at).type;
        if (type == TOK_PAR_DER) depth++;
        if (type == TOK_COMA && depth == 0) commas++;
        if (type == TOK_PAR_IZQ) {
            if (depth > 0) {
                depth--;
                continue;
            }
            if (at > 0 && is_call_token(a, at - 1)) {
                info.builtin = builtin_index(token(a, at - 1).lexeme);
                info.activeParameter = commas;
            }
            return info;
        }
        // A statement keyword ends the search: calls never span statements.
        if (type >= TOK_START && type <= TOK_ELSE) return info;
    }
    return info;
}

namespace {

int32_t token_index_at(const Analysis& a, int32_t line1, int32_t col1) {
    const int32_t n = token_count(a);
    for (int32_t i = 0; i < n; i++) {
        if (token(a, i).line == line1 && token(a, i).col == col1) return i;
    }
    return -1;
}

// The closing brace of a block node, or -1 when the block is not closed.
int32_t block_end(const Analysis& a, const StmtNode* block) {
    if (block == nullptr) return -1;
    const int32_t open = token_index_at(a, block->line, block->col);
    if (open < 0) return -1;
    return a.braceMatch[static_cast<std::size_t>(open)];
}

void collect_blocks(const Analysis& a, const StmtNode* first, std::vector<Symbol>& out);

Symbol block_symbol(const Analysis& a, const StmtNode* s) {
    Symbol sym;
    const int32_t keyword = token_index_at(a, s->line, s->col);
    sym.selection = extent_at(a, s->line, s->col);
    sym.firstLine = s->line - 1;
    // The header as written, from the keyword to the opening brace.
    const std::string line = line_text(a, s->line - 1);
    std::string header = line.substr(static_cast<std::size_t>(sym.selection.start));
    const auto brace = header.find('{');
    if (brace != std::string::npos) header = header.substr(0, brace);
    sym.name = trim(header);
    if (sym.name.empty() && keyword >= 0) sym.name = token(a, keyword).lexeme;
    int32_t close = block_end(a, s->elseBody != nullptr ? s->elseBody : s->body);
    if (close < 0) close = token_count(a) - 1;
    const ByteRange end = token_range(a, close);
    sym.lastLine = end.line;
    sym.lastLineEnd = end.end;
    sym.detail = "líneas " + std::to_string(sym.firstLine + 1) + "-" + std::to_string(sym.lastLine + 1);
    if (s->body != nullptr) collect_blocks(a, s->body->body, sym.children);
    if (s->elseBody != nullptr) collect_blocks(a, s->elseBody->body, sym.children);
    return sym;
}

void collect_blocks(const Analysis& a, const StmtNode* first, std::vector<Symbol>& out) {
    for (const StmtNode* s = first; s != nullptr; s = s->next) {
        if (s->kind == STMT_REPEAT || s->kind == STMT_WHILE || s->kind == STMT_IF) out.push_back(block_symbol(a, s));
        if (s->kind == STMT_BLOQUE) collect_blocks(a, s->body, out);
    }
}

}  // namespace

std::vector<Symbol> document_symbols(const Analysis& a) {
    std::vector<Symbol> out;
    const int32_t n = token_count(a);
    std::vector<std::string> seen;
    for (int32_t i = 1; i < n; i++) {
        if (token(a, i - 1).type != TOK_SET || token(a, i).type != TOK_IDENTIFICADOR) continue;
        const std::string name = token(a, i).lexeme;
        if (std::find(seen.begin(), seen.end(), name) != seen.end()) continue;
        seen.push_back(name);
        Symbol sym;
        sym.name = name;
        sym.isVariable = true;
        sym.selection = token_range(a, i);
        sym.detail = "variable";
        sym.firstLine = sym.selection.line;
        sym.lastLine = sym.selection.line;
        sym.lastLineEnd = static_cast<int32_t>(line_length(a.lines, a.text, sym.lastLine));
        out.push_back(sym);
    }
    if (a.ctx->root != nullptr) collect_blocks(a, a.ctx->root->body, out);
    return out;
}

namespace {

// The comment that starts at byte p: to the end of its line, without a carriage return.
ByteRange comment_at(const Analysis& a, std::size_t p, std::size_t textEnd) {
    const std::string& s = a.text;
    const auto line = static_cast<int32_t>(std::upper_bound(a.lines.starts.begin(), a.lines.starts.end(), p) -
                                           a.lines.starts.begin() - 1);
    const std::size_t lineStart = a.lines.starts[static_cast<std::size_t>(line)];
    std::size_t end = p;
    while (end < textEnd && s[end] != '\n') end++;
    if (end > p && s[end - 1] == '\r') end--;
    return {line, static_cast<int32_t>(p - lineStart), static_cast<int32_t>(end - lineStart)};
}

// The comments that start in the gap [gapStart, gapEnd) between two tokens.
void gap_comments(const Analysis& a, std::size_t gapStart, std::size_t gapEnd, std::size_t textEnd,
                  std::vector<ByteRange>& out) {
    const std::string& s = a.text;
    bool quoted = false;
    for (std::size_t p = gapStart; p < gapEnd && p < textEnd; p++) {
        if (s[p] == '\n') quoted = false;
        if (s[p] == '"') quoted = !quoted;
        if (!quoted && s[p] == '/' && p + 1 < textEnd && s[p + 1] == '/') {
            out.push_back(comment_at(a, p, textEnd));
            while (p < textEnd && s[p] != '\n') p++;
            if (p >= gapEnd) break;
        }
    }
}

}  // namespace

// Comments lie in the gaps between tokens: "//" outside a quoted text, to the
// end of the line.
std::vector<ByteRange> comments(const Analysis& a) {
    std::vector<ByteRange> out;
    const std::string& s = a.text;
    const std::size_t limit = std::min(s.size(), static_cast<std::size_t>(MAX_SOURCE_BYTES));
    std::size_t textEnd = s.find('\0');
    if (textEnd == std::string::npos || textEnd > limit) textEnd = limit;
    const int32_t n = token_count(a);
    std::size_t gapStart = 0;
    for (int32_t i = 0; i <= n; i++) {
        std::size_t gapEnd = textEnd;
        std::size_t next = textEnd;
        if (i < n && token(a, i).type != TOK_EOF) {
            const ByteRange r = token_range(a, i);
            gapEnd = a.lines.starts[static_cast<std::size_t>(r.line)] + static_cast<std::size_t>(r.start);
            next = a.lines.starts[static_cast<std::size_t>(r.line)] + static_cast<std::size_t>(r.end);
        }
        gap_comments(a, gapStart, gapEnd, textEnd, out);
        if (i == n || token(a, i).type == TOK_EOF) break;
        gapStart = next;
    }
    return out;
}

std::vector<Fold> folding_ranges(const Analysis& a) {
    std::vector<Fold> out;
    const int32_t n = token_count(a);
    for (int32_t i = 0; i < n; i++) {
        const int32_t close = a.braceMatch[static_cast<std::size_t>(i)];
        if (token(a, i).type != TOK_LLAVE_IZQ || close < 0) continue;
        const int32_t startLine = token(a, i).line - 1;
        const int32_t endLine = token(a, close).line - 2;  // the closing brace stays in sight
        if (endLine > startLine) out.push_back({startLine, endLine, false});
    }
    // Runs of two or more lines that hold only a comment.
    const std::vector<ByteRange> notes = comments(a);
    std::size_t i = 0;
    while (i < notes.size()) {
        std::size_t j = i;
        auto whole = [&](std::size_t k) { return trim(line_text(a, notes[k].line)).rfind("//", 0) == 0; };
        if (!whole(i)) {
            i++;
            continue;
        }
        while (j + 1 < notes.size() && notes[j + 1].line == notes[j].line + 1 && whole(j + 1)) j++;
        if (j > i) out.push_back({notes[i].line, notes[j].line, true});
        i = j + 1;
    }
    return out;
}

namespace {

// The semantic type of token i, or -1 for none.
int32_t semantic_type(const Analysis& a, int32_t i) {
    const Token& t = token(a, i);
    int32_t type = -1;
    if (t.type == TOK_NUMERO) type = SEM_NUMBER;
    if (t.type >= TOK_START && t.type <= TOK_FALSE) type = SEM_KEYWORD;
    if (t.type >= TOK_UP && t.type <= TOK_RIGHT) type = SEM_ENUM_MEMBER;
    if (t.type >= TOK_SUMA && t.type <= TOK_NOT) type = SEM_OPERATOR;
    if (t.type == TOK_IDENTIFICADOR) type = is_call_token(a, i) ? SEM_FUNCTION : SEM_VARIABLE;
    return type;
}

// The modifiers of token i, whose semantic type is type.
int32_t semantic_modifiers(const Analysis& a, int32_t i, int32_t type) {
    const Token& t = token(a, i);
    int32_t modifiers = 0;
    if (type == SEM_FUNCTION) {
        if (builtin_index(t.lexeme) >= 0) modifiers = SEM_MOD_DEFAULT_LIBRARY;
    } else if (type == SEM_VARIABLE) {
        if (is_reserved_name(t.lexeme)) modifiers = SEM_MOD_READONLY | SEM_MOD_DEFAULT_LIBRARY;
        if (first_set(a, t.lexeme) == i) modifiers |= SEM_MOD_DECLARATION;
    }
    return modifiers;
}

}  // namespace

std::vector<SemanticToken> semantic_tokens(const Analysis& a) {
    std::vector<SemanticToken> out;
    const int32_t n = token_count(a);
    for (int32_t i = 0; i < n; i++) {
        const int32_t type = semantic_type(a, i);
        if (type >= 0) out.push_back({token_range(a, i), type, semantic_modifiers(a, i, type)});
    }
    for (const ByteRange& c : comments(a)) out.push_back({c, SEM_COMMENT, 0});
    std::sort(out.begin(), out.end(), [](const SemanticToken& x, const SemanticToken& y) {
        return x.range.line != y.range.line ? x.range.line < y.range.line : x.range.start < y.range.start;
    });
    return out;
}

}  // namespace prendax::lsp
