// Syntax tree: statement and expression nodes taken from the two fixed pools of
// the compiler context, linked by pointers into those pools (nullptr is none).
#pragma once

#include <cstdint>

#include "compiler/enum_table.h"
#include "compiler/lexer.h"
#include "compiler/limits.h"

namespace prendax {

enum StmtKind : int32_t {
    STMT_BLOQUE,
    STMT_START,
    STMT_END,
    STMT_SET,
    STMT_MOVE,
    STMT_SHOOT,
    STMT_SHIELD,
    STMT_WAIT,
    STMT_REPEAT,
    STMT_WHILE,
    STMT_IF,
};

struct StmtKindRow {
    StmtKind value;
    const char* name;  // the node's word in the tree text
};

inline constexpr StmtKindRow STMT_KIND_TABLE[] = {
    {STMT_BLOQUE, "BLOQUE"}, {STMT_START, "START"}, {STMT_END, "END"},       {STMT_SET, "SET"},
    {STMT_MOVE, "MOVE"},     {STMT_SHOOT, "SHOOT"}, {STMT_SHIELD, "SHIELD"}, {STMT_WAIT, "WAIT"},
    {STMT_REPEAT, "REPEAT"}, {STMT_WHILE, "WHILE"}, {STMT_IF, "IF"},
};
static_assert(table_is_dense(STMT_KIND_TABLE) && sizeof(STMT_KIND_TABLE) / sizeof(STMT_KIND_TABLE[0]) == 11);

enum ExprKind : int32_t {
    EXPR_NUM,
    EXPR_VAR,
    EXPR_CALL,
    EXPR_UNARIO,
    EXPR_BINARIO,
    EXPR_BOOL,
};

struct ExprKindRow {
    ExprKind value;
    const char* name;
};

inline constexpr ExprKindRow EXPR_KIND_TABLE[] = {
    {EXPR_NUM, "NUM"},       {EXPR_VAR, "VAR"},         {EXPR_CALL, "CALL"},
    {EXPR_UNARIO, "UNARIO"}, {EXPR_BINARIO, "BINARIO"}, {EXPR_BOOL, "BOOL"},
};
static_assert(table_is_dense(EXPR_KIND_TABLE) && sizeof(EXPR_KIND_TABLE) / sizeof(EXPR_KIND_TABLE[0]) == 6);

struct ExprNode;

struct StmtNode {
    StmtKind kind;
    int32_t line;
    int32_t col;
    int32_t dir;      // MOVE only
    int32_t varSlot;  // SET's variable, -1 until resolved
    char name[NAME_SIZE];
    ExprNode* expr;
    StmtNode* body;
    StmtNode* elseBody;
    StmtNode* next;
};

struct ExprNode {
    ExprKind kind;
    int32_t op;  // operator TokenType of UNARIO and BINARIO
    double value;
    int32_t varSlot;    // -1 until resolved
    int32_t funcIndex;  // -1 until resolved
    int32_t argCount;
    char name[NAME_SIZE];
    int32_t line;
    int32_t col;
    ExprNode* left;
    ExprNode* right;
};

struct CompilerContext;

// The working record of one parse.
struct Parser {
    CompilerContext* ctx;
    int32_t pos;
    int32_t hadError;
    int32_t depth;  // one counter for block and expression nesting
};

// A fresh node from the pool, or nullptr (after a report) when the pool is full.
StmtNode* alloc_stmt(Parser* p, StmtKind kind, int32_t line, int32_t col);
ExprNode* alloc_expr(Parser* p, ExprKind kind, int32_t line, int32_t col);

// The operator's spelling in the tree text; "?" for anything else.
const char* operator_text(int32_t op);

// Copies at most 23 bytes of an identifier into a name field.
void copy_name(char (&dst)[NAME_SIZE], const char* src);

// The parser's reporter: only the first syntax error of a parse is kept.
void report_syntax_error(Parser* p, const Token* at, const char* format, ...) __attribute__((format(printf, 3, 4)));

}  // namespace prendax
