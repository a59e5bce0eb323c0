#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>
#include <vector>

#include "battle/frame_counters.h"
#include "support/battle_fixture.h"

namespace skyrazor {
namespace {

constexpr int kGrey = 8;

class FrameCountersTest : public testing::BattleFixture {
 protected:
  // The dust-wall drawing earlier in the frame leaves grey set.
  FrameCountersTest() { fake.console.setTextColor(kGrey); }

  void advance() { advanceFrameCounters(fake.console, duel); }
};

TEST_F(FrameCountersTest, EachPilotRegeneratesOnceEveryTwentyFramesFiveApart) {
  left().ship.shields = 50;
  right().ship.shields = 50;
  left().config.regenRate = 4;
  right().config.regenRate = 7;
  std::vector<int> leftFrames;
  std::vector<int> rightFrames;
  for (int frame = 1; frame <= 60; ++frame) {
    const std::int32_t leftBefore = left().ship.shields;
    const std::int32_t rightBefore = right().ship.shields;
    advance();
    if (left().ship.shields != leftBefore) {
      leftFrames.push_back(frame);
    }
    if (right().ship.shields != rightBefore) {
      rightFrames.push_back(frame);
    }
  }
  EXPECT_EQ(leftFrames, (std::vector<int>{9, 29, 49}));
  EXPECT_EQ(rightFrames, (std::vector<int>{14, 34, 54}));
  EXPECT_EQ(left().ship.shields, 62);
  EXPECT_EQ(right().ship.shields, 71);
  EXPECT_EQ(currentColor(), 15);
}

// (shields, shieldMax, regenRate, shields after the regeneration frame)
class RegenerationCapTest : public FrameCountersTest,
                            public ::testing::WithParamInterface<std::tuple<int, int, int, int>> {};

TEST_P(RegenerationCapTest, NeverEndsAboveTheMaximum) {
  const auto [shields, shieldMax, rate, expected] = GetParam();
  left().ship.shields = shields;
  left().config.shieldMax = shieldMax;
  left().config.regenRate = rate;
  duel.regenTick = 9;
  advance();
  EXPECT_EQ(left().ship.shields, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Caps, RegenerationCapTest,
    ::testing::Values(std::tuple{99, 100, 1, 100}, std::tuple{999, 1000, 10, 1000},
                      std::tuple{990, 1000, 10, 1000}, std::tuple{40, 100, 0, 40},
                      // above the maximum after a dust-wall refill
                      std::tuple{1008, 1000, 0, 1000}, std::tuple{101, 100, 1, 100}));

TEST_F(FrameCountersTest, RocketCooldownCountsDownToZeroAndStays) {
  duel.computerPilot.rocketCooldown = 3;
  std::vector<std::int32_t> seen;
  for (int frame = 0; frame < 5; ++frame) {
    advance();
    seen.push_back(duel.computerPilot.rocketCooldown);
  }
  EXPECT_EQ(seen, (std::vector<std::int32_t>{2, 1, 0, 0, 0}));
}

}  // namespace
}  // namespace skyrazor
