#pragma once

#include "battle/state.h"
#include "console/console.h"
#include "console/random.h"

namespace skyrazor {

// Settles every cell where a projectile of each pilot stands: marks, bomb
// blasts, lasers cutting through, both destroyed otherwise.
void resolveProjectileMeetings(Console& console, Random& random, Duel& duel);

}  // namespace skyrazor
