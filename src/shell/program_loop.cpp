#include "shell/program_loop.h"

#include "console/colors.h"
#include "shell/arcade_menu.h"
#include "shell/gallery.h"
#include "shell/game_facts.h"
#include "shell/main_menu.h"
#include "shell/match_path.h"
#include "shell/options_screen.h"
#include "shell/result_screen.h"
#include "shell/title_screen.h"

namespace skyrazor {
namespace {

void prepareNextBattle(Game& game) {
  game.shell.kiLevel = 0;
  game.shell.key = 'x';
  resetBattleCounters(game.duel);
  if (game.shell.configured == 0) {
    applyDefaultSet(game.duel);
  }
  rearmShips(game.duel);
}

void enterArcade(Game& game) {
  // An arcade run always flies the standard ships at the standard speed,
  // whatever the options screen set.
  game.shell.gameSpeed = 50;
  applyDefaultSet(game.duel);
  rearmShips(game.duel);
  game.shell.rating = ratingFor(game.shell.wins, game.shell.losses);
  game.shell.arcadeMode = 1;
  if (!runArcadeMenu(game)) {
    game.shell.arcadeMode = 0;
    return;
  }
  applyRankTitle(game);
  runMatchPath(game);
}

void dispatchMainMenuChoice(Game& game) {
  switch (game.shell.key) {
    case '1':
      enterArcade(game);
      break;
    case '2':
    case '3':
      runMatchPath(game);
      break;
    case '4':
      game.console.cls();
      runOptionsScreen(game);
      game.shell.key = 'x';
      game.shell.configured += 1;
      return;
    case '5':
      game.console.cls();
      runGallery(game);
      return;
    default:
      return;
  }
  game.shell.arcadeMode = 0;
  game.shell.key = 'x';
}

}  // namespace

void runOnePass(Game& game) {
  // Every pass starts at the title, back at the menus whatever the last one
  // played; an arcade run too, until Continue on the arcade menu takes it up.
  game.console.tellFacts(GameFacts{});
  game.console.cls();
  game.console.setTextColor(color::kText);
  game.random.seed(static_cast<std::uint32_t>(game.console.nowSeconds()));
  prepareNextBattle(game);
  showTitle(game);
  readMainMenuChoice(game);
  dispatchMainMenuChoice(game);
}

void runProgramLoop(Game& game) {
  for (;;) {
    runOnePass(game);
  }
}

}  // namespace skyrazor
