#include "battle/frame_counters.h"

#include "console/colors.h"

namespace skyrazor {
namespace {

// Pilot 1 regenerates on tick 10 and pilot 2 on tick 15 of every cycle of 20
// frames.
constexpr std::int32_t kLeftRegenerationTick = 10;
constexpr std::int32_t kRightRegenerationTick = 15;
constexpr std::int32_t kRegenerationCycle = 20;

void regenerateShields(Pilot& pilot) {
  const std::int32_t raised = pilot.ship.shields + pilot.config.regenRate;
  pilot.ship.shields = raised <= pilot.config.shieldMax ? raised : pilot.config.shieldMax;
}

}  // namespace

void advanceFrameCounters(Console& console, Duel& duel) {
  console.setTextColor(color::kText);
  ++duel.regenTick;
  if (duel.regenTick == kLeftRegenerationTick) {
    regenerateShields(duel.left());
  }
  if (duel.regenTick == kRightRegenerationTick) {
    regenerateShields(duel.right());
  }
  if (duel.regenTick == kRegenerationCycle) {
    duel.regenTick = 0;
  }
  if (duel.computerPilot.rocketCooldown > 0) {
    --duel.computerPilot.rocketCooldown;
  }
}

}  // namespace skyrazor
