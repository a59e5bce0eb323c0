#include "shell/match_path.h"

#include "battle/frame_loop.h"
#include "shell/game_facts.h"
#include "shell/match_setup.h"
#include "shell/password_display.h"
#include "shell/result_screen.h"

namespace skyrazor {
namespace {

// The battle sees only the names, the speed, the level and the shared key.
BattleSettings battleSettingsFor(const ShellState& shell) {
  return BattleSettings{shell.name1, shell.name2, shell.gameSpeed, shell.kiLevel, shell.key};
}

}  // namespace

void runMatchPath(Game& game) {
  // Pilot 2's own keyboard is read on the two-person path only, from the
  // name prompt to the battle's end; what it sends at any other time is
  // not kept for later. With nobody at it as the match is set up, both
  // pilots play that match at the first keyboard.
  const bool pilot2AtOwnKeyboard = game.shell.key == '3';
  game.console.expectSecondKeyboard(pilot2AtOwnKeyboard);
  game.console.cls();
  runMatchSetup(game);
  game.console.cls();
  BattleSettings settings = battleSettingsFor(game.shell);
  if (game.handOver != nullptr) {
    game.handOver->battleBegins(game.console, game.random, settings, game.duel);
  }
  int frames = 0;
  runBattle(game.console, game.random, settings, game.duel, [&game, &frames] {
    ++frames;
    if (game.handOver != nullptr) {
      game.handOver->frameDone(frames);
    }
    tellFactsInBattle(game);
  });
  if (game.handOver != nullptr) {
    game.handOver->battleEnded(frames);
  }
  game.console.expectSecondKeyboard(false);
  // The key the last frame left is the shell's again.
  game.shell.key = settings.key;
  showResultScreen(game);
  if (game.shell.arcadeMode == 1) {
    showPasswordIfDue(game);
  }
}

}  // namespace skyrazor
