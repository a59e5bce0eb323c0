#pragma once

#include "shell/game.h"

namespace skyrazor {

// Names, level, countdown, battle and result: one match of the chosen mode.
void runMatchPath(Game& game);

}  // namespace skyrazor
