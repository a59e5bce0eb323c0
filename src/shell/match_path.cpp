#include "shell/match_setup.h"
#include "shell/modes.h"
#include "shell/result_screen.h"

namespace skyrazor {

void runMatchPath(Game& game) {
  game.console.cls();
  runMatchSetup(game);
  game.console.cls();
  runBattle(game.console, game.random, game.shell, game.duel);
  showResultScreen(game);
  if (game.shell.arcadeMode == 1) {
    showPasswordIfDue(game);
  }
}

}  // namespace skyrazor
