#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <stdexcept>

#include "battle/state.h"
#include "console/random.h"
#include "support/fake_platform.h"

namespace skyrazor::testing {

// One draw as the game takes it: the next value modulo `below`.
struct Roll {
  std::int32_t below;
  std::int32_t value;
};

// The first seed whose next draws give the wanted rolls, in order.
inline std::uint32_t seedForRolls(std::initializer_list<Roll> rolls) {
  for (std::uint32_t seed = 1; seed < 50'000'000; ++seed) {
    Random random;
    random.seed(seed);
    bool matches = true;
    for (const Roll& roll : rolls) {
      matches = matches && random.below(roll.below) == roll.value;
    }
    if (matches) {
      return seed;
    }
  }
  throw std::runtime_error("no seed gives these rolls");
}

// Two default ships on row 7, empty pools, a fake 80x25 console, and dice
// that a test can pin and later count.
class BattleFixture : public ::testing::Test {
 protected:
  BattleFixture() {
    applyDefaultSet(duel);
    rearmShips(duel);
    resetPools(duel);
    resetBattleCounters(duel);
  }

  Pilot& left() { return duel.left(); }
  Pilot& right() { return duel.right(); }

  Projectile& place(Pilot& pilot, int slot, char symbol, std::int32_t col, std::int32_t row) {
    Projectile& projectile = pilot.pool[static_cast<std::size_t>(slot)];
    projectile = Projectile{symbol, col, row};
    return projectile;
  }

  void useRolls(std::initializer_list<Roll> rolls) { useSeed(seedForRolls(rolls)); }
  void useSeed(std::uint32_t value) {
    seed = value;
    random.seed(seed);
  }
  // How many draws were taken since the dice were pinned.
  int drawsTaken() const {
    Random replay;
    replay.seed(seed);
    int draws = 0;
    while (replay.state() != random.state() && draws < 1000) {
      replay.next();
      ++draws;
    }
    return draws;
  }

  int currentColor() const { return fake.screen.attribute() & 0x0F; }
  void expectCell(std::int32_t col, std::int32_t row, unsigned char byte, int color) const {
    SCOPED_TRACE(::testing::Message() << "cell (" << col << ", " << row << ")");
    EXPECT_EQ(fake.byteAt(col, row), byte);
    EXPECT_EQ(fake.colorAt(col, row), color);
  }
  void expectUntouched(std::int32_t col, std::int32_t row) const {
    expectCell(col, row, ' ', Screen::kStartAttribute & 0x0F);
  }

  FakeConsole fake;
  Random random;
  std::uint32_t seed = 1;
  Duel duel;
};

}  // namespace skyrazor::testing
