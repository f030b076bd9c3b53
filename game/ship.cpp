// The ship interface: the moves, shots, shield and queries that the robot
// program reaches through the VM's host record, and the copy of six game values
// into the program's reserved variables around every run of the machine.
#include "game/ship.h"

#include "game/events.h"
#include "vm/runtime_contract.h"

namespace prendax {

namespace {

constexpr double MOVE_STEP_Y = 18.0;       // one MOVE UP or DOWN
constexpr double MOVE_STEP_X = 16.0;       // one MOVE LEFT or RIGHT
constexpr double SHIP_MIN_X = 24.0;        // the ship stays in the band x 24 ...
constexpr double SHIP_MAX_X = 456.0;       // ... to 456
constexpr double SHIP_MIN_Y = 330.0;       // and y 330 ...
constexpr double SHIP_MAX_Y = 604.0;       // ... to 604
constexpr double SHOT_OFFSET = 22.0;       // a player bullet starts 22 above the ship
constexpr double SHOT_SPEED = -7.0;        // and climbs 7 per tick
constexpr int32_t SHOT_DAMAGE = 1;         // one hit point per player bullet
constexpr int32_t SHOOT_COOLDOWN = 7;      // ticks between two shots
constexpr int32_t SHIELD_TICKS = 180;      // ticks the shield stays up
constexpr int32_t SHIELD_COOLDOWN = 600;   // ticks before the shield can be raised again
constexpr double AHEAD_MARGIN = 8.0;       // "ahead" means more than 8 above the ship ...
constexpr double AHEAD_HALF_WIDTH = 30.0;  // ... and less than 30 to either side
constexpr double SIDE_MARGIN = 16.0;       // "left" and "right" mean more than 16 to that side

double clamp(double value, double low, double high) {
    if (value < low) return low;
    if (value > high) return high;
    return value;
}

bool enemy_ahead(const World* world, const Enemy& e) {
    double dx = e.x - world->px;
    return e.y < world->py - AHEAD_MARGIN && (dx < 0 ? -dx : dx) < AHEAD_HALF_WIDTH;
}

bool enemy_left(const World* world, const Enemy& e) { return e.y < world->py && e.x < world->px - SIDE_MARGIN; }

bool enemy_right(const World* world, const Enemy& e) { return e.y < world->py && e.x > world->px + SIDE_MARGIN; }

// 1.0 when some alive enemy passes the test, else 0.0; "above" is a smaller y.
double scan(const World* world, bool (*test)(const World*, const Enemy&)) {
    for (uint64_t live = world->enemySlots; live != 0; live &= live - 1) {
        if (test(world, world->enemies[lowest_slot(live)])) return 1.0;
    }
    return 0.0;
}

// random(n): a whole number 0..n-1; n below 1 (NaN included) gives 0 without a draw.
double random_below(World* world, double argument) {
    int32_t n = vm_whole_number(argument);
    if (n < 1) return 0.0;
    return static_cast<double>(rng_remainder(rng_next(world), static_cast<uint32_t>(n)));
}

World* as_world(void* context) { return static_cast<World*>(context); }

void host_move(void* context, int32_t direction) { ship_move(as_world(context), direction); }
void host_shoot(void* context) { ship_shoot(as_world(context)); }
void host_shield(void* context) { ship_shield(as_world(context)); }
double host_builtin(void* context, int32_t index, double argument, int32_t hasArgument) {
    return world_builtin(as_world(context), index, argument, hasArgument);
}
int32_t host_game_status(void* context) { return world_status(as_world(context)); }

}  // namespace

// Moves take no cooldown: every MOVE executed moves the ship, and the ship is
// clamped to its band whatever the direction.
void ship_move(World* world, int32_t direction) {
    if (world == nullptr) return;
    switch (direction) {
        case DIR_UP: world->py = world->py - MOVE_STEP_Y; break;
        case DIR_DOWN: world->py = world->py + MOVE_STEP_Y; break;
        case DIR_LEFT: world->px = world->px - MOVE_STEP_X; break;
        case DIR_RIGHT: world->px = world->px + MOVE_STEP_X; break;
        default: break;
    }
    world->px = clamp(world->px, SHIP_MIN_X, SHIP_MAX_X);
    world->py = clamp(world->py, SHIP_MIN_Y, SHIP_MAX_Y);
}

// The cooldown starts also when all bullet slots are in flight and nothing is fired.
void ship_shoot(World* world) {
    if (world == nullptr || world->shootCooldown > 0 || world->status != GAME_PLAYING) return;
    const Bullet* b = bullet_add(world, world->px, world->py - SHOT_OFFSET, SHOT_SPEED, SHOT_DAMAGE, 1);
    if (b != nullptr) event_add(world, EVENT_SHOT, CAUSE_NONE, 0, b->x, b->y);
    world->shootCooldown = SHOOT_COOLDOWN;
}

void ship_shield(World* world) {
    if (world == nullptr || world->shieldCooldown > 0 || world->status != GAME_PLAYING) return;
    world->shield = SHIELD_TICKS;
    world->shieldCooldown = SHIELD_COOLDOWN;
    event_add(world, EVENT_SHIELD_UP, CAUSE_NONE, 0, world->px, world->py);
    explosion_add(world, world->px, world->py, EXPLOSION_SHIELD);
}

// hasArgument is not consulted: the compiler fixes each built-in's argument count.
double world_builtin(World* world, int32_t index, double argument, int32_t hasArgument) {
    (void)hasArgument;
    if (world == nullptr) return 0.0;
    switch (index) {
        case BUILTIN_ENEMY_AHEAD: return scan(world, enemy_ahead);
        case BUILTIN_ENEMY_LEFT: return scan(world, enemy_left);
        case BUILTIN_ENEMY_RIGHT: return scan(world, enemy_right);
        case BUILTIN_RANDOM: return random_below(world, argument);
        default: return 0.0;
    }
}

int32_t world_status(const World* world) { return world == nullptr ? GAME_PLAYING : world->status; }

VmHost world_host(World* world) {
    VmHost host{};
    host.context = world;
    host.move = host_move;
    host.shoot = host_shoot;
    host.shield = host_shield;
    host.builtin = host_builtin;
    host.gameStatus = host_game_status;
    // Only world_tick ends a match; the ship's operations never do.
    host.statusChangesOnlyInOperations = 1;
    return host;
}

void sync_reserved(Vm* vm, const World* world) {
    if (vm == nullptr || world == nullptr) return;
    vm_set_reserved(vm, RESERVED_HEALTH, static_cast<double>(world->health));
    vm_set_reserved(vm, RESERVED_SCORE, static_cast<double>(world->score));
    vm_set_reserved(vm, RESERVED_ENEMIES_LEFT, static_cast<double>(world->enemiesAlive));
    vm_set_reserved(vm, RESERVED_LEVEL, static_cast<double>(world->level));
    vm_set_reserved(vm, RESERVED_SHIELD, world->shield > 0 ? 1.0 : 0.0);
    vm_set_reserved(vm, RESERVED_TICKS, static_cast<double>(world->ticks));
}

}  // namespace prendax
