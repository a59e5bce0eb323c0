#pragma once

#include "battle/state.h"
#include "console/random.h"

namespace skyrazor {

// Decides the right ship's command for this frame when the computer flies it:
// writes "p", "l", "o" or "k" into the shared key (or nothing), and may set
// the right ship's weapon directly.
void chooseComputerKey(Random& random, BattleSettings& settings, Duel& duel);

}  // namespace skyrazor
