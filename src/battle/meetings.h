#pragma once

#include "battle/state.h"
#include "console/console.h"
#include "console/random.h"

namespace skyrazor {

// Settles every cell where a projectile of each pilot stands: marks, bomb
// blasts, lasers cutting through, both destroyed otherwise.
void resolveProjectileMeetings(Console& console, Random& random, Duel& duel);

// The last step of a frame: colour 15, the shield regeneration tick and the
// computer pilot's rocket cooldown.
void advanceFrameCounters(Console& console, Duel& duel);

}  // namespace skyrazor
