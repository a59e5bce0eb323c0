#pragma once

#include <functional>

#include "battle/hand_over.h"
#include "console/screen.h"
#include "console/seam.h"
#include "shell/game.h"

namespace skyrazor {

// What one session of the game plays on: the screen model, the display it
// is shown on, the first keyboard, pilot 2's own keyboard when there is one,
// and the game clock.
struct GameSeams {
  Screen& screen;
  Display& display;
  Keyboard& firstKeyboard;
  Keyboard* secondKeyboard = nullptr;
  Clock& clock;
  // Told when each battle begins and ends: a network duel, whose pilots'
  // terminals play the battle themselves.
  BattleHandOver* handOver = nullptr;
};

// Plays the whole program on these seams until the session ends, and gives
// the status it ended with. `beforePlay` sees the game first (to watch its
// duel, say).
int playGameSession(const GameSeams& seams, const std::function<void(Game&)>& beforePlay = {});

}  // namespace skyrazor
