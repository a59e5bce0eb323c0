#include "shell/options_screen.h"

#include <cstdint>
#include <string_view>

namespace skyrazor {
namespace {

struct Range {
  std::int32_t lowest;
  std::int32_t highest;
};

constexpr Range kGameSpeeds{10, 100};
constexpr Range kHitPoints{1, 50};
constexpr Range kShieldStrengths{10, 1000};
constexpr Range kRegenerationRates{0, 10};
constexpr Range kWeaponStrengths{3, 120};

constexpr std::string_view kGameSpeedPrompt =
    "GAME-CONFIG:\n\nSelect Gamespeed(10-100 / fast-slow / standard is 50): ";

// A pilot's five prompts; pilot 1's open a new block with a blank line.
struct PilotPrompts {
  std::string_view hitPoints;
  std::string_view shieldStrength;
  std::string_view regeneration;
  std::string_view weaponStrength;
  std::string_view ammoLimit;
};

constexpr PilotPrompts kPilot1Prompts{
    "\n\nPlayer1 HP(1-50 / standard is 3): ",
    "\n\nPlayer1 Shieldstrengh(10-1000 / standard is 100): ",
    "\n\nPlayer1 Shieldregenerationrate(0-10 / no reg.-high reg. /standard is 1): ",
    "\n\nPlayer1 Weaponstrengh(3-120 / standard is 12): ",
    "\n\nPlayer1 Ammolimit(9,19,29 or 39 / standard is 19): ",
};

constexpr PilotPrompts kPilot2Prompts{
    "\nPlayer2 HP(1-50 / standard is 3): ",
    "\nPlayer2 Shieldstrengh(10-1000 / standard is 100): ",
    "\nPlayer2 Shieldregenerationrate(0-10 / no reg.-high reg. /standard is 1): ",
    "\nPlayer2 Weaponstrengh(3-120 / standard is 12): ",
    "\nPlayer2 Ammolimit(9,19,29 or 39 / standard is 19): ",
};

bool inRange(std::int32_t value, Range range) {
  return value >= range.lowest && value <= range.highest;
}

// The firing ring is 10, 20, 30 or all 40 slots of the pool.
bool isAmmoLimit(std::int32_t value) {
  return value == 9 || value == 19 || value == 29 || value == 39;
}

// Prints the prompt once and reads until an answer is accepted. Only an
// accepted answer is handed on, so no setting ever holds a rejected value.
template <typename Accepts>
std::int32_t ask(Game& game, std::string_view prompt, Accepts accepts) {
  game.console.print(prompt);
  std::int32_t answer = game.console.readNumber();
  while (!accepts(answer)) {
    answer = game.console.readNumber();
  }
  return answer;
}

std::int32_t askInRange(Game& game, std::string_view prompt, Range range) {
  return ask(game, prompt, [range](std::int32_t value) { return inRange(value, range); });
}

void setHitPoints(Pilot& pilot, std::int32_t hitPoints) {
  pilot.config.hpConfig = hitPoints;
  pilot.ship.hp = hitPoints;
}

void setShieldStrength(Pilot& pilot, std::int32_t strength) {
  pilot.ship.shields = strength;
  pilot.config.shieldMax = strength;
}

// The next shot starts at the top of the new ring.
void setAmmoLimit(Pilot& pilot, std::int32_t limit) {
  pilot.config.ammoLimit = limit;
  pilot.ship.nextSlot = limit;
}

}  // namespace

void runOptionsScreen(Game& game) {
  Pilot& pilot1 = game.duel.left();
  Pilot& pilot2 = game.duel.right();
  game.shell.gameSpeed = askInRange(game, kGameSpeedPrompt, kGameSpeeds);
  setHitPoints(pilot1, askInRange(game, kPilot1Prompts.hitPoints, kHitPoints));
  setHitPoints(pilot2, askInRange(game, kPilot2Prompts.hitPoints, kHitPoints));
  setShieldStrength(pilot1, askInRange(game, kPilot1Prompts.shieldStrength, kShieldStrengths));
  setShieldStrength(pilot2, askInRange(game, kPilot2Prompts.shieldStrength, kShieldStrengths));
  pilot1.config.regenRate = askInRange(game, kPilot1Prompts.regeneration, kRegenerationRates);
  pilot2.config.regenRate = askInRange(game, kPilot2Prompts.regeneration, kRegenerationRates);
  pilot1.config.weaponStrength = askInRange(game, kPilot1Prompts.weaponStrength, kWeaponStrengths);
  pilot2.config.weaponStrength = askInRange(game, kPilot2Prompts.weaponStrength, kWeaponStrengths);
  setAmmoLimit(pilot1, ask(game, kPilot1Prompts.ammoLimit, isAmmoLimit));
  setAmmoLimit(pilot2, ask(game, kPilot2Prompts.ammoLimit, isAmmoLimit));
}

}  // namespace skyrazor
