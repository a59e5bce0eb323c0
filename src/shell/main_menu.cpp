#include "shell/main_menu.h"

namespace skyrazor {
namespace {

bool isMainMenuChoice(char key) {
  return key >= '1' && key <= '5';
}

}  // namespace

void readMainMenuChoice(Game& game) {
  game.console.cls();
  game.console.print(
      "Welcome Pilots! Where do u want to go?\n\n(1)Arcade\n(2)VS Computer\n(3)PVP-Mode\n"
      "(4)Options\n(5)Gallery");
  while (!isMainMenuChoice(game.shell.key)) {
    game.shell.key = static_cast<char>(game.console.readKey());
  }
}

}  // namespace skyrazor
