#pragma once

#include "battle/state.h"
#include "console/console.h"
#include "console/random.h"

namespace skyrazor {

// One battle, frame by frame, until a ship has no hit points left. Reads the
// names, the speed and the level in `settings`, and reads and writes its key.
void runBattle(Console& console, Random& random, BattleSettings& settings, Duel& duel);
// One frame of it, from the pause to the frame-end counters.
void runBattleFrame(Console& console, Random& random, BattleSettings& settings, Duel& duel);

}  // namespace skyrazor
