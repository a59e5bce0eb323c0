#pragma once

#include "shell/game.h"

namespace skyrazor {

// The arcade menu (password, new game, continue). Returns false when a
// refused password sends the pass straight back to the title.
bool runArcadeMenu(Game& game);
// Sets the rank title from the rating (arcade path only).
void applyRankTitle(Game& game);
// Names, level, countdown, battle and result: one match of the chosen mode.
void runMatchPath(Game& game);
// After an arcade battle's result: the password display, once three scored
// battles have passed since the last one; otherwise nothing.
void showPasswordIfDue(Game& game);
// The options screen; returns once all values are entered.
void runOptionsScreen(Game& game);
// The seven pages of the gallery.
void runGallery(Game& game);

}  // namespace skyrazor
