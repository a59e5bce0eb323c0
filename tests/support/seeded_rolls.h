#pragma once

#include <cstdint>
#include <initializer_list>
#include <stdexcept>

#include "shell/random.h"

namespace skyrazor::testing {

// One draw as the game takes it: the next value modulo `below`.
struct Roll {
  std::int32_t below;
  std::int32_t value;
};

// The first seed whose next draws give the wanted rolls, in order. Lets a
// test pin the dice without knowing the generator's sequence by heart.
inline std::uint32_t seedForRolls(std::initializer_list<Roll> rolls) {
  for (std::uint32_t seed = 1; seed < 50'000'000; ++seed) {
    Random random;
    random.seed(seed);
    bool matches = true;
    for (const Roll& roll : rolls) {
      if (random.below(roll.below) != roll.value) {
        matches = false;
        break;
      }
    }
    if (matches) {
      return seed;
    }
  }
  throw std::runtime_error("no seed gives these rolls");
}

}  // namespace skyrazor::testing
