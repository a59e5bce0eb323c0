#pragma once

#include "shell/game.h"

namespace skyrazor {

// The game configuration screen: the game speed and five settings per pilot,
// eleven typed numbers in a fixed order. Each prompt is shown once; a number
// outside its range is read again silently until one fits.
void runOptionsScreen(Game& game);

}  // namespace skyrazor
