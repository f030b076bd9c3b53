// The game's facts as one JSON object, from the engine's constants and tables.
#include "json/game_facts_json.h"

#include "game/world.h"
#include "json/json_out.h"

namespace prendax {

namespace {

// "key":{"name":value,...} for one of the game's enumeration tables.
template <typename Row, std::size_t N>
void write_codes(JsonOut* out, const char* key, const Row (&rows)[N]) {
    json_appendf(out, ",\"%s\":{", key);
    for (std::size_t i = 0; i < N; i++) {
        if (i > 0) json_append(out, ",");
        json_string(out, rows[i].name);
        json_appendf(out, ":%d", static_cast<int>(rows[i].value));
    }
    json_append(out, "}");
}

}  // namespace

void game_facts_to_json(char* buffer, std::size_t capacity) {
    JsonOut out = json_open(buffer, capacity);
    json_appendf(&out, "{\"width\":%d,\"height\":%d,\"startHealth\":%d,\"playerHitFlash\":%d,\"enemyHitFlash\":%d",
                 FIELD_WIDTH, FIELD_HEIGHT, static_cast<int>(PLAYER_START_HEALTH), static_cast<int>(PLAYER_HIT_FLASH),
                 static_cast<int>(ENEMY_HIT_FLASH));
    write_codes(&out, "gameStatus", GAME_STATUS_TABLE);
    write_codes(&out, "enemyTypes", ENEMY_TYPE_TABLE);
    write_codes(&out, "explosionKinds", EXPLOSION_KIND_TABLE);
    json_append(&out, "}");
}

}  // namespace prendax
