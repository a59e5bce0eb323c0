#pragma once

#include "battle/state.h"

namespace skyrazor {

// One projectile pass: draws the attacker's pool, moves every live projectile
// one column towards the target and ends the flights that reached the
// target's column. A hit that costs a hit point ends the pass at once.
void flyProjectiles(Console& console, Random& random, Pilot& attacker, Side attackerSide,
                    Pilot& target);

// The blast of a rocket that ended its flight at (col, row).
void fieldBlast(Console& console, std::int32_t col, std::int32_t row, const Pilot& attacker,
                Side attackerSide, Pilot& target);

}  // namespace skyrazor
