#pragma once

#include <cstdint>
#include <string>

namespace skyrazor {

// What the game keeps from battle to battle for the life of the process.
struct ShellState {
  std::int32_t configured = 0;  // completed options screens; 0: defaults at every pass
  std::string name1;
  std::string name2;
  std::string arcadeName;
  std::int32_t arcadeMode = 0;
  std::int32_t rating = 0;
  std::int32_t wins = 0;
  std::int32_t losses = 0;
  std::string rankTitle;
  std::int32_t gameSpeed = 50;  // milliseconds of pause per battle frame
  std::int32_t arcadeBattles = 0;
  std::int32_t kiLevel = 0;  // 0: pilot 2 is a person, otherwise the computer pilot's level
  char key = 'x';            // the shared key; 'x' stands for "nothing pending"
};

// The arcade rating: every win adds 25, every loss takes 38.
inline std::int32_t ratingFor(std::int32_t wins, std::int32_t losses) {
  return wins * 25 - losses * 38 + 25;
}

}  // namespace skyrazor
