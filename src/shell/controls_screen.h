#pragma once

#include "shell/game.h"

namespace skyrazor {

// Clears the screen and shows the controls: pilot 1's keys, then pilot 2's
// keys for a second person, or in arcade mode the player's and the
// opponent's rating lines (the opponent's rating is the player's plus a draw
// of 0..99). A versus-computer match shows pilot 1's keys only.
void showControlsScreen(Game& game);

// Seventy steps of 90 ms: the GET READY header on row 1 and a bar of ">"
// growing along row 3 from column 1 to column 70.
void runGetReadyCountdown(Game& game);

}  // namespace skyrazor
