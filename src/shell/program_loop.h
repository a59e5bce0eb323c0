#pragma once

#include "shell/game.h"

namespace skyrazor {

// The game's one loop at the top level: title, main menu, the chosen mode,
// and back to the title. It has no exit of its own; it ends when the
// platform ends the session (SessionEnded).
[[noreturn]] void runProgramLoop(Game& game);

// One pass: from the cleared screen and the title to the end of the chosen mode.
void runOnePass(Game& game);

}  // namespace skyrazor
