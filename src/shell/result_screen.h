#pragma once

#include <cstdint>
#include <string_view>

#include "shell/game.h"

namespace skyrazor {

// The rank title an arcade pilot of `rating` flies under.
std::string_view rankTitleFor(std::int32_t rating);
// Sets the rank title from the rating (arcade path only).
void applyRankTitle(Game& game);

// Written over the last battle picture: the winner, "U WIN!" and the mode's
// message. In arcade mode a battle with a survivor is scored as a win or a
// loss. Ends with a 5000 ms wait.
void showResultScreen(Game& game);

}  // namespace skyrazor
