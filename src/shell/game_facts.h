#pragma once

#include "shell/game.h"

namespace skyrazor {

// Tells the display what the game is doing, through the console, which
// passes on only a change. Away from a battle: an arcade run once it has its
// pilot's name (and its wins so far), otherwise the menus.
void tellFactsOutsideBattle(Game& game);
// In a battle: who flies each ship and with how many hit points now, and
// against which computer level or in which arcade run.
void tellFactsInBattle(Game& game);

}  // namespace skyrazor
