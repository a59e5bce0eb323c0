#pragma once

#include "shell/arcade_menu.h"
#include "shell/gallery.h"
#include "shell/game.h"
#include "shell/options_screen.h"
#include "shell/password_display.h"

namespace skyrazor {

// Sets the rank title from the rating (arcade path only).
void applyRankTitle(Game& game);
// Names, level, countdown, battle and result: one match of the chosen mode.
void runMatchPath(Game& game);

}  // namespace skyrazor
