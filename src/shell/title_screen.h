#pragma once

#include "shell/game.h"

namespace skyrazor {

// The title banner at the top left; any key passes it.
void showTitle(Game& game);

}  // namespace skyrazor
