#pragma once

#include "battle/state.h"
#include "console/console.h"

namespace skyrazor {

// The last step of a frame: colour 15 for the next frame's pause, the shield
// regeneration tick (each pilot gains its regenRate once in every 20 frames,
// up to its shieldMax) and the computer pilot's rocket cooldown.
void advanceFrameCounters(Console& console, Duel& duel);

}  // namespace skyrazor
