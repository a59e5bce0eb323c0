#include "battle/computer_pilot.h"

namespace skyrazor {

// Placeholder: the computer pilot's nine levels are not flown yet. Until they
// are, the computer writes no command, so the right ship acts only on
// whatever the shared key already holds.
void chooseComputerKey(Random& random, ShellState& shell, Duel& duel) {
  (void)random;
  (void)shell;
  (void)duel;
}

}  // namespace skyrazor
