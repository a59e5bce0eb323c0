#pragma once

#include <functional>

#include "battle/state.h"
#include "console/console.h"
#include "console/random.h"

namespace skyrazor {

// One battle, frame by frame, until a ship has no hit points left. Reads the
// names, the speed and the level in `settings`, and reads and writes its key.
// `frameDone`, when given, sees every frame done, just before the display
// hears of its end (the shell tells what the battle is doing there).
void runBattle(Console& console, Random& random, BattleSettings& settings, Duel& duel,
               const std::function<void()>& frameDone = {});
// One frame of it, from the pause to the frame-end counters.
void runBattleFrame(Console& console, Random& random, BattleSettings& settings, Duel& duel);

}  // namespace skyrazor
