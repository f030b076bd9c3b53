// The game's facts for the pages that draw a match: the field's size, the
// ship's start health, how long hits flash, and the codes of the game statuses,
// enemy types and explosion kinds, all read from the engine's constants and
// tables, so a page never restates a number of the game.
#pragma once

#include <cstddef>

namespace prendax {

// Room for the document with every table at its current size, and to spare.
inline constexpr std::size_t GAME_FACTS_JSON_CAPACITY = 1024;

// {"width":480,"height":640,"startHealth":100,"playerHitFlash":8,"enemyHitFlash":6,
//  "gameStatus":{"jugando":0,...},"enemyTypes":{"light":0,...},"explosionKinds":{"hit":0,...}}
void game_facts_to_json(char* buffer, std::size_t capacity);

}  // namespace prendax
