#pragma once

#include "battle/state.h"
#include "console/console.h"
#include "console/random.h"

namespace skyrazor {

// The frame's dust-wall step, before the projectile passes: a ship whose wall
// stands gets a shield refill and the enemy projectiles in front of it wiped out.
void applyDustWalls(Duel& duel);

// Draws the standing walls (fresh random dust every frame) and counts their
// timers down. Always leaves colour 8 set.
void drawDustWalls(Console& console, Random& random, Duel& duel);

}  // namespace skyrazor
