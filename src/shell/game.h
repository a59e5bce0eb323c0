#pragma once

#include "battle/hand_over.h"
#include "battle/state.h"
#include "console/console.h"
#include "console/random.h"
#include "shell/shell_state.h"

namespace skyrazor {

// Everything the game keeps for the life of the process, and its console.
struct Game {
  explicit Game(Console& gameConsole) : console(gameConsole) {}

  Console& console;
  Random random;
  ShellState shell;
  Duel duel;
  // Who plays the battles elsewhere too (a network duel); none for most games.
  BattleHandOver* handOver = nullptr;
};

}  // namespace skyrazor
