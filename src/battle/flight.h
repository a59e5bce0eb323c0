#pragma once

#include "battle/state.h"
#include "console/console.h"
#include "console/random.h"

namespace skyrazor {

// One projectile pass: draws the attacker's pool, moves every live projectile
// one column towards the target and ends the flights that reached the
// target's column. A hit that costs a hit point ends the pass at once.
// Leaves the attacker's colour set.
void flyProjectiles(Console& console, Random& random, Pilot& attacker, Side attackerSide,
                    Pilot& target);

enum class HitResult { ShieldsHeld, HitPointLost };

// A projectile struck the target ship: shields first, a hit point once they are
// gone (which also raises the target's dust wall). Draws in the current colour.
HitResult hitShip(Console& console, Random& random, const Pilot& attacker, Pilot& target);

// The blast of a rocket that ended its flight at (col, row): dust above and
// below it in its column, wearing down the shields of a ship standing close.
void fieldBlast(Console& console, std::int32_t col, std::int32_t row, const Pilot& attacker,
                Side attackerSide, Pilot& target);

}  // namespace skyrazor
