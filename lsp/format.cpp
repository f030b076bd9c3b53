// The formatter walks the lexer's tokens and the comments between them and
// lays them out again; the result is compiled once more and refused unless its
// tokens are the original ones.
#include "lsp/format.h"

#include <cstring>
#include <vector>

namespace prendax::lsp {

namespace {

constexpr int INDENT = 2;  // spaces per block level

struct Layout {
    std::vector<std::string> lines;
    std::string cur;
    int curDepth = 0;
    bool open = false;       // cur holds a line still being written
    bool mustBreak = false;  // the next token begins a new line
    int lastLine = -1;       // source line of the last token or comment laid out

    void close() {
        if (open) lines.push_back(std::string(static_cast<std::size_t>(curDepth * INDENT), ' ') + cur);
        cur.clear();
        open = false;
        mustBreak = false;
    }
    void start(int depth, const std::string& text) {
        close();
        curDepth = depth;
        cur = text;
        open = true;
    }
    // One blank line stands for any run of blank lines in the source.
    void keep_blank(int sourceLine) {
        if (lastLine < 0 || sourceLine < lastLine + 2 || lines.empty()) return;
        if (open) return;
        const std::string& prev = lines.back();
        if (prev.empty() || prev.back() == '{') return;
        lines.emplace_back();
    }
};

bool is_statement(TokenType t) { return t >= TOK_START && t <= TOK_IF && t != TOK_ELSE; }
bool starts_expression(TokenType t) { return t == TOK_WAIT || t == TOK_REPEAT || t == TOK_WHILE || t == TOK_IF; }
bool is_binary(TokenType t) { return t >= TOK_SUMA && t <= TOK_OR; }

std::string slice(const Analysis& a, const ByteRange& r) {
    return a.text.substr(a.lines.starts[static_cast<std::size_t>(r.line)] + static_cast<std::size_t>(r.start),
                         static_cast<std::size_t>(r.end - r.start));
}

// Same token types and texts, in the same order.
bool same_tokens(const Analysis& x, const Analysis& y) {
    if (x.ctx->tokenCount != y.ctx->tokenCount) return false;
    for (int32_t i = 0; i < x.ctx->tokenCount; i++) {
        const Token& p = x.ctx->tokens[i];
        const Token& q = y.ctx->tokens[i];
        if (p.type != q.type || std::strcmp(p.lexeme, q.lexeme) != 0) return false;
        if (slice(x, token_range(x, i)) != slice(y, token_range(y, i))) return false;
    }
    return true;
}

// One layout pass over a document's tokens and the comments between them.
struct Formatter {
    const Analysis& a;
    std::vector<ByteRange> notes;
    std::size_t nextNote = 0;
    Layout lay;
    int depth = 0;
    bool expectOperand = false;  // the next token begins an operand, so "-" and NOT are prefixes
    bool setName = false;        // the next token is the name after SET
    TokenType prev = TOK_EOF;
    bool prevPrefix = false;
    bool prevCall = false;

    explicit Formatter(const Analysis& document) : a(document), notes(comments(document)) {}

    void lay_notes_before(int32_t line, int32_t col) {
        while (nextNote < notes.size() &&
               (notes[nextNote].line < line || (notes[nextNote].line == line && notes[nextNote].start < col))) {
            const ByteRange& c = notes[nextNote++];
            if (lay.open && c.line == lay.lastLine) {
                lay.cur += ' ';
                lay.cur += slice(a, c);
                lay.close();
            } else {
                lay.close();
                lay.keep_blank(c.line);
                lay.start(depth, slice(a, c));
                lay.close();
            }
            lay.lastLine = c.line;
        }
    }

    // Token i is a "{" closed by the very next token, with no comment between.
    [[nodiscard]] bool empty_block(int32_t i) const {
        if (i + 1 >= a.ctx->tokenCount || a.ctx->tokens[i + 1].type != TOK_LLAVE_DER) return false;
        const ByteRange close = token_range(a, i + 1);
        return nextNote >= notes.size() || notes[nextNote].line > close.line ||
               (notes[nextNote].line == close.line && notes[nextNote].start > close.start);
    }

    // "{ }" on the header's line, or on a line of its own after a comment.
    void lay_empty_block(int32_t close) {
        if (lay.open) {
            lay.cur += " { }";
        } else {
            lay.start(depth, "{ }");
        }
        lay.lastLine = token_range(a, close).line;
        prev = TOK_LLAVE_DER;
        lay.mustBreak = true;
    }

