#include "shell/match_setup.h"

#include "shell/arcade_opponent.h"
#include "shell/controls_screen.h"
#include "shell/game_facts.h"

namespace skyrazor {
namespace {

bool isVersusComputerLevel(std::int32_t kiLevel) {
  return kiLevel >= 1 && kiLevel <= 4;
}

// A continued or restored arcade run already holds the pilot's name.
bool pilotNameIsKnown(const ShellState& shell) {
  return !shell.arcadeName.empty() && shell.key == '1';
}

void enterPilot1Name(Game& game) {
  if (pilotNameIsKnown(game.shell)) {
    return;
  }
  game.console.print("Enter your name Pilot#1: ");
  game.shell.name1 = game.console.readWord();
}

// Pilot 2 types at a keyboard of their own when the session has one.
void enterPilot2Name(Game& game) {
  game.console.print(" \nEnter your name Pilot#2:");
  game.shell.name2 = game.console.readWord(KeyboardSeat::Second);
}

// The prompt is shown once; a level outside 1..4 is read again silently.
void chooseComputerLevel(Game& game) {
  game.console.print("\nKI-LVL(1,2,3,4 / easy,medium,hard,expert): ");
  do {
    game.shell.kiLevel = game.console.readNumber();
  } while (!isVersusComputerLevel(game.shell.kiLevel));
  game.shell.name2 = computerPilotName(game.shell.kiLevel);
}

void meetArcadeOpponent(Game& game) {
  ArcadeOpponent opponent = drawArcadeOpponent(game.random, game.shell.rating);
  game.shell.name2 = opponent.name;
  game.shell.kiLevel = opponent.kiLevel;
}

}  // namespace

std::string_view computerPilotName(std::int32_t kiLevel) {
  switch (kiLevel) {
    case 1:
      return "EasyKI";
    case 2:
      return "MediumKI";
    case 3:
      return "HardKI";
    case 4:
      return "ExpertKI";
    default:
      return "";
  }
}

void enterPilotNames(Game& game) {
  ShellState& shell = game.shell;
  enterPilot1Name(game);
  if (shell.arcadeMode == 1) {
    shell.arcadeName = shell.name1;
  }
  if (shell.key == '3') {
    enterPilot2Name(game);
  } else if (shell.arcadeMode == 0) {
    chooseComputerLevel(game);
  }
}

void runMatchSetup(Game& game) {
  enterPilotNames(game);
  // A new arcade run is under way from its typed name on, a continued one
  // from here (it carries its name).
  tellFactsOutsideBattle(game);
  resetPools(game.duel);
  if (game.shell.arcadeMode == 1) {
    meetArcadeOpponent(game);
  }
  showControlsScreen(game);
  runGetReadyCountdown(game);
}

}  // namespace skyrazor
