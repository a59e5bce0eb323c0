#include "battle/controls.h"

namespace skyrazor {
namespace {

constexpr char kNoKey = 'x';
constexpr int kRocketsPerVolley = 10;

// The four command letters of one pilot. Only these lower-case letters act.
struct KeyBindings {
  char up;
  char down;
  char nextWeapon;
  char fire;
};

constexpr KeyBindings kLeftKeys{'e', 's', 'w', 'a'};
constexpr KeyBindings kRightKeys{'p', 'l', 'o', 'k'};

constexpr const KeyBindings& keysOf(Side side) {
  return side == Side::Left ? kLeftKeys : kRightKeys;
}

// At a keyboard of their own, each pilot flies with either set of letters:
// the other pilot's letters stand for their own.
char asOwnLetter(char key, Side side) {
  const KeyBindings& own = keysOf(side);
  const KeyBindings& other = keysOf(side == Side::Left ? Side::Right : Side::Left);
  if (key == other.up) {
    return own.up;
  }
  if (key == other.down) {
    return own.down;
  }
  if (key == other.nextWeapon) {
    return own.nextWeapon;
  }
  if (key == other.fire) {
    return own.fire;
  }
  return key;
}

// A key that was already taken replaces whatever the shared key held; with
// none waiting, a pending key stays and is offered to the phase again. With
// two keyboards each phase takes from its own pilot's keyboard.
void takeKeyIfWaiting(Console& console, BattleSettings& settings, Side side) {
  const KeyboardSeat seat = side == Side::Left ? KeyboardSeat::First : KeyboardSeat::Second;
  if (console.keyWaiting(seat)) {
    char key = static_cast<char>(console.takeWaitingKey(seat));
    settings.key = console.hasSecondKeyboard() ? asOwnLetter(key, side) : key;
  }
}

std::int32_t weaponAfter(std::int32_t weaponType) {
  return weaponType == static_cast<std::int32_t>(WeaponType::Ion)
             ? static_cast<std::int32_t>(WeaponType::MachineBolt)
             : weaponType + 1;
}

// Two bolts, one above and one below the ship; at the top or bottom row the
// ship's own row takes the place of the missing one.
void fireMachineBolts(Pilot& pilot, Side side) {
  const ShipState& ship = pilot.ship;
  const std::int32_t col = ship.col + forwardStep(side);
  const std::int32_t upperRow = ship.row > arena::kTopRow ? ship.row - 1 : ship.row;
  const std::int32_t lowerRow = ship.row < arena::kBottomRow ? ship.row + 1 : ship.row;
  launchProjectile(pilot, symbol::kMachineBolt, col, upperRow);
  launchProjectile(pilot, symbol::kMachineBolt, col, lowerRow);
}

// Three bombs stacked in the cell in front of the ship, each in its own slot.
void fireBombs(Pilot& pilot, Side side) {
  const std::int32_t col = pilot.ship.col + forwardStep(side);
  for (int bomb = 0; bomb < 3; ++bomb) {
    launchProjectile(pilot, symbol::kBomb, col, pilot.ship.row);
  }
}

// Four segments from the ship's own column forwards.
void fireLaser(Pilot& pilot, Side side) {
  for (std::int32_t segment = 0; segment < 4; ++segment) {
    launchProjectile(pilot, symbol::kLaser, pilot.ship.col + segment * forwardStep(side),
                     pilot.ship.row);
  }
}

// A volley of rockets launched from one column behind the ship. The volley
// needs shields of at least the weapon strength, checked once; each rocket
// that finds a free slot is paid for with a tenth of the strength.
void fireRockets(Pilot& pilot, Side side) {
  ShipState& ship = pilot.ship;
  if (ship.shields < pilot.config.weaponStrength) {
    return;
  }
  const std::int32_t col = ship.col - forwardStep(side);
  for (int rocket = 0; rocket < kRocketsPerVolley; ++rocket) {
    if (pilot.pool[static_cast<std::size_t>(ship.nextSlot)].empty()) {
      ship.shields -= pilot.config.weaponStrength / 10;
      launchProjectile(pilot, symbol::kRocket, col, ship.row);
    }
  }
}

void fireIon(Pilot& pilot, Side side) {
  launchProjectile(pilot, symbol::kIon, pilot.ship.col + forwardStep(side), pilot.ship.row);
}

}  // namespace

void runPilotOnePhase(Console& console, BattleSettings& settings, Duel& duel) {
  takeKeyIfWaiting(console, settings, Side::Left);
  actOnKey(settings.key, duel.left(), Side::Left);
}

void runPilotTwoPhase(Console& console, BattleSettings& settings, Duel& duel) {
  // The computer pilot has already put its command into the shared key.
  if (settings.kiLevel == 0) {
    takeKeyIfWaiting(console, settings, Side::Right);
  }
  actOnKey(settings.key, duel.right(), Side::Right);
}

void actOnKey(char& key, Pilot& pilot, Side side) {
  const KeyBindings& keys = keysOf(side);
  ShipState& ship = pilot.ship;
  // A move against the arena's edge is not made, and its key stays pending.
  if (key == keys.up && ship.row > arena::kTopRow) {
    --ship.row;
  } else if (key == keys.down && ship.row < arena::kBottomRow) {
    ++ship.row;
  } else if (key == keys.nextWeapon) {
    ship.weaponType = weaponAfter(ship.weaponType);
  } else if (key == keys.fire) {
    fireWeapon(pilot, side);
  } else {
    return;
  }
  key = kNoKey;
}

void fireWeapon(Pilot& pilot, Side side) {
  switch (static_cast<WeaponType>(pilot.ship.weaponType)) {
    case WeaponType::MachineBolt:
      fireMachineBolts(pilot, side);
      break;
    case WeaponType::Bomb:
      fireBombs(pilot, side);
      break;
    case WeaponType::Laser:
      fireLaser(pilot, side);
      break;
    case WeaponType::Rocket:
      fireRockets(pilot, side);
      break;
    case WeaponType::Ion:
      fireIon(pilot, side);
      break;
  }
}

}  // namespace skyrazor
