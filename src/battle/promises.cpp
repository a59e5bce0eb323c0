#include "battle/promises.h"

namespace skyrazor {
namespace {

constexpr std::int32_t kShipColumns[2] = {arena::kLeftColumn, arena::kRightColumn};
constexpr std::int32_t kLongestDustWall = 100;
constexpr std::int32_t kRegenerationCycle = 20;
// A rocket is launched one column behind its ship, outside the arena's interior.
constexpr std::int32_t kFirstFlightColumn = arena::kLeftColumn - 1;
constexpr std::int32_t kLastFlightColumn = arena::kRightColumn + 1;
constexpr std::int32_t kParkingColumn = 3;
constexpr std::int32_t kParkingRow = 20;

bool within(std::int32_t value, std::int32_t lowest, std::int32_t highest) {
  return value >= lowest && value <= highest;
}

class PromiseList {
 public:
  explicit PromiseList(std::vector<std::string>& broken) : broken_(broken) {}

  void expect(bool holds, const char* who, const char* what) {
    if (!holds) {
      broken_.push_back(std::string(who) + ": " + what);
    }
  }
  void expectSlot(bool holds, const char* who, int slot, const char* what) {
    if (!holds) {
      broken_.push_back(std::string(who) + ": slot " + std::to_string(slot) + " " + what);
    }
  }

 private:
  std::vector<std::string>& broken_;
};

void checkShip(PromiseList& promises, const Pilot& pilot, int side, const char* who) {
  const ShipState& ship = pilot.ship;
  const PilotConfig& config = pilot.config;
  promises.expect(ship.col == kShipColumns[side], who, "ship left its column");
  promises.expect(within(ship.row, arena::kTopRow, arena::kBottomRow), who,
                  "ship outside rows 3..11");
  promises.expect(within(ship.hp, 0, config.hpConfig), who, "hit points outside 0..hpConfig");
  promises.expect(ship.shields >= 0, who, "shields below 0");
  promises.expect(ship.shields <= config.shieldMax + config.shieldMax / 90, who,
                  "shields above shieldMax and one refill step");
  promises.expect(within(ship.weaponType, 1, 5), who, "weapon outside 1..5");
  promises.expect(within(ship.dustWallTimer, 0, kLongestDustWall), who,
                  "dust wall timer outside 0..100");
  promises.expect(within(ship.nextSlot, 0, config.ammoLimit), who, "nextSlot outside 0..ammoLimit");
}

void checkRing(PromiseList& promises, const Pilot& pilot, const char* who) {
  for (int slot = 0; slot < kPoolSize; ++slot) {
    const Projectile& projectile = pilot.pool[static_cast<std::size_t>(slot)];
    if (projectile.empty()) {
      promises.expectSlot(projectile.col == kParkingColumn && projectile.row == kParkingRow, who,
                          slot, "is empty but not parked at (3, 20)");
      continue;
    }
    promises.expectSlot(slot <= pilot.config.ammoLimit, who, slot, "above ammoLimit is filled");
    promises.expectSlot(within(projectile.row, arena::kTopRow, arena::kBottomRow), who, slot,
                        "flies outside rows 3..11");
    promises.expectSlot(within(projectile.col, kFirstFlightColumn, kLastFlightColumn), who, slot,
                        "flies outside columns 2..41");
  }
}

}  // namespace

std::vector<std::string> brokenBattlePromises(const Duel& duel) {
  std::vector<std::string> broken;
  PromiseList promises(broken);
  static constexpr const char* kPilotNames[2] = {"pilot 1", "pilot 2"};
  for (int side = 0; side < 2; ++side) {
    const Pilot& pilot = duel.pilots[static_cast<std::size_t>(side)];
    checkShip(promises, pilot, side, kPilotNames[side]);
    checkRing(promises, pilot, kPilotNames[side]);
  }
  promises.expect(within(duel.regenTick, 0, kRegenerationCycle - 1), "both pilots",
                  "regeneration tick outside 0..19");
  return broken;
}

}  // namespace skyrazor
