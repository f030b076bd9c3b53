// What a program and the game agree on at run time, read alike by the compiler,
// the VM and the game: the directions a MOVE names, the status of the game that
// the VM watches, the built-in functions and the reserved variables. Each is one
// checked table of {value, name} rows.
#pragma once

#include <cstdint>

#include "compiler/enum_table.h"
#include "compiler/limits.h"

namespace prendax {

// MOVE directions: the direction token's type minus that of UP.
enum Direction : int32_t { DIR_UP, DIR_DOWN, DIR_LEFT, DIR_RIGHT };

struct DirectionRow {
    Direction value;
    const char* name;
};

inline constexpr DirectionRow DIRECTION_TABLE[] = {
    {DIR_UP, "UP"}, {DIR_DOWN, "DOWN"}, {DIR_LEFT, "LEFT"}, {DIR_RIGHT, "RIGHT"}};
static_assert(table_is_dense(DIRECTION_TABLE));

// The game's status as the host reports it to the VM; a won or lost game ends
// the program's run.
enum GameStatus : int32_t { GAME_PLAYING, GAME_VICTORY, GAME_DEFEAT };

struct GameStatusRow {
    GameStatus value;
    const char* name;
};

inline constexpr GameStatusRow GAME_STATUS_TABLE[] = {
    {GAME_PLAYING, "jugando"}, {GAME_VICTORY, "victoria"}, {GAME_DEFEAT, "derrota"}};
static_assert(table_is_dense(GAME_STATUS_TABLE));

// The built-in functions a program calls by name; CALL's argument is the index.
enum BuiltinIndex : int32_t { BUILTIN_ENEMY_AHEAD, BUILTIN_ENEMY_LEFT, BUILTIN_ENEMY_RIGHT, BUILTIN_RANDOM };

struct BuiltinRow {
    BuiltinIndex value;
    const char* name;
    int32_t arity;  // arguments taken: 0 or 1
};

inline constexpr BuiltinRow BUILTIN_TABLE[] = {
    {BUILTIN_ENEMY_AHEAD, "enemy_ahead", 0},
    {BUILTIN_ENEMY_LEFT, "enemy_left", 0},
    {BUILTIN_ENEMY_RIGHT, "enemy_right", 0},
    {BUILTIN_RANDOM, "random", 1},
};
static_assert(table_is_dense(BUILTIN_TABLE) && sizeof(BUILTIN_TABLE) / sizeof(BUILTIN_TABLE[0]) == BUILTIN_COUNT);

// The read-only variables every program starts with: they take the first slots
// of the variable table, in this order, and the game writes them around every
// run of the VM.
enum ReservedVar : int32_t {
    RESERVED_HEALTH,
    RESERVED_SCORE,
    RESERVED_ENEMIES_LEFT,
    RESERVED_LEVEL,
    RESERVED_SHIELD,
    RESERVED_TICKS,
};

struct ReservedRow {
    ReservedVar value;
    const char* name;
};

inline constexpr ReservedRow RESERVED_TABLE[] = {
    {RESERVED_HEALTH, "health"}, {RESERVED_SCORE, "score"},   {RESERVED_ENEMIES_LEFT, "enemies_left"},
    {RESERVED_LEVEL, "level"},   {RESERVED_SHIELD, "shield"}, {RESERVED_TICKS, "ticks"},
};
static_assert(table_is_dense(RESERVED_TABLE) && sizeof(RESERVED_TABLE) / sizeof(RESERVED_TABLE[0]) == RESERVED_VARS);

}  // namespace prendax
