#include "battle/flight.h"

#include <array>

#include "console/colors.h"

namespace skyrazor {
namespace {

constexpr unsigned char kLightShade = 0xB0;
constexpr unsigned char kMediumShade = 0xB1;
constexpr unsigned char kDarkShade = 0xB2;

constexpr std::int32_t kDustWallFrames = 100;

int passColor(Side side) {
  return side == Side::Left ? color::kPilotOne : color::kPilotTwo;
}

void drawByte(Console& console, std::int32_t col, std::int32_t row, unsigned char byte) {
  console.gotoXY(col, row);
  console.print(byte);
}

// Every slot is drawn, empty ones too: they print a blank in the parking cell.
void drawPool(Console& console, const ProjectilePool& pool) {
  for (int slot = kPoolSize - 1; slot >= 0; --slot) {
    const Projectile& projectile = pool[static_cast<std::size_t>(slot)];
    console.gotoXY(projectile.col, projectile.row);
    console.print(projectile.symbol);
  }
}

// The end column is the target ship's column; shots stop there.
bool beforeEndColumn(const Projectile& projectile, Side side) {
  return side == Side::Left ? projectile.col < arena::kRightColumn
                            : projectile.col > arena::kLeftColumn;
}

void steerTowards(Projectile& homingIon, const ShipState& target) {
  if (homingIon.row > target.row) {
    --homingIon.row;
  } else if (homingIon.row < target.row) {
    ++homingIon.row;
  }
}

enum class IonFate { FliesOn, Vanished };

// An ion drifts by chance. A blocked drift at the top or bottom row falls
// through to the later rules, which is why ions fizzle out more at the top.
IonFate driftIon(Console& console, Random& random, Projectile& ion) {
  const std::int32_t roll = random.below(100);
  if (roll > 75 && ion.row < arena::kBottomRow) {
    ++ion.row;
  } else if (roll > 50 && ion.row > arena::kTopRow) {
    --ion.row;
  } else if (roll > 45) {
    drawByte(console, ion.col, ion.row, kLightShade);
    clearSlot(ion);
    return IonFate::Vanished;
  } else if (roll == 0) {
    ion.symbol = symbol::kHomingIon;
    drawByte(console, ion.col, ion.row, kLightShade);
  }
  return IonFate::FliesOn;
}

// Behind the bomb, below it and above it; not clipped, so it may touch the
// arena border, which the next frame redraws.
void drawBombBurst(Console& console, const Projectile& bomb, Side side) {
  console.setTextColor(color::kEffects);
  drawByte(console, bomb.col - forwardStep(side), bomb.row, kLightShade);
  drawByte(console, bomb.col, bomb.row + 1, kLightShade);
  drawByte(console, bomb.col, bomb.row - 1, kLightShade);
  console.setTextColor(passColor(side));
}

enum class PassProgress { GoesOn, Ends };

PassProgress endFlight(Console& console, Random& random, Projectile& projectile, Pilot& attacker,
                       Side side, Pilot& target) {
  if (projectile.col == target.ship.col && projectile.row == target.ship.row) {
    if (projectile.symbol == symbol::kBomb) {
      drawBombBurst(console, projectile, side);
    }
    if (hitShip(console, random, attacker, target) == HitResult::HitPointLost) {
      // The shot stays where it is; the target's new dust wall sweeps it away.
      return PassProgress::Ends;
    }
  }
  if (projectile.symbol == symbol::kRocket) {
    fieldBlast(console, projectile.col, projectile.row, attacker, side, target);
  }
  clearSlot(projectile);
  return PassProgress::GoesOn;
}

PassProgress flyOne(Console& console, Random& random, Projectile& projectile, Pilot& attacker,
                    Side side, Pilot& target) {
  if (projectile.symbol == symbol::kHomingIon) {
    steerTowards(projectile, target.ship);
  }
  if (projectile.symbol == symbol::kIon &&
      driftIon(console, random, projectile) == IonFate::Vanished) {
    return PassProgress::GoesOn;
  }
  if (beforeEndColumn(projectile, side)) {
    projectile.col += forwardStep(side);
    return PassProgress::GoesOn;
  }
  return endFlight(console, random, projectile, attacker, side, target);
}

// One ring of a rocket's blast: how far from the rocket, the dust drawn there
// and the share of the weapon's strength a ship on that row loses.
struct BlastRing {
  std::int32_t rowOffset;
  unsigned char dust;
  std::int32_t strengthDivisor;
};

constexpr std::array<BlastRing, 6> kBlastRings{{
    {-3, kLightShade, 8},
    {-2, kMediumShade, 5},
    {-1, kMediumShade, 3},
    {3, kLightShade, 8},
    {2, kMediumShade, 5},
    {1, kMediumShade, 3},
}};

bool insideArenaRows(const BlastRing& ring, std::int32_t cellRow) {
  return ring.rowOffset < 0 ? cellRow >= arena::kTopRow : cellRow <= arena::kBottomRow;
}

}  // namespace

void flyProjectiles(Console& console, Random& random, Pilot& attacker, Side attackerSide,
                    Pilot& target) {
  console.setTextColor(passColor(attackerSide));
  drawPool(console, attacker.pool);
  // Only the firing ring is visited; slots above it never hold a shot.
  for (std::int32_t slot = attacker.config.ammoLimit; slot >= 0; --slot) {
    Projectile& projectile = attacker.pool[static_cast<std::size_t>(slot)];
    if (projectile.empty()) {
      continue;
    }
    if (flyOne(console, random, projectile, attacker, attackerSide, target) == PassProgress::Ends) {
      return;
    }
  }
}

HitResult hitShip(Console& console, Random& random, const Pilot& attacker, Pilot& target) {
  ShipState& ship = target.ship;
  const std::int32_t strength = attacker.config.weaponStrength;
  if (ship.shields > 0) {
    const std::int32_t extra = random.below(strength) / 3;
    ship.shields -= strength + extra;
    drawByte(console, ship.col, ship.row, kMediumShade);
  }
  if (ship.shields > 0) {
    return HitResult::ShieldsHeld;
  }
  ship.hp -= 1;
  ship.dustWallTimer = kDustWallFrames;
  ship.shields = 0;
  return HitResult::HitPointLost;
}

void fieldBlast(Console& console, std::int32_t col, std::int32_t row, const Pilot& attacker,
                Side attackerSide, Pilot& target) {
  ShipState& ship = target.ship;
  console.setTextColor(color::kEffects);
  drawByte(console, col, row, kDarkShade);
  for (const BlastRing& ring : kBlastRings) {
    const std::int32_t cellRow = row + ring.rowOffset;
    if (!insideArenaRows(ring, cellRow)) {
      continue;
    }
    drawByte(console, col, cellRow, ring.dust);
    if (ship.row == cellRow) {
      ship.shields -= attacker.config.weaponStrength / ring.strengthDivisor;
    }
  }
  console.setTextColor(passColor(attackerSide));
  if (ship.shields < 0) {
    ship.shields = 0;
  }
}

}  // namespace skyrazor
