// The game tick: timers run down, the wave's enemies appear one by one, descend,
// drift and fire, bullets fly, hits are resolved, explosions fade, and the
// match is judged. The steps run in a fixed order and draw from the world's one
// generator in a fixed order, so a seed replays a match exactly.
#include "game/tick.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "game/events.h"
#include "game/sine.h"

namespace prendax {

namespace {

// Spawning.
constexpr int32_t SPAWN_INTERVAL_BASE = 34;      // ticks between spawns are 34 - 3 x level ...
constexpr int32_t SPAWN_INTERVAL_PER_LEVEL = 3;  // ... (31, 28, 25 for levels 1 to 3) ...
constexpr int32_t MIN_SPAWN_INTERVAL = 10;       // ... and never fewer than 10
constexpr uint32_t TYPE_ROLL_RANGE = 100;        // the type is chosen by a draw mod 100
constexpr uint32_t TYPE2_ROLL_BELOW = 20;        // from wave 2 at level 2 on, a roll below 20 gives type 2
constexpr uint32_t TYPE1_ROLL_BELOW = 45;        // otherwise a roll below 45 gives type 1
constexpr double SPAWN_X_BASE = 40.0;            // enemies appear from x 40 ...
constexpr double SPAWN_X_SPAN = 400.0;           // ... to just under 440
constexpr double SPAWN_Y_BASE = -24.0;           // and above the top edge, from y -24 ...
constexpr double SPAWN_Y_SPAN = 40.0;            // ... up to 40 further up
constexpr double SPEED_BASE = 0.34;              // downward speed at level 0, wave 0, type 0
constexpr double SPEED_PER_LEVEL = 0.05;         // each level makes enemies faster
constexpr double SPEED_PER_WAVE = 0.035;         // so does each wave
constexpr double SPEED_PER_TYPE = 0.08;          // and each step of the enemy's type
constexpr uint32_t FIRST_FIRE_SPREAD = 150;      // the first shot comes after 90 + (draw mod 150) ticks
constexpr int32_t FIRST_FIRE_DELAY = 90;

// Enemy motion and fire.
constexpr double DRIFT_AMPLITUDE = 0.8;     // sideways units per tick at the crest of the drift
constexpr double ENEMY_MIN_X = 18.0;        // enemies stay within x 18 ...
constexpr double ENEMY_MAX_X = 462.0;       // ... to 462
constexpr double FIRE_BAND_TOP = 20.0;      // an enemy fires only while 20 < y ...
constexpr double FIRE_BAND_BOTTOM = 380.0;  // ... < 380
constexpr uint32_t FIRE_SPREAD = 180;       // later shots come 160 + (draw mod 180) ticks apart
constexpr int32_t FIRE_DELAY = 160;
constexpr double ENEMY_BULLET_OFFSET = 16.0;  // an enemy bullet starts 16 below the enemy
constexpr double ENEMY_BULLET_SPEED = 2.1;    // and falls 2.1 + 0.15 x level per tick
constexpr double ENEMY_BULLET_SPEED_PER_LEVEL = 0.15;
constexpr int32_t ENEMY_BULLET_DAMAGE = 9;  // an enemy bullet deals 9 + 3 x type
constexpr int32_t ENEMY_BULLET_DAMAGE_PER_TYPE = 3;
constexpr double ESCAPE_LINE = 612.0;  // an enemy below y 612 has escaped ...
constexpr int32_t ESCAPE_DAMAGE = 15;  // ... and costs the player 15

// Bullets and hits.
constexpr double BULLET_TOP = -24.0;     // bullets stay in flight while -24 <= y ...
constexpr double BULLET_BOTTOM = 664.0;  // ... <= 664
constexpr double HIT_BOX_X = 16.0;       // a bullet hits within 16 sideways ...
constexpr double HIT_BOX_Y = 18.0;       // ... and 18 vertically (strictly)
constexpr double RAM_BOX_X = 24.0;       // an enemy rams the ship within 24 sideways ...
constexpr double RAM_BOX_Y = 26.0;       // ... and 26 vertically (strictly)
constexpr int32_t RAM_DAMAGE = 20;       // a ram costs the player 20
constexpr int32_t POINTS_PER_RANK = 10;  // a destroyed enemy is worth 10 x (type + 1)

// The hit test skips the bullets that lie above or below every enemy: enemies do
// not move while hits are resolved, so one band taken before serves every bullet
// of the tick.
constexpr double BAND_MARGIN = HIT_BOX_Y + 1.0;  // wider than the hit box, so rounding cannot lose a hit

bool boxes_touch(double ax, double ay, double bx, double by, double halfWidth, double halfHeight) {
    return std::fabs(ax - bx) < halfWidth && std::fabs(ay - by) < halfHeight;
}

void count_down(int32_t& counter) {
    if (counter > 0) counter--;
}

// The shield, while up, takes every blow whole.
void damage_player(World* world, int32_t damage, int32_t cause) {
    if (world->shield > 0) {
        event_add(world, EVENT_SHIELD_BLOW, cause, damage, world->px, world->py);
        return;
    }
    const int32_t before = world->health;
    world->health -= damage;
    world->hitFlash = PLAYER_HIT_FLASH;
    if (world->health < 0) world->health = 0;
    event_add(world, EVENT_DAMAGE, cause, before - world->health, world->px, world->py);
}

void remove_enemy(World* world, Enemy& enemy) {
    enemy.alive = 0;
    world->enemySlots &= ~(uint64_t{1} << (&enemy - world->enemies));
    if (world->enemiesAlive > 0) world->enemiesAlive--;
    explosion_add(world, enemy.x, enemy.y, EXPLOSION_DESTROY);
}

int free_enemy_slot(const World* world) {
    return world->enemySlots == ALL_ENEMY_SLOTS ? -1 : lowest_slot(~world->enemySlots);
}

// Calls visit(slot) for each slot of a set in slot order, from a copy of the set
// taken at the start: a visit may free its own slot or fill others.
template <typename Visit>
void each_slot(uint64_t bits, int base, Visit visit) {
    for (; bits != 0; bits &= bits - 1) visit(base + lowest_slot(bits));
}

// The bullets in flight, the player's, or the enemies', as Visit asks.
enum BulletSide { ALL_BULLETS, PLAYER_BULLETS, ENEMY_BULLETS };

template <BulletSide Side, typename Visit>
void each_bullet(const World* world, Visit visit) {
    for (int word = 0; word < MAX_BULLETS / 64; word++) {
        uint64_t bits = world->bulletSlots[word];
        if (Side == PLAYER_BULLETS) bits &= world->playerBullets[word];
        if (Side == ENEMY_BULLETS) bits &= ~world->playerBullets[word];
        each_slot(bits, word * 64, visit);
    }
}

void remove_bullet(World* world, Bullet& b) {
    b.alive = 0;
    const auto slot = static_cast<int>(&b - world->bullets);
    const uint64_t keep = ~(uint64_t{1} << (slot % 64));
    world->bulletSlots[slot / 64] &= keep;
    world->playerBullets[slot / 64] &= keep;
}

// Type 0 only in the first wave of level 1; type 2 only from wave 2 at level 2 on.
EnemyType enemy_type(const World* world, uint32_t roll) {
    if (world->level <= 1 && world->wave <= 1) return ENEMY_LIGHT;
    if (world->level >= 2 && world->wave >= 2 && roll < TYPE2_ROLL_BELOW) return ENEMY_HEAVY;
    if (roll < TYPE1_ROLL_BELOW) return ENEMY_MEDIUM;
    return ENEMY_LIGHT;
}

// Fills a cleared slot; the five draws come in this order: type, x, y, phase, first fire delay.
void place_enemy(World* world, Enemy& enemy) {
    const EnemyType type = enemy_type(world, rng_remainder(rng_next(world), TYPE_ROLL_RANGE));
    double extra = SPEED_PER_TYPE * static_cast<double>(type);
    enemy.type = type;
    enemy.hp = type + 1;
    enemy.x = rng_fraction(rng_next(world)) * SPAWN_X_SPAN + SPAWN_X_BASE;
    enemy.y = SPAWN_Y_BASE - rng_fraction(rng_next(world)) * SPAWN_Y_SPAN;
    enemy.speed = ((static_cast<double>(world->level) * SPEED_PER_LEVEL + SPEED_BASE) +
                   static_cast<double>(world->wave) * SPEED_PER_WAVE) +
                  extra;
    enemy.phase = rng_fraction(rng_next(world)) * PHASE_SPAN;
    enemy.fireCooldown = static_cast<int32_t>(rng_remainder(rng_next(world), FIRST_FIRE_SPREAD)) + FIRST_FIRE_DELAY;
    enemy.alive = 1;
    enemy.hit = 0;
    world->enemySlots |= uint64_t{1} << (&enemy - world->enemies);
    world->enemiesAlive++;
}

// Places one enemy bullet, or none with the table full; the next shot is scheduled either way.
void enemy_fire(World* world, Enemy& enemy) {
    bullet_add(world, enemy.x, enemy.y + ENEMY_BULLET_OFFSET,
               static_cast<double>(world->level) * ENEMY_BULLET_SPEED_PER_LEVEL + ENEMY_BULLET_SPEED,
               ENEMY_BULLET_DAMAGE + ENEMY_BULLET_DAMAGE_PER_TYPE * enemy.type, 0);
    enemy.fireCooldown = static_cast<int32_t>(rng_remainder(rng_next(world), FIRE_SPREAD)) + FIRE_DELAY;
}

// Descends, drifts, may fire, and may escape at the bottom.
void advance_enemy(World* world, Enemy& enemy) {
    count_down(enemy.hit);
    enemy.y = enemy.y + enemy.speed;
    enemy.x = enemy.x + sine(drift_angle(world->ticks, enemy.phase)) * DRIFT_AMPLITUDE;
    if (enemy.x < ENEMY_MIN_X) enemy.x = ENEMY_MIN_X;
    if (enemy.x > ENEMY_MAX_X) enemy.x = ENEMY_MAX_X;
    bool ready = true;
    if (enemy.fireCooldown > 0) {
        enemy.fireCooldown--;
        ready = enemy.fireCooldown <= 0;
    }
    // A cooldown that ran out outside the fire band stays at 0 until the enemy is inside it.
    if (ready) {
        if (enemy.y <= FIRE_BAND_TOP) return;
        if (enemy.y < FIRE_BAND_BOTTOM) {
            enemy_fire(world, enemy);
            return;
        }
    }
    if (enemy.y > ESCAPE_LINE) {
        event_add_enemy(world, EVENT_ESCAPED, CAUSE_ESCAPE, enemy.type, 0, enemy.x, enemy.y);
        damage_player(world, ESCAPE_DAMAGE, CAUSE_ESCAPE);
        remove_enemy(world, enemy);
    }
}

// ended match
bool match_over(const World* world) { return world->status != GAME_PLAYING; }

// clock
void advance_clock(World* world) {
    // Every match ends long before this; the counter saturates rather than wrap.
    if (world->ticks < INT32_MAX) world->ticks++;
}

// timers
void run_timers(World* world) {
    count_down(world->shootCooldown);
    count_down(world->shieldCooldown);
    count_down(world->shield);
    count_down(world->hitFlash);
}

// spawning
void spawn_enemies(World* world) {
    if (world->toSpawn <= 0) return;
    world->spawnTimer--;
    if (world->spawnTimer > 0) return;
    // A full enemy table skips this enemy without a draw; it still counts as spawned.
    int slot = free_enemy_slot(world);
    if (slot >= 0) {
        Enemy& enemy = world->enemies[slot];
        std::memset(&enemy, 0, sizeof enemy);
        place_enemy(world, enemy);
    }
    world->toSpawn--;
    int32_t interval = SPAWN_INTERVAL_BASE - SPAWN_INTERVAL_PER_LEVEL * world->level;
    world->spawnTimer = interval < MIN_SPAWN_INTERVAL ? MIN_SPAWN_INTERVAL : interval;
}

// enemies descend, drift, fire and escape
void move_enemies(World* world) {
    each_slot(world->enemySlots, 0, [world](int i) { advance_enemy(world, world->enemies[i]); });
}

// bullet flight
void fly_bullets(World* world) {
    each_bullet<ALL_BULLETS>(world, [world](int i) {
        Bullet& b = world->bullets[i];
        // Bullets never move sideways.
        b.y = b.y + b.vy;
        if (b.y < BULLET_TOP || b.y > BULLET_BOTTOM) remove_bullet(world, b);
    });
}

// The band of y that holds every live enemy, widened by the margin: a bullet
// outside it touches none of them.
struct Band {
    double top;
    double bottom;
};

Band enemy_band(const World* world) {
    double top = std::numeric_limits<double>::infinity();  // NaN, which touches nothing, widens nothing
    double bottom = -std::numeric_limits<double>::infinity();
    each_slot(world->enemySlots, 0, [world, &top, &bottom](int i) {
        const double y = world->enemies[i].y;
        if (y < top) top = y;
        if (y > bottom) bottom = y;
    });
    return Band{top - BAND_MARGIN, bottom + BAND_MARGIN};
}

// The first live enemy, in slot order, that a player bullet overlaps; -1 for none.
int enemy_hit_by(const World* world, const Bullet& b) {
    for (uint64_t live = world->enemySlots; live != 0; live &= live - 1) {
        const int j = lowest_slot(live);
        const Enemy& enemy = world->enemies[j];
        if (boxes_touch(b.x, b.y, enemy.x, enemy.y, HIT_BOX_X, HIT_BOX_Y)) return j;
    }
    return -1;
}

// player bullets against enemies
void player_bullets_hit(World* world) {
    const Band band = enemy_band(world);
    each_bullet<PLAYER_BULLETS>(world, [world, band](int i) {
        Bullet& b = world->bullets[i];
        if (!(b.y > band.top && b.y < band.bottom)) return;
        // A bullet hits at most one enemy: the lowest slot it overlaps.
        const int j = enemy_hit_by(world, b);
        if (j < 0) return;
        Enemy& enemy = world->enemies[j];
        remove_bullet(world, b);
        enemy.hp -= b.damage;
        enemy.hit = ENEMY_HIT_FLASH;
        if (enemy.hp <= 0) {
            const int32_t points = POINTS_PER_RANK * (enemy.type + 1);
            world->score += points;
            event_add_enemy(world, EVENT_DESTROYED, CAUSE_SHOT, enemy.type, points, enemy.x, enemy.y);
            remove_enemy(world, enemy);
        } else {
            explosion_add(world, b.x, b.y, EXPLOSION_HIT);
        }
    });
}

// enemy bullets against the player
void enemy_bullets_hit(World* world) {
    each_bullet<ENEMY_BULLETS>(world, [world](int i) {
        Bullet& b = world->bullets[i];
        if (!boxes_touch(b.x, b.y, world->px, world->py, HIT_BOX_X, HIT_BOX_Y)) return;
        remove_bullet(world, b);
        if (world->shield > 0) {
            damage_player(world, b.damage, CAUSE_BULLET);  // the shield takes it
            explosion_add(world, b.x, b.y, EXPLOSION_SHIELD);
        } else {
            damage_player(world, b.damage, CAUSE_BULLET);
            explosion_add(world, b.x, b.y, EXPLOSION_DESTROY);
        }
    });
}

// collisions with the ship
void enemies_ram_ship(World* world) {
    each_slot(world->enemySlots, 0, [world](int i) {
        Enemy& enemy = world->enemies[i];
        if (!boxes_touch(enemy.x, enemy.y, world->px, world->py, RAM_BOX_X, RAM_BOX_Y)) return;
        // A ram earns no points, and destroys the enemy under the shield too.
        event_add_enemy(world, EVENT_DESTROYED, CAUSE_RAM, enemy.type, 0, enemy.x, enemy.y);
        damage_player(world, RAM_DAMAGE, CAUSE_RAM);
        remove_enemy(world, enemy);
    });
}

// explosions fade
void fade_explosions(World* world) {
    each_slot(world->explosionSlots, 0, [world](int i) {
        Explosion& e = world->explosions[i];
        if (--e.life <= 0) world->explosionSlots &= ~(uint32_t{1} << i);
    });
}

// judgement: defeat first, then the next wave or victory
void judge(World* world) {
    if (world->health <= 0) {
        world->status = GAME_DEFEAT;
        event_add(world, EVENT_DEFEAT, CAUSE_NONE, 0, world->px, world->py);
        return;
    }
    if (world->toSpawn != 0 || world->enemiesAlive != 0) return;
    if (world->wave >= WAVE_COUNT) {
        world->status = GAME_VICTORY;
        event_add(world, EVENT_VICTORY, CAUSE_NONE, 0, world->px, world->py);
        return;
    }
    world->wave++;
    event_add(world, EVENT_WAVE, CAUSE_NONE, world->wave, world->px, world->py);
    world->toSpawn = wave_size(world->wave, world->level);
    world->spawnTimer = WAVE_SPAWN_DELAY;
}

}  // namespace

void world_tick(World* world) {
    events_begin_tick(world);
    if (world == nullptr || match_over(world)) return;
    advance_clock(world);
    run_timers(world);
    spawn_enemies(world);
    move_enemies(world);
    fly_bullets(world);
    player_bullets_hit(world);
    enemy_bullets_hit(world);
    enemies_ram_ship(world);
    fade_explosions(world);
    judge(world);
}

}  // namespace prendax
