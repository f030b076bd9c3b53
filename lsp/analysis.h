// What the language server knows about one document: the engine's compile of
// its text (tokens, diagnostics, syntax tree, variable table, code) and the
// answers built from it. Everything here speaks in source lines (0-based) and
// byte columns (0-based); the server converts to the client's encoding.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "compiler/context.h"

namespace prendax::lsp {

// A stretch of one line, in bytes.
struct ByteRange {
    int32_t line = 0;   // 0-based
    int32_t start = 0;  // 0-based byte column of the first byte
    int32_t end = 0;    // 0-based byte column just past the last byte
};

// The byte offsets at which each line of a text begins. Lines end at a line
// feed only, as the lexer counts them.
struct LineTable {
    std::vector<std::size_t> starts;
};

LineTable make_line_table(const std::string& text);
// The byte length of a line, without its line feed.
std::size_t line_length(const LineTable& lines, const std::string& text, int32_t line);

struct Analysis {
    std::string text;  // the document as the client sent it
    LineTable lines;
    std::unique_ptr<CompilerContext> ctx = std::make_unique<CompilerContext>();
    std::unique_ptr<CompileResult> result = std::make_unique<CompileResult>();
    std::vector<int32_t> braceMatch;  // per token: index of the matching brace, else -1
};

// Compiles the text and indexes it; the previous content is replaced.
void analyse(Analysis& a, const std::string& text);

// The bytes of the source that a token or a diagnostic at (line, col) covers:
// a name, a number, a two-byte operator, a quoted text, or one character.
ByteRange extent_at(const Analysis& a, int32_t line1, int32_t col1);
ByteRange token_range(const Analysis& a, int32_t index);

// Index of the token under a cursor (a token that starts there wins over one
// that ends there), or -1.
int32_t token_at(const Analysis& a, int32_t line, int32_t byteCol);

struct DiagnosticItem {
    ByteRange range;
    Phase phase;
    std::string message;
    std::string suggestion;  // the name proposed by "¿Quiso decir '%s'?", or empty
};
std::vector<DiagnosticItem> diagnostics(const Analysis& a);

// Names.
bool is_reserved_name(const char* name);
int32_t builtin_index(const char* name);  // ASCII case ignored; -1 when none
bool is_keyword(const char* name);        // ASCII case ignored
// The token is a name read or written as a variable (not a call).
bool is_variable_token(const Analysis& a, int32_t index);
// Index of the name token of the first SET of `name`, or -1.
int32_t first_set(const Analysis& a, const char* name);
// Every variable token of `name`, in source order.
std::vector<int32_t> variable_tokens(const Analysis& a, const char* name);
// Problems with a new name for a variable (empty when acceptable).
std::string check_new_name(const Analysis& a, const std::string& oldName, const std::string& newName);
// Why a token cannot be renamed (empty when it can).
std::string rename_refusal(const Analysis& a, int32_t index);

// Markdown shown on hover, empty when there is nothing to say.
std::string hover_text(const Analysis& a, int32_t index);

enum class ItemKind { Keyword, Function, Variable, Constant, Operator };
struct CompletionEntry {
    std::string label;
    ItemKind kind;
    std::string detail;
    std::string documentation;
    std::string insertText;
};
std::vector<CompletionEntry> completions(const Analysis& a, int32_t line, int32_t byteCol);

struct SignatureInfo {
    int32_t builtin = -1;  // -1: the cursor is not inside a built-in's parentheses
    int32_t activeParameter = 0;
};
SignatureInfo signature_at(const Analysis& a, int32_t line, int32_t byteCol);
std::string builtin_signature(int32_t builtin);
std::string builtin_description(int32_t builtin);

struct Symbol {
    std::string name;
    std::string detail;
    bool isVariable = false;
    ByteRange selection;
    int32_t firstLine = 0;  // 0-based lines the symbol spans
    int32_t lastLine = 0;
    int32_t lastLineEnd = 0;  // byte column just past its last byte
    std::vector<Symbol> children;
};
std::vector<Symbol> document_symbols(const Analysis& a);

// The comments of the text, in source order, without a line's carriage return.
std::vector<ByteRange> comments(const Analysis& a);

struct Fold {
    int32_t startLine;
    int32_t endLine;
    bool comment;
};
std::vector<Fold> folding_ranges(const Analysis& a);

// The semantic token legend, in the order the client is told.
enum SemanticType : int32_t {
    SEM_KEYWORD,
    SEM_NUMBER,
    SEM_VARIABLE,
    SEM_FUNCTION,
    SEM_OPERATOR,
    SEM_COMMENT,
    SEM_ENUM_MEMBER
};
inline constexpr const char* SEMANTIC_TYPE_NAMES[] = {"keyword",  "number",  "variable",  "function",
                                                      "operator", "comment", "enumMember"};
enum SemanticModifier : int32_t { SEM_MOD_READONLY = 1, SEM_MOD_DEFAULT_LIBRARY = 2, SEM_MOD_DECLARATION = 4 };
inline constexpr const char* SEMANTIC_MODIFIER_NAMES[] = {"readonly", "defaultLibrary", "declaration"};

struct SemanticToken {
    ByteRange range;
    int32_t type;
    int32_t modifiers;
};
// Every token and comment in source order.
std::vector<SemanticToken> semantic_tokens(const Analysis& a);

}  // namespace prendax::lsp
