#pragma once

#include "shell/game.h"

namespace skyrazor {

// After an arcade battle's result: once three battles have been scored since
// the last password, shows the run's password on a cleared screen for ten
// seconds and waits for a key. Otherwise it does nothing.
void showPasswordIfDue(Game& game);

}  // namespace skyrazor
