// Cost of the game tick: one tick with every slot table full, the copy that
// restores the full tables before each such tick, and whole 900-tick matches;
// and the game's sine beside the C library's, over the angles a match computes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "game/ship.h"
#include "game/sine.h"
#include "game/tick.h"
#include "game/world.h"

namespace prendax {
namespace {

// A live enemy descending at 0.5 with its gun cooling for 500 ticks.
void put_enemy(World* w, int slot, double x, double y, double phase, EnemyType type) {
    w->enemies[slot] = Enemy{x, y, 0.5, phase, type + 1, type, 1, 500, 0};
    w->enemiesAlive++;
}

// Every slot in use: 48 enemies high on the field with their guns cooling, 128
// player bullets below them (each one tested against every enemy, none hitting),
// 24 explosions fading. Nothing spawns and no wave ends during the tick.
void fill_tables(World* w) {
    world_init(w, 3, 12345);
    w->spawnTimer = 1000;
    for (int i = 0; i < MAX_ENEMIES; i++) {
        const int column = i % 12;
        const int row = i / 12;  // twelve enemies to a row
        put_enemy(w, i, 30.0 + column * 36.0, 60.0 + row * 40.0, i * 0.1, ENEMY_HEAVY);
    }
    for (int i = 0; i < MAX_BULLETS; i++) {
        Bullet& b = w->bullets[i];
        b.x = 24.0 + i * 3.0;
        b.y = 420.0 + (i % 16) * 5.0;
        b.vy = -7.0;
        b.alive = 1;
        b.friendly = 1;
        b.damage = 1;
    }
    for (int i = 0; i < MAX_EXPLOSIONS; i++) explosion_add(w, 10.0 * i, 300.0, static_cast<ExplosionKind>(i % 3));
    world_index_slots(w);
}

World g_snapshot;
World g_world;

void BM_CopySnapshot(benchmark::State& state) {
    fill_tables(&g_snapshot);
    for (auto _ : state) {
        std::memcpy(&g_world, &g_snapshot, sizeof g_world);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_CopySnapshot);

// Includes one BM_CopySnapshot per iteration; subtract it for the tick alone.
void BM_TickFullTables(benchmark::State& state) {
    fill_tables(&g_snapshot);
    for (auto _ : state) {
        std::memcpy(&g_world, &g_snapshot, sizeof g_world);
        world_tick(&g_world);
        benchmark::ClobberMemory();
    }
    // Check once that the tick really ran on full tables.
    if (g_world.enemiesAlive != MAX_ENEMIES || g_world.enemySlots != ALL_ENEMY_SLOTS ||
        g_world.bullets[MAX_BULLETS - 1].alive == 0 || g_world.explosions[MAX_EXPLOSIONS - 1].life <= 0) {
        state.SkipWithError("the tables did not stay full");
    }
}
BENCHMARK(BM_TickFullTables);

// A tick as most ticks of a match are: three enemies, a dozen bullets of both
// sides in flight, two explosions fading.
void fill_few(World* w) {
    world_init(w, 2, 12345);
    w->spawnTimer = 1000;
    for (int i = 0; i < 3; i++) put_enemy(w, i * 5, 100.0 + i * 120.0, 80.0 + i * 30.0, i * 0.7, ENEMY_MEDIUM);
    for (int i = 0; i < 12; i++) {
        Bullet& b = w->bullets[i];
        const bool friendly = i % 3 != 0;
        b = Bullet{friendly ? 240.0 : 100.0 + i * 20.0,
                   friendly ? 520.0 - i * 35.0 : 150.0 + i * 10.0,
                   friendly ? -7.0 : 2.4,
                   1,
                   friendly ? 1 : 0,
                   friendly ? 1 : 12};
    }
    explosion_add(w, 100.0, 100.0, EXPLOSION_HIT);
    explosion_add(w, 300.0, 200.0, EXPLOSION_DESTROY);
    world_index_slots(w);
}

World g_fewSnapshot;

// Includes one copy of the world per iteration, as BM_TickFullTables does.
void BM_TickFewEntities(benchmark::State& state) {
    fill_few(&g_fewSnapshot);
    for (auto _ : state) {
        std::memcpy(&g_world, &g_fewSnapshot, sizeof g_world);
        world_tick(&g_world);
        benchmark::ClobberMemory();
    }
    if (g_world.enemiesAlive != 3 || g_world.bullets[11].alive == 0) state.SkipWithError("the entities did not stay");
}
BENCHMARK(BM_TickFewEntities);

// A whole match of world ticks alone: enemies spawn, fire and escape.
void BM_Match900Ticks(benchmark::State& state) {
    uint32_t seed = 1;
    for (auto _ : state) {
        world_init(&g_world, 3, seed++);
        for (int t = 0; t < 900; t++) world_tick(&g_world);
        benchmark::DoNotOptimize(g_world.score);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 900);
}
BENCHMARK(BM_Match900Ticks);

// The same with a ship that steers, fires and shields after every tick, as a
// robot program would through the host.
void BM_Match900TicksWithShip(benchmark::State& state) {
    uint32_t seed = 1;
    for (auto _ : state) {
        world_init(&g_world, 3, seed++);
        for (int t = 0; t < 900; t++) {
            world_tick(&g_world);
            if (world_builtin(&g_world, 1, 0.0, 0) != 0.0) ship_move(&g_world, 2);
            if (world_builtin(&g_world, 2, 0.0, 0) != 0.0) ship_move(&g_world, 3);
            if (world_builtin(&g_world, 0, 0.0, 0) != 0.0) ship_shoot(&g_world);
            ship_shield(&g_world);
        }
        benchmark::DoNotOptimize(g_world.score);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 900);
}
BENCHMARK(BM_Match900TicksWithShip);

// The angles of the enemies' drift for 4096 spread draws of the phase.
std::vector<double> drift_angles() {
    std::vector<double> angles;
    uint32_t draw = 12345u;
    for (int i = 0; i < 4096; i++) {
        draw = draw * 1664525u + 1013904223u;
        angles.push_back(drift_angle(1 + i % 3000, rng_fraction(draw) * PHASE_SPAN));
    }
    return angles;
}

template <double (*Sine)(double)>
void sine_sweep(benchmark::State& state) {
    const std::vector<double> angles = drift_angles();
    for (auto _ : state) {
        double sum = 0.0;
        for (double x : angles) sum += Sine(x);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(angles.size()));
}

double library_sine(double x) { return std::sin(x); }

void BM_SineOfTheGame(benchmark::State& state) { sine_sweep<sine>(state); }
BENCHMARK(BM_SineOfTheGame);

void BM_SineOfTheCLibrary(benchmark::State& state) { sine_sweep<library_sine>(state); }
BENCHMARK(BM_SineOfTheCLibrary);

}  // namespace
}  // namespace prendax

BENCHMARK_MAIN();
