// Semantic checks: build the variable table, resolve names and built-ins, and
// report every rule the program breaks.
#pragma once

#include "compiler/context.h"

namespace prendax {

// The six read-only variables every program starts with, in index order.
inline constexpr const char* RESERVED_NAMES[RESERVED_VARS] = {"health", "score",  "enemies_left",
                                                              "level",  "shield", "ticks"};

struct BuiltinRow {
    int32_t value;
    const char* name;
    int32_t arity;
};

inline constexpr BuiltinRow BUILTIN_TABLE[] = {
    {0, "enemy_ahead", 0},
    {1, "enemy_left", 0},
    {2, "enemy_right", 0},
    {3, "random", 1},
};
static_assert(table_is_dense(BUILTIN_TABLE) && sizeof(BUILTIN_TABLE) / sizeof(BUILTIN_TABLE[0]) == BUILTIN_COUNT);

enum BuiltinIndex : int32_t { BUILTIN_ENEMY_AHEAD, BUILTIN_ENEMY_LEFT, BUILTIN_ENEMY_RIGHT, BUILTIN_RANDOM };

// 1 when the root exists, every check passed and no diagnostic was added.
int sema_check(CompilerContext* ctx);
int check_stmt_list(CompilerContext* ctx, StmtNode* first);
int check_expr(CompilerContext* ctx, ExprNode* node);

// Index of the closest candidate within two edits, earliest on ties; -1 if none.
int closest_name(const char* name, const char* const* candidates, int count);

// "?" for any index outside 0..3.
const char* builtin_name(int32_t index);

}  // namespace prendax
