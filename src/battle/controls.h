#pragma once

#include "battle/state.h"
#include "console/console.h"

namespace skyrazor {

// Pilot 1's phase of a frame: takes a waiting key into the shared key, then
// acts on the shared key for the left ship.
void runPilotOnePhase(Console& console, BattleSettings& settings, Duel& duel);
// Pilot 2's phase: takes a waiting key only when a person flies the right
// ship, then acts on the shared key for it.
void runPilotTwoPhase(Console& console, BattleSettings& settings, Duel& duel);

// What a key does for one pilot: up, down, next weapon or fire, tested in
// that order; a carried-out action leaves 'x' in the key.
void actOnKey(char& key, Pilot& pilot, Side side);
// Fires the pilot's selected weapon into its projectile ring.
void fireWeapon(Pilot& pilot, Side side);

}  // namespace skyrazor
