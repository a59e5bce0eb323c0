#pragma once

#include "shell/game.h"

namespace skyrazor {

// Clears the screen, shows the main menu and reads keys until one of the five
// choices arrives; the choice is left in the shared key.
void readMainMenuChoice(Game& game);

}  // namespace skyrazor
