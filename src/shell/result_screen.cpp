#include "shell/result_screen.h"

#include "console/colors.h"
#include "shell/game_facts.h"

namespace skyrazor {
namespace {

constexpr int kResultWaitMs = 5000;

// Pilot 1 wins when its ship still has hit points, so a battle in which both
// ships went down in the same frame goes to pilot 2.
bool pilot1Won(Duel& duel) {
  return duel.left().ship.hp > 0;
}
bool pilot2Survived(Duel& duel) {
  return duel.right().ship.hp > 0;
}

void announceWinner(Game& game) {
  const std::string& winner = pilot1Won(game.duel) ? game.shell.name1 : game.shell.name2;
  game.console.gotoXY(3, 3);
  game.console.print("   ***   CONGRATULATIONS!   ***");
  game.console.gotoXY(3, 5);
  game.console.print("   ***   ", winner, "   ***");
  game.console.gotoXY(8, 7);
  game.console.print("U WIN!");
}

void scoreArcadeWin(Game& game) {
  ShellState& shell = game.shell;
  shell.arcadeBattles += 1;
  shell.wins += 1;
  shell.rating = ratingFor(shell.wins, shell.losses);
  game.console.print(shell.name1, ", your Rating increased!: ", shell.rating - 25, " -> ",
                     shell.rating);
}

void scoreArcadeLoss(Game& game) {
  ShellState& shell = game.shell;
  shell.arcadeBattles += 1;
  shell.losses += 1;
  shell.rating = ratingFor(shell.wins, shell.losses);
  game.console.print(shell.name1, ", your Rating decreased! ", shell.rating + 38, " -> ",
                     shell.rating);
}

// Row 9: the first case that fits; a battle that fits none leaves it empty.
void showMatchOutcome(Game& game) {
  const ShellState& shell = game.shell;
  bool beatComputer = pilot1Won(game.duel) && shell.arcadeMode == 0;
  game.console.gotoXY(3, 9);
  if (beatComputer && (shell.kiLevel == 1 || shell.kiLevel == 2)) {
    game.console.print("   OK! Now try an harder KI-lvl! ^^");
  } else if (beatComputer && shell.kiLevel == 3) {
    game.console.print("   NICE! But u'll never beat Expert-KI! ;)");
  } else if (beatComputer && shell.kiLevel == 4) {
    game.console.print("   OMFG! U... damnit wheres that damn gamebug? -.-");
  } else if (pilot1Won(game.duel) && shell.arcadeMode == 1) {
    scoreArcadeWin(game);
  } else if (pilot2Survived(game.duel) && shell.arcadeMode == 1) {
    scoreArcadeLoss(game);
  }
}

}  // namespace

std::string_view rankTitleFor(std::int32_t rating) {
  if (rating < 100) {
    return "Rookie";
  }
  if (rating < 200) {
    return "Testpilot";
  }
  if (rating < 300) {
    return "Scout";
  }
  if (rating < 400) {
    return "Stormunit";
  }
  if (rating < 500) {
    return "Stormcommander";
  }
  if (rating < 600) {
    return "Sniper";
  }
  if (rating < 700) {
    return "Jester";
  }
  if (rating < 800) {
    return "Terminator";
  }
  if (rating < 1000) {
    return "Champion";
  }
  return "MasterSkyrazor";
}

void applyRankTitle(Game& game) {
  game.shell.rankTitle = rankTitleFor(game.shell.rating);
}

void showResultScreen(Game& game) {
  game.console.setTextColor(color::kText);
  announceWinner(game);
  showMatchOutcome(game);
  // The battle is over, and an arcade win is counted: only an arcade run
  // stays under way while the result shows.
  tellFactsOutsideBattle(game);
  game.console.sleep(kResultWaitMs);
}

}  // namespace skyrazor
