#include "shell/controls_screen.h"

#include <cstdint>

namespace skyrazor {
namespace {

constexpr int kCountdownSteps = 70;
constexpr int kCountdownStepMs = 90;

void showRatingLines(Game& game) {
  const ShellState& shell = game.shell;
  std::int32_t opponentBonus = game.random.below(100);
  game.console.gotoXY(1, 10);
  game.console.print(shell.name1, "/", shell.rankTitle, ": Actuell Rating: ", shell.rating,
                     " / Wins(", shell.wins, ") Losses(", shell.losses, ")");
  game.console.print("\n\n", shell.name2, ": Actuell Rating: ", shell.rating + opponentBonus);
}

}  // namespace

void showControlsScreen(Game& game) {
  game.console.cls();
  game.console.gotoXY(1, 5);
  game.console.print("Controles:\nPlayer1: E,S to move up,down, W to switch weapons, A to shoot");
  if (game.shell.kiLevel == 0) {
    game.console.print("\nPlayer2: P,L to move up,down, O to switch weapons, K to shoot");
  } else if (game.shell.arcadeMode == 1) {
    showRatingLines(game);
  }
}

void runGetReadyCountdown(Game& game) {
  for (int step = 1; step <= kCountdownSteps; ++step) {
    game.console.sleep(kCountdownStepMs);
    game.console.gotoXY(1, 1);
    game.console.print("GET READY >>> ", game.shell.name1, " VS ", game.shell.name2,
                       " <<< GET READY\n");
    game.console.gotoXY(step, 3);
    game.console.print(">");
  }
}

}  // namespace skyrazor
