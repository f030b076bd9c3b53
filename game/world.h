// The world: the whole state of one match in one fixed-size record, with its
// slot tables and the single random generator every decision draws from.
#pragma once

#include <bit>
#include <cstdint>

#include "compiler/enum_table.h"
#include "vm/runtime_contract.h"

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
inline constexpr double PHASE_SPAN = 6.283;           // an enemy's drift phase is a fraction of 6.283 radians
inline constexpr double DRIFT_RATE = 0.03;            // radians of drift per game tick

// The angle of an enemy's sideways drift at a tick: ticks x 0.03 + phase.
inline double drift_angle(int32_t ticks, double phase) { return static_cast<double>(ticks) * DRIFT_RATE + phase; }

struct EventLog;

inline constexpr int32_t ENEMY_HIT_FLASH = 6;   // ticks an enemy flashes after a hit
inline constexpr int32_t PLAYER_HIT_FLASH = 8;  // ticks the player flashes after damage

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

// An enemy of type t has t + 1 hit points, is 0.08 x t faster than type 0,
// fires bullets of 9 + 3 x t damage and is worth 10 x (t + 1) points.
enum EnemyType : int32_t {
    ENEMY_LIGHT,   // the only type in wave 1 of level 1
    ENEMY_MEDIUM,  // from every wave but the first of level 1 on
    ENEMY_HEAVY,   // only from wave 2 at level 2 on
};

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
    double x;              // centre, field units; kept within 18..462
    double y;              // centre, field units, growing downwards; starts at -64..-24, escapes below 612
    double speed;          // field units descended per tick: 0.34 + 0.05 x level + 0.035 x wave + 0.08 x type
    double phase;          // radians in [0, 6.283): where the sideways drift starts
    int32_t hp;            // hit points left: type + 1 at spawn
    EnemyType type;        // 0..2
    int32_t alive;         // 0/1: the slot is in use
    int32_t fireCooldown;  // ticks until it may fire; 0 = ready once inside the fire band
    int32_t hit;           // ticks left of the flash after a hit, 0..6
};

struct Bullet {
    double x;          // field units; never changes in flight
    double y;          // field units; in flight while -24..664
    double vy;         // field units per tick: -7 for the player's, 2.1 + 0.15 x level for an enemy's
    int32_t alive;     // 0/1: in flight
    int32_t friendly;  // 1 the player's, 0 an enemy's
    int32_t damage;    // health it takes: 1 for the player's, 9 + 3 x type for an enemy's
};

struct Explosion {
    double x;            // field units
    double y;            // field units
    int32_t life;        // ticks left; the slot is free at 0 or less
    int32_t maxLife;     // ticks at the start: 36 for the shield, 24 otherwise
    ExplosionKind kind;  // 0..2
};

struct World {
    double px;                             // ship x, field units, 24..456
    double py;                             // ship y, field units, 330..604
    int32_t health;                        // 0..100; 0 loses the match
    int32_t score;                         // points, 0 or more
    int32_t level;                         // 1..3
    int32_t wave;                          // 1..3
    int32_t shield;                        // ticks left with the shield up; 0 = down
    int32_t shieldCooldown;                // ticks until the shield can be raised again, 0..600
    int32_t shootCooldown;                 // ticks until the ship can fire again, 0..7
    int32_t ticks;                         // ticks played, saturating at INT32_MAX
    Enemy enemies[MAX_ENEMIES];            // slots; free where alive is 0
    Bullet bullets[MAX_BULLETS];           // slots, the player's and the enemies'; free where alive is 0
    Explosion explosions[MAX_EXPLOSIONS];  // slots; free where life is 0 or less
    int32_t toSpawn;                       // enemies of this wave still to appear
    int32_t spawnTimer;                    // ticks until the next enemy appears
    int32_t enemiesAlive;                  // enemy slots in use, never below 0
    int32_t status;                        // a GameStatus: 0 playing, 1 won, 2 lost
    uint32_t rng;                          // xorshift32 state, never 0
    int32_t hitFlash;                      // ticks left of the ship's flash after damage, 0..8
    int32_t width;                         // field width, 480
    int32_t height;                        // field height, 640
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
// The enemies of a wave: wave + level + 3.
int32_t wave_size(int32_t wave, int32_t level);
// xorshift32 with shifts 13, 17, 5; returns the new state.
uint32_t rng_next(World* world);
// The unsigned remainder of a draw by m.
uint32_t rng_remainder(uint32_t draw, uint32_t m);
// (draw mod 100000) / 100000.0, in [0, 0.99999].
double rng_fraction(uint32_t draw);
void explosion_add(World* world, double x, double y, ExplosionKind kind);
// Fires a bullet from the first free slot: null, and nothing fired, with all of them in flight.
Bullet* bullet_add(World* world, double x, double y, double vy, int32_t damage, int32_t friendly);
// Rebuilds the live-slot sets from the alive flags and lives, for a world whose
// tables were written field by field rather than through the world's functions.
void world_index_slots(World* world);

}  // namespace prendax
