// The world record at the start of a match, the random generator and the
// explosion slots.
#include "game/world.h"

#include <gtest/gtest.h>

#include <cstring>

namespace prendax {
namespace {

TEST(WorldInit, LevelIsClampedAndSetsTheFirstWave) {
    struct Case {
        int32_t asked;
        int32_t level;
        int32_t toSpawn;
    };
    const Case cases[] = {
        {0, 1, 5}, {-4, 1, 5}, {1, 1, 5}, {2, 2, 6}, {3, 3, 7}, {7, 3, 7}, {INT32_MIN, 1, 5}, {INT32_MAX, 3, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.asked);
        World w;
        std::memset(&w, 0x5A, sizeof w);  // garbage that world_init must wipe
        world_init(&w, c.asked, 9);
        EXPECT_EQ(w.level, c.level);
        EXPECT_EQ(w.toSpawn, c.toSpawn);
        EXPECT_EQ(w.px, 240.0);
        EXPECT_EQ(w.py, 560.0);
        EXPECT_EQ(w.health, 100);
        EXPECT_EQ(w.score, 0);
        EXPECT_EQ(w.wave, 1);
        EXPECT_EQ(w.shield, 0);
        EXPECT_EQ(w.shieldCooldown, 0);
        EXPECT_EQ(w.shootCooldown, 0);
        EXPECT_EQ(w.ticks, 0);
        EXPECT_EQ(w.spawnTimer, 20);
        EXPECT_EQ(w.enemiesAlive, 0);
        EXPECT_EQ(w.status, 0);
        EXPECT_EQ(w.rng, 9u);
        EXPECT_EQ(w.hitFlash, 0);
        EXPECT_EQ(w.width, 480);
        EXPECT_EQ(w.height, 640);
        for (const Enemy& e : w.enemies) EXPECT_EQ(e.alive, 0);
        for (const Bullet& b : w.bullets) EXPECT_EQ(b.alive, 0);
        for (const Explosion& e : w.explosions) EXPECT_EQ(e.life, 0);
    }
}

TEST(WorldInit, EveryByteIsSetSoEqualStartsCompareEqual) {
    World a;
    World b;
    std::memset(&a, 0x11, sizeof a);
    std::memset(&b, 0xEE, sizeof b);
    world_init(&a, 2, 77);
    world_init(&b, 2, 77);
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
    world_init(&b, 2, 78);
    EXPECT_NE(std::memcmp(&a, &b, sizeof a), 0);
}

TEST(Rng, SeedsAndXorshiftSequence) {
    World w;
    world_init(&w, 1, 0);
    EXPECT_EQ(w.rng, 0xB17E0A55u);
    // 0xB17E0A55 -> ^<<13 0x7034AA55 -> ^>>17 0x7034924F -> ^<<5 0x76A6DBAF.
    EXPECT_EQ(rng_next(&w), 0x76A6DBAFu);

    world_init(&w, 1, 1);
    EXPECT_EQ(w.rng, 1u);
    // 1 ^ 1<<13 = 8193; 8193 >> 17 = 0; 8193 ^ 8193<<5 = 8193 ^ 262176 = 270369.
    EXPECT_EQ(rng_next(&w), 270369u);
    EXPECT_EQ(w.rng, 270369u);
    const uint32_t next[] = {67634689u, 2647435461u, 307599695u, 2398689233u, 745495504u};
    for (uint32_t expected : next) EXPECT_EQ(rng_next(&w), expected);
    EXPECT_EQ(w.rng, 745495504u);

    // Bits shifted out at the top are lost: 0x80000000 -> ^<<13 0x80000000 -> ^>>17 0x80004000 -> ^<<5 0x80084000.
    world_init(&w, 1, 0x80000000u);
    EXPECT_EQ(rng_next(&w), 0x80084000u);
}

TEST(Rng, RemainderAndFraction) {
    struct Case {
        uint32_t draw;
        double fraction;
    };
    const Case cases[] = {
        {0u, 0.0}, {99999u, 0.99999}, {100000u, 0.0}, {123456789u, 0.56789}, {0xFFFFFFFFu, 0.67295},
    };
    for (const Case& c : cases) EXPECT_EQ(rng_fraction(c.draw), c.fraction) << c.draw;
    EXPECT_EQ(rng_remainder(270369u, 100u), 69u);
    EXPECT_EQ(rng_remainder(0xFFFFFFFFu, 150u), 0xFFFFFFFFu % 150u);
    EXPECT_EQ(rng_remainder(7u, 1u), 0u);
    EXPECT_EQ(rng_remainder(7u, 0u), 0u);  // no trap on a zero divisor
}

TEST(Explosions, FirstFreeSlotAndLifeByKind) {
    World w;
    world_init(&w, 1, 1);
    explosion_add(&w, 10.0, 20.0, EXPLOSION_HIT);
    explosion_add(&w, 30.0, 40.0, EXPLOSION_SHIELD);
    explosion_add(&w, 50.0, 60.0, EXPLOSION_DESTROY);
    const Explosion expected[] = {
        {10.0, 20.0, 24, 24, EXPLOSION_HIT},
        {30.0, 40.0, 36, 36, EXPLOSION_SHIELD},
        {50.0, 60.0, 24, 24, EXPLOSION_DESTROY},
    };
    for (int i = 0; i < 3; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(w.explosions[i].x, expected[i].x);
        EXPECT_EQ(w.explosions[i].y, expected[i].y);
        EXPECT_EQ(w.explosions[i].life, expected[i].life);
        EXPECT_EQ(w.explosions[i].maxLife, expected[i].maxLife);
        EXPECT_EQ(w.explosions[i].kind, expected[i].kind);
    }
    EXPECT_EQ(w.explosions[3].life, 0);

    // A slot whose life ran out (or below) is free again and is taken before any later one.
    w.explosions[1].life = 0;
    world_index_slots(&w);
    explosion_add(&w, 1.0, 2.0, EXPLOSION_DESTROY);
    EXPECT_EQ(w.explosions[1].kind, EXPLOSION_DESTROY);
    EXPECT_EQ(w.explosions[1].life, 24);
    EXPECT_EQ(w.explosions[3].life, 0);
}

TEST(Explosions, FullTableReplacesTheLeastLifeLowestSlotFirst) {
    struct Life {
        int slot;
        int32_t life;
    };
    struct Case {
        const char* name;
        Life lives[3];  // over a table where every slot has 30 left; slot -1 ends the list
        int expectedSlot;
    };
    const Case cases[] = {
        {"single smallest", {{13, 2}, {-1, 0}, {-1, 0}}, 13},
        {"tie goes to the lowest", {{17, 3}, {5, 3}, {20, 3}}, 5},
        {"all equal", {{-1, 0}, {-1, 0}, {-1, 0}}, 0},
        {"last slot", {{23, 1}, {-1, 0}, {-1, 0}}, 23},
        {"a spent slot beats a live one with less", {{3, 1}, {9, 0}, {-1, 0}}, 9},
        {"the first spent slot, not the most spent", {{4, -1}, {9, -5}, {-1, 0}}, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        World w;
        world_init(&w, 1, 1);
        for (int i = 0; i < MAX_EXPLOSIONS; i++) {
            w.explosions[i] = Explosion{static_cast<double>(i), 0.0, 30, 36, EXPLOSION_HIT};
        }
        for (const Life& l : c.lives) {
            if (l.slot >= 0) w.explosions[l.slot].life = l.life;
        }
        world_index_slots(&w);
        explosion_add(&w, 99.0, 98.0, EXPLOSION_SHIELD);
        for (int i = 0; i < MAX_EXPLOSIONS; i++) {
            if (i == c.expectedSlot) {
                EXPECT_EQ(w.explosions[i].x, 99.0);
                EXPECT_EQ(w.explosions[i].y, 98.0);
                EXPECT_EQ(w.explosions[i].life, 36);
                EXPECT_EQ(w.explosions[i].kind, EXPLOSION_SHIELD);
            } else {
                EXPECT_EQ(w.explosions[i].x, static_cast<double>(i)) << "slot " << i << " was replaced";
            }
        }
    }
}

TEST(Waves, SizeGrowsWithWaveAndLevel) {
    EXPECT_EQ(wave_size(1, 1), 5);
    EXPECT_EQ(wave_size(2, 1), 6);
    EXPECT_EQ(wave_size(3, 3), 9);
}

TEST(AbsentWorld, OperationsDoNothing) {
    world_init(nullptr, 1, 1);
    explosion_add(nullptr, 1.0, 2.0, EXPLOSION_HIT);
    EXPECT_EQ(rng_next(nullptr), 0u);
}

}  // namespace
}  // namespace prendax
