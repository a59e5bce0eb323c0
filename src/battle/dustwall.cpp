#include "battle/dustwall.h"

#include "console/colors.h"

namespace skyrazor {
namespace {

constexpr unsigned char kLightDust = 0xB0;
constexpr unsigned char kMediumDust = 0xB1;

constexpr Side kBothSides[] = {Side::Left, Side::Right};

constexpr Side opponentOf(Side side) {
  return side == Side::Left ? Side::Right : Side::Left;
}

// The wall sweeps the ship's own column, the two in front of it and the
// rocket launch column behind it: pilot 1's columns 5 and lower, pilot 2's 38
// and higher.
bool inClearingZone(Side wallSide, std::int32_t col) {
  return wallSide == Side::Left ? col < 6 : col > 37;
}

// The two columns of dust over the ship's edge of the arena, in drawing order.
struct WallColumns {
  std::int32_t first;
  std::int32_t second;
};

constexpr WallColumns wallColumnsOf(Side side) {
  return side == Side::Left ? WallColumns{3, 4} : WallColumns{40, 39};
}

// A shield pack drips in while the wall stands. It may overshoot shieldMax
// by less than one step; the next regeneration tick trims it back.
void refillShields(Pilot& pilot) {
  if (pilot.ship.shields < pilot.config.shieldMax) {
    pilot.ship.shields += pilot.config.shieldMax / 90;
  }
}

void clearEnemyProjectiles(ProjectilePool& enemyPool, Side wallSide) {
  for (int slot = kPoolSize - 1; slot >= 0; --slot) {
    Projectile& projectile = enemyPool[static_cast<std::size_t>(slot)];
    if (inClearingZone(wallSide, projectile.col)) {
      clearSlot(projectile);
    }
  }
}

void drawDustCell(Console& console, Random& random, std::int32_t col, std::int32_t row) {
  const unsigned char dust = random.below(2) == 0 ? kLightDust : kMediumDust;
  console.gotoXY(col, row);
  console.print(dust);
}

void drawWall(Console& console, Random& random, Side side) {
  const WallColumns columns = wallColumnsOf(side);
  for (std::int32_t row = arena::kBottomRow; row >= arena::kTopRow; --row) {
    drawDustCell(console, random, columns.first, row);
    drawDustCell(console, random, columns.second, row);
  }
}

}  // namespace

void applyDustWalls(Duel& duel) {
  for (Side side : kBothSides) {
    Pilot& pilot = duel.pilot(side);
    if (pilot.ship.dustWallTimer > 0) {
      refillShields(pilot);
      clearEnemyProjectiles(duel.pilot(opponentOf(side)).pool, side);
    }
  }
}

void drawDustWalls(Console& console, Random& random, Duel& duel) {
  // Set even without a wall: the meeting marks drawn next use this colour.
  console.setTextColor(color::kEffects);
  for (Side side : kBothSides) {
    ShipState& ship = duel.pilot(side).ship;
    if (ship.dustWallTimer > 0) {
      --ship.dustWallTimer;
      drawWall(console, random, side);
    }
  }
}

}  // namespace skyrazor
