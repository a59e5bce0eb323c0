#include "shell/title_screen.h"

namespace skyrazor {

void showTitle(Game& game) {
  game.console.print("   ***   Skyrazor   ***   ");
  game.console.readKey();
}

}  // namespace skyrazor
