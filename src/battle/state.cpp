#include "battle/state.h"

#include <string_view>

#include "battle/computer_pilot.h"
#include "battle/controls.h"
#include "battle/dustwall.h"
#include "battle/flight.h"
#include "battle/meetings.h"
#include "console/colors.h"

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

namespace {

// Columns 3..40: the arena's interior width.
constexpr std::string_view kBlankArenaRow = "                                      ";

// How each pilot shows up: its colour, the row of its status line, the tail
// of that line and the ship marker. The tails are wide enough to wipe out
// what a longer line of the previous frame left behind.
struct PilotLook {
  int color;
  std::int32_t statusRow;
  std::string_view statusTail;
  char marker;
};

constexpr PilotLook kPilotOneLook{color::kPilotOne, 1, ")        ", '>'};
constexpr PilotLook kPilotTwoLook{color::kPilotTwo, 13, ")                               ", '<'};

bool bothShipsFlying(const Duel& duel) {
  return duel.pilots[0].ship.hp > 0 && duel.pilots[1].ship.hp > 0;
}

void pause(Console& console, const BattleSettings& settings) {
  console.gotoXY(1, 1);
  console.setTextColor(color::kText);
  console.sleep(settings.gameSpeed);
}

// The single-line border on columns 2..41 and rows 2..12 (the frame takes
// 0-based console cells), in the pause's white, then the interior wiped clean.
void drawEmptyArena(Console& console) {
  console.drawFrame(1, 1, 40, 11, 0);
  for (std::int32_t row = arena::kTopRow; row <= arena::kBottomRow; ++row) {
    console.gotoXY(3, row);
    console.print(kBlankArenaRow);
  }
}

void drawPilot(Console& console, const PilotLook& look, std::string_view name,
               const ShipState& ship) {
  console.setTextColor(look.color);
  console.gotoXY(2, look.statusRow);
  console.print(name, ": Shields(", ship.shields, ") HP(", ship.hp, ") Weaptype(", ship.weaponType,
                look.statusTail);
  console.gotoXY(ship.col, ship.row);
  console.print(look.marker);
}

}  // namespace

void runBattleFrame(Console& console, Random& random, BattleSettings& settings, Duel& duel) {
  pause(console, settings);
  drawEmptyArena(console);
  drawPilot(console, kPilotOneLook, settings.name1, duel.left().ship);
  runPilotOnePhase(console, settings, duel);
  drawPilot(console, kPilotTwoLook, settings.name2, duel.right().ship);
  if (settings.kiLevel != 0) {
    chooseComputerKey(random, settings, duel);
  }
  runPilotTwoPhase(console, settings, duel);
  applyDustWalls(duel);
  flyProjectiles(console, random, duel.left(), Side::Left, duel.right());
  flyProjectiles(console, random, duel.right(), Side::Right, duel.left());
  drawDustWalls(console, random, duel);
  resolveProjectileMeetings(console, random, duel);
  advanceFrameCounters(console, duel);
}

void runBattle(Console& console, Random& random, BattleSettings& settings, Duel& duel) {
  // The end test comes before every frame, the first included, so a battle
  // ends at the start of the frame after a ship lost its last hit point.
  for (int frameNumber = 1; bothShipsFlying(duel); ++frameNumber) {
    runBattleFrame(console, random, settings, duel);
    console.frameEnded(frameNumber);
  }
}

}  // namespace skyrazor
