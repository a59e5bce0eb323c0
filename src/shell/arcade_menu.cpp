#include "shell/arcade_menu.h"

#include <optional>
#include <string>

#include "shell/game_facts.h"
#include "shell/password.h"

namespace skyrazor {
namespace {

constexpr int kPasswordVerdictMs = 5000;

bool runHasName(const ShellState& shell) {
  return !shell.arcadeName.empty();
}

bool isArcadeMenuChoice(char key, bool continueOffered) {
  return key == '1' || key == '2' || (continueOffered && key == '3');
}

void showArcadeMenu(Game& game, bool continueOffered) {
  game.console.cls();
  game.console.print(">>> ARCADE <<<\n\n(1)Password\n(2)New Game");
  if (continueOffered) {
    game.console.print("\n(3)Continue");
  }
}

// The menu always waits for a fresh key: the '1' that chose Arcade on the
// main menu is no answer here.
void readArcadeMenuChoice(Game& game, bool continueOffered) {
  do {
    game.shell.key = static_cast<char>(game.console.readKey());
  } while (!isArcadeMenuChoice(game.shell.key, continueOffered));
}

// A new run starts from no battles; the password counter is left alone.
void startNewGame(ShellState& shell) {
  shell.wins = 0;
  shell.losses = 0;
  shell.rating = ratingFor(0, 0);
  shell.arcadeName.clear();
}

// The run goes on under its name, so match setup asks for none.
void continueRun(ShellState& shell) {
  shell.name1 = shell.arcadeName;
  shell.key = '1';
}

// Each letter may stand alone or among others, with or without blanks.
std::string readPasswordLetters(Game& game) {
  std::string letters;
  for (int count = 0; count < kPasswordLetterCount; ++count) {
    letters += game.console.readCharacter();
  }
  return letters;
}

void restoreRun(ShellState& shell, const RestoredRun& run, const std::string& name) {
  shell.arcadeName = name;
  shell.name1 = name;
  shell.wins = run.wins;
  shell.losses = run.losses;
  shell.rating = run.rating;
  shell.key = '1';
}

}  // namespace

bool enterPassword(Game& game) {
  game.console.cls();
  game.console.print("Password: ");
  std::string letters = readPasswordLetters(game);
  std::string name = game.console.readWord();
  std::optional<RestoredRun> run = decodePassword(letters);
  if (!run) {
    game.console.print("Wrong Password!");
    game.console.sleep(kPasswordVerdictMs);
    return false;
  }
  restoreRun(game.shell, *run, name);
  // The restored run is under way while its verdict still shows.
  tellFactsOutsideBattle(game);
  game.console.print("\n\nPassword OK!");
  game.console.sleep(kPasswordVerdictMs);
  return true;
}

bool runArcadeMenu(Game& game) {
  bool continueOffered = runHasName(game.shell);
  showArcadeMenu(game, continueOffered);
  readArcadeMenuChoice(game, continueOffered);
  switch (game.shell.key) {
    case '1':
      return enterPassword(game);
    case '2':
      startNewGame(game.shell);
      return true;
    default:
      continueRun(game.shell);
      return true;
  }
}

}  // namespace skyrazor
