// The world: the start of a match by level and seed, the one random generator
// every decision draws from, and the explosion slots.
#include "game/world.h"

#include <cstring>

namespace prendax {

void world_init(World* world, int32_t level, uint32_t seed) {
    if (world == nullptr) return;
    // Every byte zero, padding included, so two matches of one seed compare equal byte for byte.
    std::memset(world, 0, sizeof *world);
    world->px = PLAYER_START_X;
    world->py = PLAYER_START_Y;
    world->health = PLAYER_START_HEALTH;
    world->width = FIELD_WIDTH;
    world->height = FIELD_HEIGHT;
    world->wave = FIRST_WAVE;
    world->spawnTimer = WAVE_SPAWN_DELAY;
    world->level = level < MIN_LEVEL ? MIN_LEVEL : (level > MAX_LEVEL ? MAX_LEVEL : level);
    world->rng = seed == 0 ? ZERO_SEED_STATE : seed;
    world->toSpawn = wave_size(FIRST_WAVE, world->level);
}

int32_t wave_size(int32_t wave, int32_t level) { return wave + level + WAVE_EXTRA_ENEMIES; }

uint32_t rng_next(World* world) {
    if (world == nullptr) return 0;
    uint32_t s = world->rng;
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    world->rng = s;
    return s;
}

uint32_t rng_remainder(uint32_t draw, uint32_t m) {
    // No caller divides by zero; should one, the answer is 0 rather than a trap.
    if (m == 0) return 0;
    return draw % m;
}

double rng_fraction(uint32_t draw) {
    return static_cast<double>(draw % FRACTION_SCALE) / static_cast<double>(FRACTION_SCALE);
}

// The slot a new explosion takes: the first free one, or, with all in use, the
// one with the least life left (the lowest index among equals).
static int explosion_slot(const World* world) {
    if (world->explosionSlots != ALL_EXPLOSION_SLOTS) return lowest_slot(~world->explosionSlots);
    int best = 0;
    for (int i = 1; i < MAX_EXPLOSIONS; i++) {
        if (world->explosions[i].life < world->explosions[best].life) best = i;
    }
    return best;
}

void explosion_add(World* world, double x, double y, ExplosionKind kind) {
    if (world == nullptr) return;
    const int slot = explosion_slot(world);
    Explosion& e = world->explosions[slot];
    e.x = x;
    e.y = y;
    e.kind = kind;
    e.life = kind == EXPLOSION_SHIELD ? SHIELD_EXPLOSION_LIFE : EXPLOSION_LIFE;
    e.maxLife = e.life;
    world->explosionSlots |= uint32_t{1} << slot;
}

Bullet* bullet_add(World* world, double x, double y, double vy, int32_t damage, int32_t friendly) {
    if (world == nullptr) return nullptr;
    for (int word = 0; word < MAX_BULLETS / 64; word++) {
        const uint64_t free = ~world->bulletSlots[word];
        if (free == 0) continue;
        const int slot = lowest_slot(free);
        world->bulletSlots[word] |= uint64_t{1} << slot;
        if (friendly) world->playerBullets[word] |= uint64_t{1} << slot;
        Bullet& b = world->bullets[word * 64 + slot];
        b.x = x;
        b.y = y;
        b.vy = vy;
        b.damage = damage;
        b.alive = 1;
        b.friendly = friendly;
        return &b;
    }
    return nullptr;
}

void world_index_slots(World* world) {
    if (world == nullptr) return;
    world->enemySlots = 0;
    for (int i = 0; i < MAX_ENEMIES; i++) {
        if (world->enemies[i].alive) world->enemySlots |= uint64_t{1} << i;
    }
    for (int word = 0; word < MAX_BULLETS / 64; word++) {
        world->bulletSlots[word] = 0;
        world->playerBullets[word] = 0;
    }
    for (int i = 0; i < MAX_BULLETS; i++) {
        const Bullet& b = world->bullets[i];
        if (b.alive) world->bulletSlots[i / 64] |= uint64_t{1} << (i % 64);
        if (b.alive && b.friendly) world->playerBullets[i / 64] |= uint64_t{1} << (i % 64);
    }
    world->explosionSlots = 0;
    for (int i = 0; i < MAX_EXPLOSIONS; i++) {
        if (world->explosions[i].life > 0) world->explosionSlots |= uint32_t{1} << i;
    }
}

}  // namespace prendax
