#pragma once

#include "shell/game.h"

namespace skyrazor {

// The arcade menu: (1)Password, (2)New Game and, once a run has a name,
// (3)Continue. Leaves the shared key as match setup needs it: '1' for a
// known pilot, '2' for a new one. Returns false when a refused password
// sends the pass straight back to the title.
bool runArcadeMenu(Game& game);

// The password screen: eleven letters, then the name. An accepted password
// restores the run; both verdicts stay on screen for five seconds.
bool enterPassword(Game& game);

}  // namespace skyrazor
