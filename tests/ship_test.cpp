// The ship interface: moves, shots, the shield, the built-in queries, the host
// record and the reserved variables, driven as the match loop drives them.
#include "game/ship.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "game/tick.h"
#include "game/world.h"

namespace prendax {
namespace {

int live_bullets(const World& w, int32_t friendly) {
    int n = 0;
    for (const Bullet& b : w.bullets) n += b.alive && b.friendly == friendly;
    return n;
}

int live_explosions(const World& w) {
    int n = 0;
    for (const Explosion& e : w.explosions) n += e.life > 0;
    return n;
}

void put_enemy(World& w, int slot, double x, double y, int32_t alive = 1) {
    w.enemies[slot] = Enemy{};
    w.enemies[slot].x = x;
    w.enemies[slot].y = y;
    w.enemies[slot].alive = alive;
    w.enemies[slot].hp = 1;
    if (alive) w.enemiesAlive++;
    world_index_slots(&w);
}

TEST(ShipMove, StepsAndClampsToTheBand) {
    struct Case {
        double px, py;
        int32_t direction;
        double expectedX, expectedY;
    };
    const Case cases[] = {
        {240, 500, 0, 240, 482}, {240, 500, 1, 240, 518}, {240, 500, 2, 224, 500}, {240, 500, 3, 256, 500},
        {30, 500, 2, 24, 500},   {240, 600, 1, 240, 604}, {240, 340, 0, 240, 330}, {450, 500, 3, 456, 500},
        {24, 330, 2, 24, 330},   {456, 604, 3, 456, 604}, {240, 500, 4, 240, 500}, {240, 500, -1, 240, 500},
        {500, 700, 9, 456, 604},  // clamped whatever the direction
        {10, 100, 3, 26, 330},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.px << "," << c.py << " dir " << c.direction);
        World w;
        world_init(&w, 1, 1);
        w.px = c.px;
        w.py = c.py;
        ship_move(&w, c.direction);
        EXPECT_EQ(w.px, c.expectedX);
        EXPECT_EQ(w.py, c.expectedY);
    }
}

TEST(ShipShoot, OneBulletPerCooldown) {
    World w;
    world_init(&w, 1, 1);
    w.bullets[0].alive = 1;  // an enemy bullet already in the first slot
    world_index_slots(&w);
    w.px = 100.0;
    w.py = 400.0;
    ship_shoot(&w);
    ship_shoot(&w);  // same tick: the cooldown is 7 already
    EXPECT_EQ(w.shootCooldown, 7);
    EXPECT_EQ(live_bullets(w, 1), 1);
    const Bullet& b = w.bullets[1];
    EXPECT_EQ(b.alive, 1);
    EXPECT_EQ(b.friendly, 1);
    EXPECT_EQ(b.x, 100.0);
    EXPECT_EQ(b.y, 378.0);
    EXPECT_EQ(b.vy, -7.0);
    EXPECT_EQ(b.damage, 1);
    EXPECT_EQ(w.bullets[2].alive, 0);
}

TEST(ShipShoot, FullTableStillStartsTheCooldownAndEndedMatchDoesNothing) {
    World w;
    world_init(&w, 1, 1);
    for (Bullet& b : w.bullets) b = Bullet{5.0, 5.0, 2.0, 1, 0, 9};
    world_index_slots(&w);
    ship_shoot(&w);
    EXPECT_EQ(w.shootCooldown, 7);
    EXPECT_EQ(live_bullets(w, 1), 0);

    for (int32_t status : {GAME_VICTORY, GAME_DEFEAT}) {
        world_init(&w, 1, 1);
        w.status = status;
        ship_shoot(&w);
        EXPECT_EQ(w.shootCooldown, 0);
        EXPECT_EQ(live_bullets(w, 1), 0);
    }
}

TEST(ShipShoot, FiringEveryTickGivesABulletEverySevenTicks) {
    World w;
    world_init(&w, 1, 1);
    int fired[8] = {};
    int count = 0;
    for (int t = 1; t <= 30; t++) {
        world_tick(&w);
        int before = live_bullets(w, 1);
        ship_shoot(&w);
        if (live_bullets(w, 1) > before && count < 8) fired[count++] = w.ticks;
    }
    ASSERT_EQ(count, 5);
    const int expected[] = {1, 8, 15, 22, 29};
    for (int i = 0; i < 5; i++) EXPECT_EQ(fired[i], expected[i]);
}

TEST(ShipShield, RaiseCooldownAndEndedMatch) {
    World w;
    world_init(&w, 1, 1);
    w.px = 100.0;
    w.py = 400.0;
    ship_shield(&w);
    EXPECT_EQ(w.shield, 180);
    EXPECT_EQ(w.shieldCooldown, 600);
    ASSERT_EQ(live_explosions(w), 1);
    EXPECT_EQ(w.explosions[0].x, 100.0);
    EXPECT_EQ(w.explosions[0].y, 400.0);
    EXPECT_EQ(w.explosions[0].kind, EXPLOSION_SHIELD);
    EXPECT_EQ(w.explosions[0].life, 36);

    // During the cooldown nothing changes and no explosion starts.
    w.shield = 3;
    w.shieldCooldown = 1;
    ship_shield(&w);
    EXPECT_EQ(w.shield, 3);
    EXPECT_EQ(w.shieldCooldown, 1);
    EXPECT_EQ(live_explosions(w), 1);

    world_init(&w, 1, 1);
    w.status = GAME_DEFEAT;
    ship_shield(&w);
    EXPECT_EQ(w.shield, 0);
    EXPECT_EQ(w.shieldCooldown, 0);
    EXPECT_EQ(live_explosions(w), 0);
}

TEST(ShipShield, ProtectsForTheNext179TicksAndReturnsAfter600) {
    World w;
    world_init(&w, 1, 1);
    // One enemy parked above the fire band keeps the wave open; nothing else spawns.
    put_enemy(w, 0, 400.0, 0.0);
    w.toSpawn = 0;

    world_tick(&w);  // tick T
    ship_shield(&w);
    ASSERT_EQ(w.shield, 180);
    for (int k = 1; k <= 600; k++) {
        SCOPED_TRACE(k);
        bool probe = k == 1 || k == 179 || k == 180;
        if (probe) {
            w.bullets[0] = Bullet{w.px, w.py - 2.0, 2.0, 1, 0, 9};  // lands on the ship
            world_index_slots(&w);
        }
        int32_t health = w.health;
        world_tick(&w);  // tick T + k
        ASSERT_EQ(w.status, GAME_PLAYING);
        EXPECT_EQ(w.shield > 0, k <= 179);
        if (probe) {
            EXPECT_EQ(w.bullets[0].alive, 0);
            EXPECT_EQ(w.health, k <= 179 ? health : health - 9);
        }
        ship_shield(&w);
        ASSERT_EQ(w.shield == 180, k == 600) << "the shield can be raised again only in tick T+600";
    }
}

TEST(Builtins, RandomDrawsOnlyForAWholeNumberOfAtLeastOne) {
    struct Case {
        double argument;
        double result;
        bool draws;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // From seed 1 the first draw is 270369.
    const Case cases[] = {
        {0.0, 0.0, false},          {-3.0, 0.0, false},  {0.9, 0.0, false},     {-0.5, 0.0, false},
        {nan, 0.0, false},          {3e9, 0.0, false},   {-3e9, 0.0, false},    {1.0, 0.0, true},
        {6.7, 3.0, true},           {100.0, 69.0, true}, {1e6, 270369.0, true}, {2147483647.0, 270369.0, true},
        {2147483647.5, 0.0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.argument);
        World w;
        world_init(&w, 1, 1);
        EXPECT_EQ(world_builtin(&w, 3, c.argument, 1), c.result);
        EXPECT_EQ(w.rng, c.draws ? 270369u : 1u);
    }
}

TEST(Builtins, RandomCoversItsWholeRange) {
    World w;
    world_init(&w, 2, 99);
    int seen[6] = {};
    for (int i = 0; i < 600; i++) {
        double r = world_builtin(&w, 3, 6.7, 1);
        ASSERT_EQ(r, std::floor(r));
        ASSERT_GE(r, 0.0);
        ASSERT_LE(r, 5.0);
        seen[static_cast<int>(r)]++;
    }
    for (int v = 0; v < 6; v++) EXPECT_GT(seen[v], 0) << v;
}

TEST(Builtins, ScansAheadLeftAndRight) {
    struct Case {
        const char* name;
        double x, y;
        int32_t alive;
        double ahead, left, right;
    };
    // The ship is at (240, 500); "above" is a smaller y.
    const Case cases[] = {
        {"exactly 8 above", 240, 492, 1, 0, 0, 0},
        {"just over 8 above", 240, 491.9, 1, 1, 0, 0},
        {"ahead and to the right", 269.9, 480, 1, 1, 0, 1},
        {"30 sideways is not ahead", 270, 480, 1, 0, 0, 1},
        {"30 to the left is not ahead", 210, 480, 1, 0, 1, 0},
        {"exactly 16 left", 224, 480, 1, 1, 0, 0},
        {"just over 16 left", 223.9, 480, 1, 1, 1, 0},
        {"exactly 16 right", 256, 480, 1, 1, 0, 0},
        {"just over 16 right", 256.1, 480, 1, 1, 0, 1},
        {"same height left", 100, 500, 1, 0, 0, 0},
        {"same height right", 400, 500, 1, 0, 0, 0},
        {"below", 240, 520, 1, 0, 0, 0},
        {"far above on the left", 24, -50, 1, 0, 1, 0},
        {"not alive", 240, 400, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        World w;
        world_init(&w, 1, 1);
        w.px = 240.0;
        w.py = 500.0;
        put_enemy(w, 30, c.x, c.y, c.alive);
        EXPECT_EQ(world_builtin(&w, 0, 0.0, 0), c.ahead);
        EXPECT_EQ(world_builtin(&w, 1, 0.0, 0), c.left);
        EXPECT_EQ(world_builtin(&w, 2, 0.0, 0), c.right);
        EXPECT_EQ(world_builtin(&w, 4, 5.0, 1), 0.0);
        EXPECT_EQ(world_builtin(&w, -1, 5.0, 1), 0.0);
        EXPECT_EQ(w.rng, 1u) << "scans never draw";
    }
}

TEST(Builtins, ScanFindsAnyMatchingEnemyAmongOthers) {
    World w;
    world_init(&w, 1, 1);
    put_enemy(w, 0, 240, 600);  // below: matches nothing
    put_enemy(w, 1, 50, 100, 0);
    put_enemy(w, 47, 400, 100);  // the last slot, to the right
    EXPECT_EQ(world_builtin(&w, 2, 0.0, 0), 1.0);
    EXPECT_EQ(world_builtin(&w, 1, 0.0, 0), 0.0);
    EXPECT_EQ(world_builtin(&w, 0, 0.0, 0), 0.0);
}

TEST(Host, OperationsReachTheWorldThroughTheContext) {
    World w;
    world_init(&w, 1, 1);
    VmHost host = world_host(&w);
    ASSERT_EQ(host.context, &w);
    ASSERT_NE(host.move, nullptr);
    ASSERT_NE(host.shoot, nullptr);
    ASSERT_NE(host.shield, nullptr);
    ASSERT_NE(host.builtin, nullptr);
    ASSERT_NE(host.gameStatus, nullptr);
    host.move(host.context, 2);
    EXPECT_EQ(w.px, 224.0);
    host.shoot(host.context);
    EXPECT_EQ(live_bullets(w, 1), 1);
    host.shield(host.context);
    EXPECT_EQ(w.shield, 180);
    EXPECT_EQ(host.builtin(host.context, 3, 100.0, 1), 69.0);
    for (int32_t status : {GAME_PLAYING, GAME_VICTORY, GAME_DEFEAT}) {
        w.status = status;
        EXPECT_EQ(host.gameStatus(host.context), status);
        EXPECT_EQ(world_status(&w), status);
    }
}

TEST(Reserved, SyncCopiesSixValuesIntoTheVariablesThereAre) {
    struct Case {
        int32_t varCount;
        int32_t shield;
        double expected[8];  // -1 marks a variable that must stay untouched
    };
    const Case cases[] = {
        {8, 5, {73, 40, 3, 2, 1, 321, -1, -1}},   {8, 0, {73, 40, 3, 2, 0, 321, -1, -1}},
        {6, 1, {73, 40, 3, 2, 1, 321, -1, -1}},   {3, 5, {73, 40, 3, -1, -1, -1, -1, -1}},
        {0, 5, {-1, -1, -1, -1, -1, -1, -1, -1}},
    };
    static Vm vm;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "varCount " << c.varCount << " shield " << c.shield);
        std::memset(&vm, 0, sizeof vm);
        vm.varCount = c.varCount;
        for (int i = 0; i < 8; i++) vm.vars[i].value = -1.0;
        World w;
        world_init(&w, 2, 1);
        w.health = 73;
        w.score = 40;
        w.enemiesAlive = 3;
        w.shield = c.shield;
        w.ticks = 321;
        sync_reserved(&vm, &w);
        for (int i = 0; i < 8; i++) EXPECT_EQ(vm.vars[i].value, c.expected[i]) << "variable " << i;
    }
}

TEST(Reserved, LevelIsTheWorldsAndEnemiesLeftIsZeroBetweenWaves) {
    static Vm vm;
    std::memset(&vm, 0, sizeof vm);
    vm.varCount = 6;
    World w;
    world_init(&w, 7, 1);
    // Wave 1 cleared in this tick: the last enemy rams the ship.
    put_enemy(w, 0, 240, 560);
    w.toSpawn = 0;
    world_tick(&w);
    ASSERT_EQ(w.wave, 2);
    ASSERT_GT(w.toSpawn, 0);
    sync_reserved(&vm, &w);
    EXPECT_EQ(vm.vars[2].value, 0.0);  // enemies_left
    EXPECT_EQ(vm.vars[3].value, 3.0);  // level 7 was clamped to 3
    EXPECT_EQ(vm.vars[0].value, 80.0);
    EXPECT_EQ(vm.vars[5].value, 1.0);
}

TEST(AbsentWorld, ShipOperationsDoNothing) {
    world_tick(nullptr);
    ship_move(nullptr, 0);
    ship_shoot(nullptr);
    ship_shield(nullptr);
    EXPECT_EQ(world_builtin(nullptr, 3, 10.0, 1), 0.0);
    EXPECT_EQ(world_status(nullptr), GAME_PLAYING);
    VmHost host = world_host(nullptr);
    host.move(host.context, 1);
    EXPECT_EQ(host.builtin(host.context, 0, 0.0, 0), 0.0);
    static Vm vm;
    std::memset(&vm, 0, sizeof vm);
    vm.varCount = 6;
    vm.vars[0].value = -1.0;
    sync_reserved(&vm, nullptr);
    EXPECT_EQ(vm.vars[0].value, -1.0);
    World w;
    world_init(&w, 1, 1);
    sync_reserved(nullptr, &w);
}

}  // namespace
}  // namespace prendax
