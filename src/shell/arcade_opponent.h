#pragma once

#include <cstdint>
#include <string_view>

#include "console/random.h"

namespace skyrazor {

// The computer opponents an arcade pilot meets: one of fifty names, and a
// level that follows the player's rating.
constexpr std::int32_t kArcadeOpponentCount = 50;

struct ArcadeOpponent {
  std::string_view name;
  std::int32_t kiLevel = 0;
};

// The opponent name at list position 0..49.
std::string_view arcadeOpponentName(std::int32_t index);

// The level 1..9 that a roll of 0..9 gives against a player of `rating`.
std::int32_t arcadeOpponentLevel(std::int32_t rating, std::int32_t roll);

// Two draws, always both: the name (mod 50), then the level roll (mod 10).
// The roll is drawn even in the top band, where every roll gives level 4.
ArcadeOpponent drawArcadeOpponent(Random& random, std::int32_t rating);

}  // namespace skyrazor
