#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "battle/computer_pilot_state.h"

namespace skyrazor {

// The five weapons, numbered as the pilots cycle through them.
enum class WeaponType : std::int32_t {
  MachineBolt = 1,
  Bomb = 2,
  Laser = 3,
  Rocket = 4,
  Ion = 5,
};

// Symbols a projectile slot carries; the byte is also what is drawn.
namespace symbol {
constexpr char kEmpty = ' ';
constexpr char kMachineBolt = '.';
constexpr char kBomb = 'o';
constexpr char kLaser = '-';
constexpr char kRocket = '\x1D';  // shown as the left-right arrow
constexpr char kIon = '~';
constexpr char kHomingIon = '*';
}  // namespace symbol

// A pilot's ship settings: the defaults, or what the options screen chose.
struct PilotConfig {
  std::int32_t hpConfig = 3;
  std::int32_t shieldMax = 100;
  std::int32_t regenRate = 1;
  std::int32_t weaponStrength = 12;
  std::int32_t ammoLimit = 19;  // highest slot index of the firing ring
};

// The live values of one ship.
struct ShipState {
  std::int32_t col = 3;
  std::int32_t row = 7;
  std::int32_t shields = 100;
  std::int32_t hp = 3;
  std::int32_t weaponType = 1;
  std::int32_t nextSlot = 19;
  std::int32_t dustWallTimer = 0;
};

// One projectile slot. An empty slot holds a blank, parked at column 3, row 20.
struct Projectile {
  char symbol = symbol::kEmpty;
  std::int32_t col = 3;
  std::int32_t row = 20;

  bool empty() const { return symbol == symbol::kEmpty; }
};

constexpr int kPoolSize = 40;

// The arena's interior, in 1-based console positions: ships fly in its first
// and last column, and nothing in the battle leaves its rows but a parked slot.
namespace arena {
constexpr std::int32_t kLeftColumn = 3;
constexpr std::int32_t kRightColumn = 40;
constexpr std::int32_t kTopRow = 3;
constexpr std::int32_t kBottomRow = 11;
}  // namespace arena
using ProjectilePool = std::array<Projectile, kPoolSize>;

// Pilot 1 flies the left ship, pilot 2 the right one; everything pilot 2 does
// mirrors pilot 1 with the column offsets negated.
enum class Side { Left = 0, Right = 1 };

// +1 for the left ship (its shots fly right), -1 for the right ship.
constexpr std::int32_t forwardStep(Side side) {
  return side == Side::Left ? 1 : -1;
}

// Everything one pilot brings into a battle.
struct Pilot {
  PilotConfig config;
  ShipState ship;
  ProjectilePool pool;
};

// Both pilots and the per-battle counters, owned by the shell for the whole run.
struct Duel {
  std::array<Pilot, 2> pilots;
  ComputerPilotState computerPilot;
  std::int32_t regenTick = 1;

  Pilot& pilot(Side side) { return pilots[static_cast<std::size_t>(side)]; }
  Pilot& left() { return pilots[0]; }
  Pilot& right() { return pilots[1]; }
};

// What the shell lends a battle: the pilots' names for the status lines, the
// pause per frame in milliseconds, who flies the right ship (0: a person,
// otherwise the computer pilot's level) and the shared key. Both pilots'
// phases read and write that one key, so a computer pilot's command and a
// person's key press look alike to pilot 2's phase; the battle leaves in it
// whatever the last frame left, and the shell's menus carry on with it.
struct BattleSettings {
  std::string_view name1;
  std::string_view name2;
  std::int32_t gameSpeed = 50;
  std::int32_t kiLevel = 0;
  char key = 'x';  // 'x' stands for "nothing pending"
};

// The default ship settings of pilot 1 (left) and pilot 2 (right).
void applyDefaultSet(Duel& duel);
// Full shields, configured hit points and the machine bolt for both ships.
void rearmShips(Duel& duel);
// The per-battle values: no dust walls, regeneration tick 1, a fresh computer pilot.
void resetBattleCounters(Duel& duel);

// The only ways projectile slots change.
void clearSlot(Projectile& slot);
void resetPools(Duel& duel);
bool launchProjectile(Pilot& pilot, char symbol, std::int32_t col, std::int32_t row);

}  // namespace skyrazor
