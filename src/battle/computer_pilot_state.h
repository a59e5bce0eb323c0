#pragma once

#include <cstdint>

namespace skyrazor {

// The computer pilot's values kept from frame to frame within one battle.
struct ComputerPilotState {
  std::int32_t rocketCooldown = 0;
  std::int32_t wanderCount = 0;
  std::int32_t patternState = 0;
};

}  // namespace skyrazor
