#include "battle/computer_pilot.h"

#include <optional>

namespace skyrazor {
namespace {

// The right ship's command letters: the same keys a second person would press.
constexpr char kUp = 'p';
constexpr char kDown = 'l';
constexpr char kNextWeapon = 'o';
constexpr char kFire = 'k';

constexpr std::int32_t kTopRow = 3;
constexpr std::int32_t kMiddleRow = 7;
constexpr std::int32_t kBottomRow = 11;

// A shot of pilot 1 is near in the last three columns up to the right ship's
// own (38 to 40); a rocket is worth fleeing from in the last five (36 to 40).
constexpr std::int32_t kNearColumns = 3;
constexpr std::int32_t kRocketAlarmColumns = 5;

// The rocket stays out of the weapon pick until the cooldown has fallen below this.
constexpr std::int32_t kRocketReadyBelow = 60;
constexpr std::int32_t kHunterRocketCooldown = 80;
constexpr std::int32_t kExpertRocketCooldown = 100;

// Level 8 keeps to the half of the arena away from pilot 1: it climbs to
// this row against a low pilot 1 and sinks to the other against a high one.
constexpr std::int32_t kHighPerch = 4;
constexpr std::int32_t kLowPerch = 10;

// What the computer sees and handles in one frame: pilot 1's ship and shots,
// its own ship, its memory from earlier frames, the dice and the shared key.
struct Cockpit {
  Random& random;
  char& key;
  ComputerPilotState& memory;
  const ShipState& enemy;
  const ProjectilePool& enemyShots;
  ShipState& ship;
};

// How crowded the cells in front of the ship are this frame; counted afresh
// for every decision.
struct ThreatCounts {
  std::int32_t nearCount = 0;
  std::int32_t threatBelow = 0;
  std::int32_t threatAbove = 0;
};

void select(Cockpit& cockpit, WeaponType weapon) {
  cockpit.ship.weaponType = static_cast<std::int32_t>(weapon);
}

bool selected(const Cockpit& cockpit, WeaponType weapon) {
  return cockpit.ship.weaponType == static_cast<std::int32_t>(weapon);
}

// Empty slots are parked in column 3, so they are never near.
bool isNear(const Cockpit& cockpit, const Projectile& shot) {
  return shot.col > cockpit.ship.col - kNearColumns;
}

// The step that brings the ship level with pilot 1; none when it is level.
std::optional<char> stepTowardsEnemy(const Cockpit& cockpit) {
  if (cockpit.enemy.row > cockpit.ship.row) {
    return kDown;
  }
  if (cockpit.enemy.row < cockpit.ship.row) {
    return kUp;
  }
  return std::nullopt;
}

// Near shots in the row below and the row above the ship. At the bottom
// (top) row there is no row to escape into, so every near shot blocks it.
ThreatCounts countThreats(const Cockpit& cockpit) {
  ThreatCounts counts;
  const std::int32_t row = cockpit.ship.row;
  for (int slot = kPoolSize - 1; slot >= 0; --slot) {
    const Projectile& shot = cockpit.enemyShots[static_cast<std::size_t>(slot)];
    if (isNear(cockpit, shot) && (shot.row == row + 1 || row >= kBottomRow)) {
      ++counts.threatBelow;
    }
  }
  for (int slot = kPoolSize - 1; slot >= 0; --slot) {
    const Projectile& shot = cockpit.enemyShots[static_cast<std::size_t>(slot)];
    if (isNear(cockpit, shot) && (shot.row == row - 1 || row <= kTopRow)) {
      ++counts.threatAbove;
    }
  }
  return counts;
}

// The answer to a near shot in the ship's own row: a homing ion cannot be
// outrun, so shoot at it; a rocket is answered with rockets; otherwise slip
// into a free neighbouring row, and when boxed in, shoot a way out with the
// laser (which cuts through most shots) unless a bomb or ion is already up.
void dodge(Cockpit& cockpit, const Projectile& shot, const ThreatCounts& counts) {
  if (shot.symbol == symbol::kHomingIon) {
    cockpit.key = kFire;
  } else if (shot.symbol == symbol::kRocket) {
    select(cockpit, WeaponType::Rocket);
    cockpit.key = kFire;
  } else if (counts.threatBelow == 0) {
    cockpit.key = kDown;
  } else if (counts.threatAbove == 0) {
    cockpit.key = kUp;
  } else {
    if (selected(cockpit, WeaponType::Rocket) || selected(cockpit, WeaponType::MachineBolt)) {
      select(cockpit, WeaponType::Laser);
    }
    cockpit.key = kFire;
  }
}

// Levels 3 and 9 sometimes flinch at random instead of dodging; level 4
// always dodges, though it still rolls the die it does not heed.
enum class Reflex { Hesitant, Instant };

// Every near shot counts; each one in the ship's own row is reacted to, and
// the last one found (the lowest slot) has the final word.
void scanForDodges(Cockpit& cockpit, ThreatCounts& counts, Reflex reflex) {
  for (int slot = kPoolSize - 1; slot >= 0; --slot) {
    const Projectile& shot = cockpit.enemyShots[static_cast<std::size_t>(slot)];
    if (!isNear(cockpit, shot)) {
      continue;
    }
    ++counts.nearCount;
    if (shot.row != cockpit.ship.row) {
      continue;
    }
    if (reflex == Reflex::Instant) {
      cockpit.random.below(2);
      dodge(cockpit, shot, counts);
      continue;
    }
    const std::int32_t flinch = cockpit.random.below(10);
    if (flinch == 0) {
      cockpit.key = kDown;
    } else if (flinch == 1) {
      cockpit.key = kUp;
    } else if (flinch == 2) {
      cockpit.key = kFire;
    } else {
      dodge(cockpit, shot, counts);
    }
  }
}

// Level with pilot 1: choose the weapon for this shot and fire. The rocket
// answers pilot 1's laser (which cannot cut through rockets), at most once
// per cooldown. A wandering ship keeps to the cheap weapons.
void pickWeaponAndFire(Cockpit& cockpit, std::int32_t rocketCooldownAfterPick, bool wandering) {
  const std::int32_t pick = cockpit.random.below(10);
  if (pick == 0 && cockpit.enemy.weaponType == static_cast<std::int32_t>(WeaponType::Laser) &&
      cockpit.memory.rocketCooldown < kRocketReadyBelow) {
    select(cockpit, WeaponType::Rocket);
    cockpit.memory.rocketCooldown = rocketCooldownAfterPick;
  } else if (pick < 5 && !wandering) {
    select(cockpit, WeaponType::Ion);
  } else if (pick < 7) {
    select(cockpit, WeaponType::MachineBolt);
  } else if (pick < 9 && !wandering) {
    select(cockpit, WeaponType::Laser);
  } else {
    select(cockpit, WeaponType::Bomb);
  }
  cockpit.key = kFire;
}

// Level 1: pure chance, blind to the battle.
void flyAtRandom(Cockpit& cockpit) {
  const std::int32_t draw = cockpit.random.below(10);
  if (draw >= 8) {
    cockpit.key = kDown;
  } else if (draw >= 6) {
    cockpit.key = kUp;
  } else if (draw >= 3) {
    cockpit.key = kFire;
  } else {
    cockpit.key = kNextWeapon;
  }
}

// Level 2: mostly chance, but now and then it jumps out of the way of a shot
// that is about to strike, or chases pilot 1's row.
void flyAtRandomDodgingAndChasing(Cockpit& cockpit) {
  const std::int32_t draw = cockpit.random.below(10);
  if (draw >= 8) {
    cockpit.key = kFire;
  } else if (draw == 7) {
    cockpit.key = kUp;
  } else if (draw == 6) {
    cockpit.key = kDown;
  } else if (draw == 2 || draw == 3) {
    cockpit.key = kNextWeapon;
  } else if (draw == 4 || draw == 5) {
    // A shot standing in the ship's own column strikes this frame unless the
    // ship moves; each such shot gets its own coin toss, and the last decides.
    for (int slot = kPoolSize - 1; slot >= 0; --slot) {
      const Projectile& shot = cockpit.enemyShots[static_cast<std::size_t>(slot)];
      if (shot.row == cockpit.ship.row && shot.col >= cockpit.ship.col) {
        cockpit.key = cockpit.random.below(2) == 0 ? kDown : kUp;
      }
    }
  } else {
    cockpit.key = stepTowardsEnemy(cockpit).value_or(kFire);
  }
}

// Levels 3 and 9: dodge near shots, twitch now and then, and when nothing is
// near, hunt pilot 1's row and fire a weapon picked for the shot.
void dodgeAndHunt(Cockpit& cockpit) {
  ThreatCounts counts = countThreats(cockpit);
  scanForDodges(cockpit, counts, Reflex::Hesitant);

  const std::int32_t jitter = cockpit.random.below(14);
  if (jitter == 0) {
    cockpit.key = kDown;
  } else if (jitter == 1) {
    cockpit.key = kUp;
  }

  if (counts.nearCount == 0) {
    const std::int32_t draw = cockpit.random.below(10);
    if (draw == 0) {
      cockpit.key = kDown;
    } else if (draw == 1) {
      cockpit.key = kUp;
    } else if (draw == 2) {
      cockpit.key = kFire;
    } else if (std::optional<char> step = stepTowardsEnemy(cockpit)) {
      cockpit.key = *step;
    } else {
      pickWeaponAndFire(cockpit, kHunterRocketCooldown, /*wandering=*/false);
    }
  }

  // One frame in five falls back on the bolt, whatever the pick was.
  if (cockpit.random.below(10) < 2) {
    select(cockpit, WeaponType::MachineBolt);
  }
}

// Level 4: dodges at once, wanders off in random steps and works each one off
// with a cheap shot before it hunts again, and flees any rocket that comes
// close, whatever else it decided this frame.
void dodgeWanderAndFleeRockets(Cockpit& cockpit) {
  ThreatCounts counts = countThreats(cockpit);
  scanForDodges(cockpit, counts, Reflex::Instant);

  ComputerPilotState& memory = cockpit.memory;
  if (counts.nearCount == 0) {
    const std::int32_t draw = cockpit.random.below(10);
    const std::optional<char> step = stepTowardsEnemy(cockpit);
    if (step && draw > 2 && memory.wanderCount == 0) {
      cockpit.key = *step;
    } else if (draw == 0) {
      cockpit.key = kUp;
      ++memory.wanderCount;
    } else if (draw == 1) {
      cockpit.key = kDown;
      ++memory.wanderCount;
    } else {
      pickWeaponAndFire(cockpit, kExpertRocketCooldown, memory.wanderCount != 0);
      if (memory.wanderCount > 0) {
        --memory.wanderCount;
      }
    }
  }

  // Flee towards the half away from the first close rocket; one on the middle
  // row sends the ship further towards the half it is already in.
  for (int slot = kPoolSize - 1; slot >= 0; --slot) {
    const Projectile& shot = cockpit.enemyShots[static_cast<std::size_t>(slot)];
    if (shot.symbol != symbol::kRocket || shot.col <= cockpit.ship.col - kRocketAlarmColumns) {
      continue;
    }
    if (shot.row < kMiddleRow) {
      cockpit.key = kDown;
    } else if (shot.row > kMiddleRow) {
      cockpit.key = kUp;
    } else {
      cockpit.key = cockpit.ship.row > kMiddleRow ? kDown : kUp;
    }
    break;
  }
}

// Level 5: one weapon, drawn in the first frame, for the whole battle. Fires
// often, drops a row now and then, and otherwise chases pilot 1's row.
void fireOneWeaponAndChase(Cockpit& cockpit) {
  ComputerPilotState& memory = cockpit.memory;
  if (memory.patternState == 0) {
    memory.patternState = cockpit.random.below(5) + 1;
    cockpit.ship.weaponType = memory.patternState;
  }
  const std::int32_t draw = cockpit.random.below(10);
  if (draw >= 6) {
    cockpit.key = kFire;
  } else if (draw == 5) {
    cockpit.key = kDown;
  } else {
    cockpit.key = stepTowardsEnemy(cockpit).value_or(kFire);
  }
}

// Level 6: shadows pilot 1's row; level with it, mostly fires and sometimes
// switches weapon.
void followRow(Cockpit& cockpit) {
  const std::int32_t draw = cockpit.random.below(10);
  cockpit.key = stepTowardsEnemy(cockpit).value_or(draw > 1 ? kFire : kNextWeapon);
}

// Level 7: sweeps down to the bottom row and back up to the top, a step and
// a shot by turns. The phase turns round at the edges; a frame that switches
// weapon leaves it alone. Rockets and ions are never kept selected.
void sweepAcrossRows(Cockpit& cockpit) {
  enum Phase : std::int32_t { StepDown = 0, FireGoingDown = 1, StepUp = 2, FireGoingUp = 3 };
  ComputerPilotState& memory = cockpit.memory;
  if (cockpit.random.below(4) == 0) {
    cockpit.key = kNextWeapon;
  } else {
    if (cockpit.ship.row <= kTopRow) {
      memory.patternState = StepDown;
    }
    if (cockpit.ship.row >= kBottomRow) {
      memory.patternState = StepUp;
    }
    switch (memory.patternState) {
      case StepDown:
        cockpit.key = kDown;
        memory.patternState = FireGoingDown;
        break;
      case FireGoingDown:
        cockpit.key = kFire;
        memory.patternState = StepDown;
        break;
      case StepUp:
        cockpit.key = kUp;
        memory.patternState = FireGoingUp;
        break;
      case FireGoingUp:
        cockpit.key = kFire;
        memory.patternState = StepUp;
        break;
      default:
        break;
    }
  }
  if (selected(cockpit, WeaponType::Rocket) || selected(cockpit, WeaponType::Ion)) {
    select(cockpit, WeaponType::MachineBolt);
  }
}

// Level 8: keeps to the half of the arena away from pilot 1 and lobs ions
// from there.
void holdFarHalfWithIons(Cockpit& cockpit) {
  select(cockpit, WeaponType::Ion);
  const std::int32_t enemyRow = cockpit.enemy.row;
  const std::int32_t row = cockpit.ship.row;
  if (enemyRow > kMiddleRow && row > kHighPerch) {
    cockpit.key = kUp;
  } else if (enemyRow <= kMiddleRow && row < kLowPerch) {
    cockpit.key = kDown;
  } else {
    cockpit.key = kFire;
  }
}

}  // namespace

void chooseComputerKey(Random& random, BattleSettings& settings, Duel& duel) {
  Cockpit cockpit{random,           settings.key,     duel.computerPilot,
                  duel.left().ship, duel.left().pool, duel.right().ship};
  switch (settings.kiLevel) {
    case 1:
      flyAtRandom(cockpit);
      break;
    case 2:
      flyAtRandomDodgingAndChasing(cockpit);
      break;
    case 3:
      dodgeAndHunt(cockpit);
      break;
    case 4:
      dodgeWanderAndFleeRockets(cockpit);
      break;
    case 5:
      fireOneWeaponAndChase(cockpit);
      break;
    case 6:
      followRow(cockpit);
      break;
    case 7:
      sweepAcrossRows(cockpit);
      break;
    case 8:
      holdFarHalfWithIons(cockpit);
      break;
    case 9:
      // Level 3, but back on the bolt at the start of every frame.
      select(cockpit, WeaponType::MachineBolt);
      dodgeAndHunt(cockpit);
      break;
    default:
      // 0: a person flies the right ship and presses its keys.
      break;
  }
}

}  // namespace skyrazor
