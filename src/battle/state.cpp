#include "battle/state.h"

namespace skyrazor {

void applyDefaultSet(Duel& duel) {
  constexpr std::int32_t kShipColumns[2] = {3, 40};
  for (int side = 0; side < 2; ++side) {
    Pilot& pilot = duel.pilots[side];
    pilot.config = PilotConfig{};
    pilot.ship.col = kShipColumns[side];
    pilot.ship.row = 7;
    pilot.ship.nextSlot = pilot.config.ammoLimit;
  }
}

void rearmShips(Duel& duel) {
  for (Pilot& pilot : duel.pilots) {
    pilot.ship.shields = pilot.config.shieldMax;
    pilot.ship.hp = pilot.config.hpConfig;
    pilot.ship.weaponType = static_cast<std::int32_t>(WeaponType::MachineBolt);
  }
}

void resetBattleCounters(Duel& duel) {
  for (Pilot& pilot : duel.pilots) {
    pilot.ship.dustWallTimer = 0;
  }
  duel.regenTick = 1;
  duel.computerPilot = ComputerPilotState{};
}

void clearSlot(Projectile& slot) {
  slot = Projectile{};
}

void resetPools(Duel& duel) {
  for (Pilot& pilot : duel.pilots) {
    for (int slot = kPoolSize - 1; slot >= 0; --slot) {
      clearSlot(pilot.pool[static_cast<std::size_t>(slot)]);
    }
  }
}

bool launchProjectile(Pilot& pilot, char symbol, std::int32_t col, std::int32_t row) {
  Projectile& slot = pilot.pool[static_cast<std::size_t>(pilot.ship.nextSlot)];
  if (!slot.empty()) {
    return false;
  }
  slot = Projectile{symbol, col, row};
  pilot.ship.nextSlot = pilot.ship.nextSlot > 0 ? pilot.ship.nextSlot - 1 : pilot.config.ammoLimit;
  return true;
}

}  // namespace skyrazor
