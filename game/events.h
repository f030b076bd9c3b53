// Match events: what happened in a tick, for the tools that ask for it. The
// world records into an attached log (World::events) as things happen; with
// none attached it records nothing and behaves exactly the same. Every change
// of the ship's health and of the score has its event, so the log explains the
// whole course of a match.
#pragma once

#include <cstdint>

#include "compiler/enum_table.h"
#include "game/world.h"

namespace prendax {

enum MatchEventKind : int32_t {
    EVENT_DAMAGE,       // the ship lost `amount` health to `cause`
    EVENT_SHIELD_BLOW,  // the shield took a blow of `amount` from `cause`; no health lost
    EVENT_DESTROYED,    // an enemy of `enemyType` destroyed by `cause`, worth `points`
    EVENT_ESCAPED,      // an enemy of `enemyType` passed the bottom of the field
    EVENT_SHOT,         // the ship fired a bullet
    EVENT_SHIELD_UP,    // the shield was raised
    EVENT_WAVE,         // wave `amount` begins
    EVENT_VICTORY,      // the last wave is cleared
    EVENT_DEFEAT,       // health reached 0
    EVENT_ERROR,        // the program stopped with a run-time error on line `line`
};

struct MatchEventKindRow {
    MatchEventKind value;
    const char* name;
};

inline constexpr MatchEventKindRow MATCH_EVENT_TABLE[] = {
    {EVENT_DAMAGE, "dano"},         {EVENT_SHIELD_BLOW, "escudo_golpe"},
    {EVENT_DESTROYED, "destruido"}, {EVENT_ESCAPED, "escapado"},
    {EVENT_SHOT, "disparo"},        {EVENT_SHIELD_UP, "escudo"},
    {EVENT_WAVE, "oleada"},         {EVENT_VICTORY, "victoria"},
    {EVENT_DEFEAT, "derrota"},      {EVENT_ERROR, "error"},
};
static_assert(table_is_dense(MATCH_EVENT_TABLE) && sizeof(MATCH_EVENT_TABLE) / sizeof(MATCH_EVENT_TABLE[0]) == 10);

enum EventCause : int32_t {
    CAUSE_NONE,
    CAUSE_BULLET,  // an enemy bullet reached the ship
    CAUSE_RAM,     // an enemy rammed the ship
    CAUSE_ESCAPE,  // an enemy escaped at the bottom
    CAUSE_SHOT,    // a player bullet destroyed the enemy
};

struct EventCauseRow {
    EventCause value;
    const char* name;
};

inline constexpr EventCauseRow EVENT_CAUSE_TABLE[] = {
    {CAUSE_NONE, ""}, {CAUSE_BULLET, "bala"}, {CAUSE_RAM, "choque"}, {CAUSE_ESCAPE, "escape"}, {CAUSE_SHOT, "disparo"},
};
static_assert(table_is_dense(EVENT_CAUSE_TABLE) && sizeof(EVENT_CAUSE_TABLE) / sizeof(EVENT_CAUSE_TABLE[0]) == 5);

struct MatchEvent {
    int32_t tick;       // the world's tick count when it happened (0 = set-up)
    int32_t kind;       // a MatchEventKind
    int32_t cause;      // an EventCause; CAUSE_NONE where the kind has none
    int32_t amount;     // health lost, shield blow, or the wave's number; 0 otherwise
    int32_t enemyType;  // 0..2 for enemy events; -1 otherwise
    int32_t points;     // score gained (destroyed by a shot); 0 otherwise
    int32_t line;       // source line of the run-time error; 0 otherwise
    double x;           // where it happened on the field
    double y;
};

// The most events one tick can produce: each bullet hits once (a kill, a wound
// or a shield blow), each enemy leaves once with two events (escape or ram,
// and the blow it deals), and the ship fires, raises its shield, a wave or the
// end comes, and the program may fail.
inline constexpr int MAX_TICK_EVENTS = MAX_BULLETS + 2 * MAX_ENEMIES + 8;

// The events of the latest tick: world_tick empties the log as the tick
// begins, the tick and the program's turn fill it.
struct EventLog {
    MatchEvent events[MAX_TICK_EVENTS];
    int32_t count;    // 0..MAX_TICK_EVENTS
    int32_t dropped;  // saturates, no message: events that found the log full (none can, by the bound above)
};

// "?" outside the tables.
const char* match_event_name(int32_t kind);
const char* event_cause_name(int32_t cause);

// Appends an event stamped with the world's tick, when a log is attached.
void event_add(World* world, int32_t kind, int32_t cause, int32_t amount, double x, double y);
// The same for an enemy: its type, points and position.
void event_add_enemy(World* world, int32_t kind, int32_t cause, int32_t type, int32_t points, double x, double y);
// The program's run-time error, at the ship's position.
void event_add_error(World* world, int32_t line);
// Empties the log for a new tick.
void events_begin_tick(World* world);

}  // namespace prendax
