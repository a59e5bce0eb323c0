#include "shell/password_display.h"

#include "shell/password.h"

namespace skyrazor {
namespace {

constexpr std::int32_t kBattlesPerPassword = 3;
constexpr int kPasswordShownMs = 10000;

}  // namespace

void showPasswordIfDue(Game& game) {
  ShellState& shell = game.shell;
  if (shell.arcadeBattles < kBattlesPerPassword) {
    return;
  }
  shell.arcadeBattles = 0;
  game.console.cls();
  game.console.print(makePassword(shell.rating, shell.wins, shell.losses, shell.arcadeName));
  game.console.sleep(kPasswordShownMs);
  game.console.print("\n\nPress any key to continue...");
  game.console.readKey();
}

}  // namespace skyrazor