    void lay_open_brace() {
        if (lay.open) {
            lay.cur += " {";
        } else {
            lay.start(depth, "{");  // after a comment that ended the header's line
        }
        lay.mustBreak = true;
        depth++;
    }

    // A token inside a statement; returns whether it is a prefix operator.
    bool lay_inner(TokenType type, const std::string& text) {
        if (!lay.open || lay.mustBreak) {
            // A statement cut by a comment goes on one level deeper.
            lay.start(depth + (type == TOK_ELSE ? 0 : 1), text);
        } else {
            const bool tight = prev == TOK_PAR_IZQ || type == TOK_PAR_DER || type == TOK_COMA ||
                               (type == TOK_PAR_IZQ && prevCall) || prevPrefix;
            if (!tight) lay.cur += ' ';
            lay.cur += text;
        }
        return (type == TOK_RESTA && expectOperand) || type == TOK_NOT;
    }

    // What may follow a token of this type.
    void note_what_follows(TokenType type, bool prefix) {
        if (setName) {
            setName = false;
            expectOperand = true;
        } else if (type == TOK_SET) {
            setName = true;
        } else {
            expectOperand = starts_expression(type) || type == TOK_PAR_IZQ || type == TOK_COMA || prefix ||
                            (is_binary(type) && !prefix);
        }
    }

    // Lays out token i; returns how many tokens that took (an empty block takes its "}" too).
    int32_t lay_token(int32_t i) {
        const Token& t = a.ctx->tokens[i];
        const ByteRange r = token_range(a, i);
        lay_notes_before(r.line, r.start);
        const std::string text = slice(a, r);
        const bool call = t.type == TOK_IDENTIFICADOR && i + 1 < a.ctx->tokenCount &&
                          a.ctx->tokens[i + 1].type == TOK_PAR_IZQ && prev != TOK_SET;
        bool prefix = false;
        if (is_statement(t.type)) {
            lay.close();
            lay.keep_blank(r.line);
            lay.start(depth, text);
        } else if (t.type == TOK_LLAVE_IZQ && empty_block(i)) {
            lay_empty_block(i + 1);
            return 2;
        } else if (t.type == TOK_LLAVE_IZQ) {
            lay_open_brace();
        } else if (t.type == TOK_LLAVE_DER) {
            depth--;
            lay.close();
            lay.start(depth, text);
            lay.mustBreak = true;
        } else if (t.type == TOK_ELSE && lay.open && prev == TOK_LLAVE_DER) {
            lay.cur += ' ';
            lay.cur += text;
        } else {
            prefix = lay_inner(t.type, text);
        }
        note_what_follows(t.type, prefix);
        prevPrefix = prefix && (text == "-" || text == "!");
        prevCall = call;
        prev = t.type;
        lay.lastLine = r.line;
        return 1;
    }
};

}  // namespace

int format_document(const Analysis& a, Analysis& scratch, std::string& out, std::string& why) {
    if (a.text.find('\0') != std::string::npos || a.text.size() > static_cast<std::size_t>(MAX_SOURCE_BYTES)) {
        why = "No se puede dar formato: el texto tiene un byte nulo o supera los " + std::to_string(MAX_SOURCE_BYTES) +
              " bytes que lee el compilador.";
        return 0;
    }
    if (a.result->phase == PHASE_LEXICO || a.result->phase == PHASE_SINTACTICO) {
        why = "No se puede dar formato: el programa tiene errores léxicos o de sintaxis.";
        return 0;
    }
    Formatter f(a);
    const int32_t n = a.ctx->tokenCount;
    for (int32_t i = 0; i < n && a.ctx->tokens[i].type != TOK_EOF;) i += f.lay_token(i);
    f.lay_notes_before(static_cast<int32_t>(a.lines.starts.size()), 0);
    f.lay.close();
    out.clear();
    for (const std::string& line : f.lay.lines) out += line + "\n";

    // The laid-out text must hold the very same tokens.
    analyse(scratch, out);
    if (!same_tokens(a, scratch)) {
        why = "No se puede dar formato: el texto ordenado no conserva las piezas del programa.";
        return 0;
    }
    return 1;
}

}  // namespace prendax::lsp
