#pragma once

#include <cstdint>

namespace skyrazor {

// The game's one pseudo-random generator: a 32-bit linear congruential
// generator giving 0..32767. The order of draws is part of the game's
// behaviour, so every draw is made exactly where a procedure makes it.
// It lives in the console layer, the base that the battle and the shell both
// stand on: the shell seeds it at every pass and draws arcade opponents, the
// battle draws from the same generator in every frame.
class Random {
 public:
  void seed(std::uint32_t value) { state_ = value; }
  std::int32_t next() {
    state_ = state_ * 214013u + 2531011u;
    return static_cast<std::int32_t>((state_ >> 16) & 0x7FFF);
  }
  // One draw, reduced to 0..n-1.
  std::int32_t below(std::int32_t n) { return next() % n; }
  std::uint32_t state() const { return state_; }

 private:
  std::uint32_t state_ = 0;
};

}  // namespace skyrazor
