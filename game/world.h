// The world: the whole state of one match in one fixed-size record, with its
// slot tables and the single random generator every decision draws from.
#pragma once

#include <bit>
#include <cstdint>

#include "compiler/enum_table.h"

namespace prendax {

inline constexpr int MAX_ENEMIES = 48;                    // saturates, no message: a full table skips the spawn
inline constexpr int MAX_BULLETS = 128;                   // saturates, no message: a full table skips the bullet
inline constexpr int MAX_EXPLOSIONS = 24;                 // saturates, no message: the least-life entry is replaced
inline constexpr uint32_t ZERO_SEED_STATE = 0xB17E0A55u;  // the generator cannot start from 0
inline constexpr int FIELD_WIDTH = 480;
inline constexpr int FIELD_HEIGHT = 640;
inline constexpr int MIN_LEVEL = 1;
inline constexpr int MAX_LEVEL = 3;
inline constexpr int WAVE_COUNT = 3;

inline constexpr double PLAYER_START_X = 240.0;       // the ship starts centred ...
inline constexpr double PLAYER_START_Y = 560.0;       // ... near the bottom of the field
inline constexpr int32_t PLAYER_START_HEALTH = 100;   // health at the start of a match
inline constexpr int32_t FIRST_WAVE = 1;              // a match opens with wave 1
inline constexpr int32_t WAVE_SPAWN_DELAY = 20;       // ticks before the first enemy of every wave
inline constexpr int32_t WAVE_EXTRA_ENEMIES = 3;      // a wave holds wave + level + 3 enemies
inline constexpr int32_t EXPLOSION_LIFE = 24;         // ticks a hit or destruction explosion lasts
inline constexpr int32_t SHIELD_EXPLOSION_LIFE = 36;  // ticks a shield explosion lasts
inline constexpr uint32_t FRACTION_SCALE = 100000u;   // a fraction is (draw mod 100000) / 100000.0

struct EventLog;

inline constexpr int32_t ENEMY_HIT_FLASH = 6;   // ticks an enemy flashes after a hit
inline constexpr int32_t PLAYER_HIT_FLASH = 8;  // ticks the player flashes after damage

enum GameStatus : int32_t { GAME_PLAYING, GAME_VICTORY, GAME_DEFEAT };

struct GameStatusRow {
    GameStatus value;
    const char* name;
};

inline constexpr GameStatusRow GAME_STATUS_TABLE[] = {
    {GAME_PLAYING, "jugando"},
    {GAME_VICTORY, "victoria"},
    {GAME_DEFEAT, "derrota"},
};
static_assert(table_is_dense(GAME_STATUS_TABLE) && sizeof(GAME_STATUS_TABLE) / sizeof(GAME_STATUS_TABLE[0]) == 3);

enum ExplosionKind : int32_t {
    EXPLOSION_HIT,      // a hit that did not destroy an enemy
    EXPLOSION_DESTROY,  // a destruction, or damage to the player
    EXPLOSION_SHIELD,   // the shield raised, or absorbing a bullet
};

struct ExplosionKindRow {
    ExplosionKind value;
    const char* name;
};

inline constexpr ExplosionKindRow EXPLOSION_KIND_TABLE[] = {
    {EXPLOSION_HIT, "hit"},
    {EXPLOSION_DESTROY, "destroy"},
    {EXPLOSION_SHIELD, "shield"},
};
static_assert(table_is_dense(EXPLOSION_KIND_TABLE) &&
              sizeof(EXPLOSION_KIND_TABLE) / sizeof(EXPLOSION_KIND_TABLE[0]) == 3);

// Enemy types by rank: a type-t enemy has t + 1 hit points and is worth
// 10 x (t + 1); the heavier ones come only in later waves and levels.
enum EnemyType : int32_t { ENEMY_LIGHT, ENEMY_MEDIUM, ENEMY_HEAVY };

struct EnemyTypeRow {
    EnemyType value;
    const char* name;
};

inline constexpr EnemyTypeRow ENEMY_TYPE_TABLE[] = {
    {ENEMY_LIGHT, "light"},
    {ENEMY_MEDIUM, "medium"},
    {ENEMY_HEAVY, "heavy"},
};
static_assert(table_is_dense(ENEMY_TYPE_TABLE) && sizeof(ENEMY_TYPE_TABLE) / sizeof(ENEMY_TYPE_TABLE[0]) == 3);

struct Enemy {
    double x;
    double y;
    double speed;
    double phase;
    int32_t hp;
    int32_t type;
    int32_t alive;
    int32_t fireCooldown;
    int32_t hit;
};

struct Bullet {
    double x;
    double y;
    double vy;
    int32_t alive;
    int32_t friendly;
    int32_t damage;
};

struct Explosion {
    double x;
    double y;
    int32_t life;
    int32_t maxLife;
    int32_t kind;
};

struct World {
    double px;
    double py;
    int32_t health;
    int32_t score;
    int32_t level;
    int32_t wave;
    int32_t shield;
    int32_t shieldCooldown;
    int32_t shootCooldown;
    int32_t ticks;
    Enemy enemies[MAX_ENEMIES];
    Bullet bullets[MAX_BULLETS];
    Explosion explosions[MAX_EXPLOSIONS];
    int32_t toSpawn;
    int32_t spawnTimer;
    int32_t enemiesAlive;
    int32_t status;
    uint32_t rng;
    int32_t hitFlash;
    int32_t width;
    int32_t height;
    EventLog* events;  // null: no events recorded; a tool attaches a log after world_init, which clears it
    // The live slots of each table as bits (bit i for slot i), kept by every
    // function that fills or frees a slot, so that a tick visits only the slots
    // in use, still in slot order.
    uint64_t enemySlots;                       // bit i: enemies[i].alive is set
    uint64_t bulletSlots[MAX_BULLETS / 64];    // bit i % 64 of word i / 64: bullets[i].alive is set
    uint64_t playerBullets[MAX_BULLETS / 64];  // the same bits for the bullets in flight with friendly set
    uint32_t explosionSlots;                   // bit i: explosions[i].life is above 0
};
static_assert(MAX_ENEMIES <= 64 && MAX_BULLETS % 64 == 0 && MAX_EXPLOSIONS <= 32);

inline constexpr uint64_t ALL_ENEMY_SLOTS = ~uint64_t{0} >> (64 - MAX_ENEMIES);
inline constexpr uint32_t ALL_EXPLOSION_SLOTS = ~uint32_t{0} >> (32 - MAX_EXPLOSIONS);

// The slot of the lowest bit of a non-empty set.
inline int lowest_slot(uint64_t bits) { return std::countr_zero(bits); }

void world_init(World* world, int32_t level, uint32_t seed);
// xorshift32 with shifts 13, 17, 5; returns the new state.
uint32_t rng_next(World* world);
// The unsigned remainder of a draw by m.
uint32_t rng_remainder(uint32_t draw, uint32_t m);
// (draw mod 100000) / 100000.0, in [0, 0.99999].
double rng_fraction(uint32_t draw);
void explosion_add(World* world, double x, double y, int32_t kind);
// Fires a bullet from the first free slot: null, and nothing fired, with all of them in flight.
Bullet* bullet_add(World* world, double x, double y, double vy, int32_t damage, int32_t friendly);
// Rebuilds the live-slot sets from the alive flags and lives, for a world whose
// tables were written field by field rather than through the world's functions.
void world_index_slots(World* world);

}  // namespace prendax
