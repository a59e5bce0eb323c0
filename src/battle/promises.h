#pragma once

#include <string>
#include <vector>

#include "battle/state.h"

namespace skyrazor {

// What a battle promises about its ships and projectile rings at the end of
// every frame, whatever the pilots press and whatever the options chose:
// - ships stay in their own column (3 and 40) and within rows 3..11;
// - hit points stay within 0..hpConfig, shields are never below 0 and never
//   above shieldMax plus one dust-wall refill step;
// - the weapon is one of the five, a dust wall lasts at most 100 frames and
//   the regeneration tick stays within its cycle of 20;
// - nextSlot stays within 0..ammoLimit and no slot above ammoLimit is filled;
// - an empty slot is parked at column 3, row 20, and a flying projectile
//   stays within rows 3..11 and columns 2..41 (a rocket starts one column
//   behind its ship).
// Returns one line for each promise broken, naming the pilot and the slot;
// nothing when all hold.
std::vector<std::string> brokenBattlePromises(const Duel& duel);

}  // namespace skyrazor
