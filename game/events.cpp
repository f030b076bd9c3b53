// Recording match events into the log a tool attached to the world.
#include "game/events.h"

namespace prendax {

namespace {

// The next free entry, stamped with the tick; null without a log or with it full.
MatchEvent* next_event(World* world) {
    if (world == nullptr || world->events == nullptr) return nullptr;
    EventLog* log = world->events;
    if (log->count < 0 || log->count >= MAX_TICK_EVENTS) {
        if (log->dropped < INT32_MAX) log->dropped++;
        return nullptr;
    }
    MatchEvent* event = &log->events[log->count++];
    *event = MatchEvent{world->ticks, 0, CAUSE_NONE, 0, -1, 0, 0, 0.0, 0.0};
    return event;
}

}  // namespace

const char* match_event_name(int32_t kind) { return table_name(MATCH_EVENT_TABLE, kind, "?"); }

const char* event_cause_name(int32_t cause) { return table_name(EVENT_CAUSE_TABLE, cause, "?"); }

void event_add(World* world, int32_t kind, int32_t cause, int32_t amount, double x, double y) {
    MatchEvent* event = next_event(world);
    if (event == nullptr) return;
    event->kind = kind;
    event->cause = cause;
    event->amount = amount;
    event->x = x;
    event->y = y;
}

void event_add_enemy(World* world, int32_t kind, int32_t cause, int32_t type, int32_t points, double x, double y) {
    MatchEvent* event = next_event(world);
    if (event == nullptr) return;
    event->kind = kind;
    event->cause = cause;
    event->enemyType = type;
    event->points = points;
    event->x = x;
    event->y = y;
}

void event_add_error(World* world, int32_t line) {
    MatchEvent* event = next_event(world);
    if (event == nullptr) return;
    event->kind = EVENT_ERROR;
    event->line = line;
    event->x = world->px;
    event->y = world->py;
}

void events_begin_tick(World* world) {
    if (world == nullptr || world->events == nullptr) return;
    world->events->count = 0;
}

}  // namespace prendax
