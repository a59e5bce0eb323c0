#include <gtest/gtest.h>

#include <tuple>

#include "battle/flight.h"
#include "battle/meetings.h"
#include "support/fake_platform.h"
#include "support/seeded_rolls.h"

namespace skyrazor {
namespace {

using testing::FakeConsole;
using testing::Roll;
using testing::seedForRolls;

constexpr unsigned char kLightShade = 0xB0;
constexpr int kGrey = 8;

class MeetingsTest : public ::testing::Test {
 protected:
  MeetingsTest() {
    applyDefaultSet(duel);
    rearmShips(duel);
    resetPools(duel);
    resetBattleCounters(duel);
    // The dust-wall drawing just before leaves grey set.
    fake.console.setTextColor(kGrey);
  }

  Pilot& left() { return duel.left(); }
  Pilot& right() { return duel.right(); }

  Projectile& place(Pilot& pilot, int slot, char symbol, std::int32_t col, std::int32_t row) {
    Projectile& projectile = pilot.pool[static_cast<std::size_t>(slot)];
    projectile = Projectile{symbol, col, row};
    return projectile;
  }

  void useRolls(std::initializer_list<Roll> rolls) {
    seed = seedForRolls(rolls);
    random.seed(seed);
  }
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

  void resolve() { resolveProjectileMeetings(fake.console, random, duel); }

  void expectMark(std::int32_t col, std::int32_t row) {
    EXPECT_EQ(fake.byteAt(col, row), kLightShade) << "at (" << col << ", " << row << ")";
    EXPECT_EQ(fake.colorAt(col, row), kGrey) << "at (" << col << ", " << row << ")";
  }
  void expectUntouched(std::int32_t col, std::int32_t row) {
    EXPECT_EQ(fake.byteAt(col, row), ' ') << "at (" << col << ", " << row << ")";
  }

  FakeConsole fake;
  Random random;
  std::uint32_t seed = 1;
  Duel duel;
};

// --- The pair ---------------------------------------------------------------------

TEST_F(MeetingsTest, ProjectilesInDifferentCellsDoNotMeet) {
  useRolls({});
  const Projectile& mine = place(left(), 19, symbol::kLaser, 20, 7);
  const Projectile& sameRow = place(right(), 19, symbol::kMachineBolt, 21, 7);
  const Projectile& sameColumn = place(right(), 18, symbol::kMachineBolt, 20, 8);
  resolve();
  EXPECT_FALSE(mine.empty());
  EXPECT_FALSE(sameRow.empty());
  EXPECT_FALSE(sameColumn.empty());
  EXPECT_EQ(drawsTaken(), 0);
  expectUntouched(20, 7);
}

TEST_F(MeetingsTest, ProjectilesOfOnePilotNeverMeetEachOther) {
  const Projectile& first = place(left(), 19, symbol::kMachineBolt, 20, 7);
  const Projectile& second = place(left(), 18, symbol::kMachineBolt, 20, 7);
  resolve();
  EXPECT_FALSE(first.empty());
  EXPECT_FALSE(second.empty());
}

// (pilot 1's symbol, pilot 2's symbol)
class MeetingWithoutLaserTest : public MeetingsTest,
                                public ::testing::WithParamInterface<std::tuple<char, char>> {};

TEST_P(MeetingWithoutLaserTest, BothAreDestroyedWithoutARoll) {
  const auto [leftSymbol, rightSymbol] = GetParam();
  useRolls({});
  const Projectile& mine = place(left(), 7, leftSymbol, 20, 7);
  const Projectile& theirs = place(right(), 30, rightSymbol, 20, 7);
  resolve();
  EXPECT_TRUE(mine.empty());
  EXPECT_TRUE(theirs.empty());
  EXPECT_EQ(mine.row, 20);
  EXPECT_EQ(theirs.col, 3);
  EXPECT_EQ(drawsTaken(), 0);
  expectMark(20, 7);
}

INSTANTIATE_TEST_SUITE_P(Kinds, MeetingWithoutLaserTest,
                         ::testing::Values(std::tuple{symbol::kMachineBolt, symbol::kMachineBolt},
                                           std::tuple{symbol::kMachineBolt, symbol::kRocket},
                                           std::tuple{symbol::kRocket, symbol::kRocket},
                                           std::tuple{symbol::kIon, symbol::kHomingIon},
                                           std::tuple{symbol::kHomingIon, symbol::kRocket},
                                           std::tuple{symbol::kBomb, symbol::kIon},
                                           std::tuple{symbol::kRocket, symbol::kBomb}));

enum class Survivor { Left, Right, Both, Neither };

// (pilot 1's symbol, pilot 2's symbol, roll, who flies on)
class MeetingWithLaserTest
    : public MeetingsTest,
      public ::testing::WithParamInterface<std::tuple<char, char, int, Survivor>> {};

TEST_P(MeetingWithLaserTest, OneRollDecides) {
  const auto [leftSymbol, rightSymbol, roll, survivor] = GetParam();
  useRolls({{10, roll}});
  const Projectile& mine = place(left(), 12, leftSymbol, 30, 4);
  const Projectile& theirs = place(right(), 2, rightSymbol, 30, 4);
  resolve();
  EXPECT_EQ(drawsTaken(), 1);
  EXPECT_EQ(mine.empty(), survivor == Survivor::Right || survivor == Survivor::Neither);
  EXPECT_EQ(theirs.empty(), survivor == Survivor::Left || survivor == Survivor::Neither);
  if (!mine.empty()) {
    EXPECT_EQ(mine.symbol, leftSymbol);
    EXPECT_EQ(mine.col, 30);
  }
  expectMark(30, 4);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, MeetingWithLaserTest,
    ::testing::Values(std::tuple{symbol::kLaser, symbol::kMachineBolt, 3, Survivor::Left},
                      std::tuple{symbol::kLaser, symbol::kMachineBolt, 9, Survivor::Left},
                      std::tuple{symbol::kLaser, symbol::kMachineBolt, 2, Survivor::Neither},
                      std::tuple{symbol::kLaser, symbol::kMachineBolt, 0, Survivor::Neither},
                      std::tuple{symbol::kIon, symbol::kLaser, 3, Survivor::Right},
                      std::tuple{symbol::kHomingIon, symbol::kLaser, 2, Survivor::Neither},
                      std::tuple{symbol::kLaser, symbol::kIon, 5, Survivor::Left},
                      std::tuple{symbol::kLaser, symbol::kLaser, 9, Survivor::Neither},
                      std::tuple{symbol::kLaser, symbol::kLaser, 0, Survivor::Neither},
                      std::tuple{symbol::kLaser, symbol::kRocket, 9, Survivor::Both},
                      std::tuple{symbol::kLaser, symbol::kRocket, 0, Survivor::Both},
                      std::tuple{symbol::kRocket, symbol::kLaser, 5, Survivor::Both},
                      std::tuple{symbol::kRocket, symbol::kLaser, 1, Survivor::Both},
                      std::tuple{symbol::kLaser, symbol::kBomb, 3, Survivor::Left},
                      std::tuple{symbol::kBomb, symbol::kLaser, 7, Survivor::Right},
                      std::tuple{symbol::kBomb, symbol::kLaser, 2, Survivor::Neither}));

// --- Several projectiles in one cell -------------------------------------------------

TEST_F(MeetingsTest, LaserWinningTwiceCutsThroughBothOpponents) {
  useRolls({{10, 5}, {10, 7}});
  const Projectile& laser = place(left(), 10, symbol::kLaser, 25, 6);
  const Projectile& higher = place(right(), 19, symbol::kMachineBolt, 25, 6);
  const Projectile& lower = place(right(), 4, symbol::kIon, 25, 6);
  resolve();
  EXPECT_FALSE(laser.empty());
  EXPECT_TRUE(higher.empty());
  EXPECT_TRUE(lower.empty());
  EXPECT_EQ(drawsTaken(), 2);
}

TEST_F(MeetingsTest, LaserLosingTheSecondContestGoesDownWithIt) {
  useRolls({{10, 5}, {10, 1}});
  const Projectile& laser = place(left(), 10, symbol::kLaser, 25, 6);
  const Projectile& higher = place(right(), 19, symbol::kMachineBolt, 25, 6);
  const Projectile& lower = place(right(), 4, symbol::kMachineBolt, 25, 6);
  resolve();
  EXPECT_TRUE(laser.empty());
  EXPECT_TRUE(higher.empty());
  EXPECT_TRUE(lower.empty());
  EXPECT_EQ(drawsTaken(), 2);
}

TEST_F(MeetingsTest, LaserLosingTheFirstContestLeavesTheSecondOpponentFlying) {
  useRolls({{10, 2}});
  const Projectile& laser = place(left(), 10, symbol::kLaser, 25, 6);
  const Projectile& higher = place(right(), 19, symbol::kMachineBolt, 25, 6);
  const Projectile& lower = place(right(), 4, symbol::kMachineBolt, 25, 6);
  resolve();
  EXPECT_TRUE(laser.empty());
  EXPECT_TRUE(higher.empty());
  EXPECT_FALSE(lower.empty());
  EXPECT_EQ(drawsTaken(), 1);
}

TEST_F(MeetingsTest, RightPilotsLaserGoesOnMeetingLaterSlotsOfTheLeftPilot) {
  useRolls({{10, 9}, {10, 4}});
  const Projectile& laser = place(right(), 0, symbol::kLaser, 15, 9);
  const Projectile& higher = place(left(), 30, symbol::kBomb, 15, 9);
  const Projectile& lower = place(left(), 1, symbol::kMachineBolt, 15, 9);
  resolve();
  EXPECT_FALSE(laser.empty());
  EXPECT_TRUE(higher.empty());
  EXPECT_TRUE(lower.empty());
  EXPECT_EQ(drawsTaken(), 2);
}

TEST_F(MeetingsTest, BoltMeetingStackedRocketsDestroysOnlyTheHighestSlot) {
  useRolls({});
  const Projectile& bolt = place(left(), 3, symbol::kMachineBolt, 30, 5);
  const Projectile& top = place(right(), 19, symbol::kRocket, 30, 5);
  const Projectile& middle = place(right(), 18, symbol::kRocket, 30, 5);
  const Projectile& bottom = place(right(), 17, symbol::kRocket, 30, 5);
  resolve();
  EXPECT_TRUE(bolt.empty());
  EXPECT_TRUE(top.empty());
  EXPECT_FALSE(middle.empty());
  EXPECT_FALSE(bottom.empty());
  EXPECT_EQ(drawsTaken(), 0);
}

TEST_F(MeetingsTest, RocketThatSlipsPastALaserStillMeetsTheNextOpponent) {
  useRolls({{10, 8}});
  const Projectile& rocket = place(left(), 5, symbol::kRocket, 22, 8);
  const Projectile& laser = place(right(), 30, symbol::kLaser, 22, 8);
  const Projectile& bolt = place(right(), 20, symbol::kMachineBolt, 22, 8);
  resolve();
  EXPECT_TRUE(rocket.empty());
  EXPECT_TRUE(bolt.empty());
  EXPECT_FALSE(laser.empty());
  EXPECT_EQ(drawsTaken(), 1);
}

// --- Bomb blast ---------------------------------------------------------------------

TEST_F(MeetingsTest, BombBlastClearsBothPilotsNeighboursButSparesLasers) {
  useRolls({});
  place(left(), 19, symbol::kBomb, 20, 7);
  place(right(), 19, symbol::kMachineBolt, 20, 7);
  const Projectile& ownBehind = place(left(), 10, symbol::kMachineBolt, 19, 7);
  const Projectile& enemyAhead = place(right(), 11, symbol::kIon, 21, 7);
  const Projectile& ownLaserBelow = place(left(), 0, symbol::kLaser, 20, 8);
  const Projectile& enemyLaserAbove = place(right(), 0, symbol::kLaser, 20, 6);
  const Projectile& enemyRocketBelow = place(right(), 5, symbol::kRocket, 20, 8);
  const Projectile& ownRocketAbove = place(left(), 5, symbol::kRocket, 20, 6);
  const Projectile& diagonal = place(right(), 7, symbol::kMachineBolt, 21, 8);
  const Projectile& twoAway = place(left(), 7, symbol::kMachineBolt, 22, 7);
  resolve();
  EXPECT_TRUE(ownBehind.empty());
  EXPECT_TRUE(enemyAhead.empty());
  EXPECT_TRUE(enemyRocketBelow.empty());
  EXPECT_TRUE(ownRocketAbove.empty());
  EXPECT_FALSE(ownLaserBelow.empty());
  EXPECT_FALSE(enemyLaserAbove.empty());
  EXPECT_FALSE(diagonal.empty());
  EXPECT_FALSE(twoAway.empty());
  EXPECT_TRUE(left().pool[19].empty());
  EXPECT_TRUE(right().pool[19].empty());
  EXPECT_EQ(drawsTaken(), 0);
  expectMark(20, 7);
  expectMark(21, 7);
  expectMark(19, 7);
  expectMark(20, 8);
  expectMark(20, 6);
  expectUntouched(21, 8);
}

TEST_F(MeetingsTest, BlastSweepsNeighboursBeforeTheyCanMeetEachOther) {
  // Beside the blast stand two pairs that would meet later in the same sweep;
  // the swept bolts are gone first, so the surviving laser meets nothing and
  // no laser roll is drawn.
  useRolls({});
  place(left(), 19, symbol::kBomb, 20, 7);
  place(right(), 19, symbol::kBomb, 20, 7);
  const Projectile& neighbourMine = place(left(), 2, symbol::kMachineBolt, 21, 7);
  const Projectile& neighbourTheirs = place(right(), 2, symbol::kMachineBolt, 21, 7);
  const Projectile& laserBeside = place(left(), 1, symbol::kLaser, 19, 7);
  const Projectile& boltOnLaser = place(right(), 1, symbol::kMachineBolt, 19, 7);
  resolve();
  EXPECT_TRUE(neighbourMine.empty());
  EXPECT_TRUE(neighbourTheirs.empty());
  EXPECT_FALSE(laserBeside.empty());
  EXPECT_TRUE(boltOnLaser.empty());
  EXPECT_EQ(drawsTaken(), 0);
}

TEST_F(MeetingsTest, BombBlastOnTheArenaEdgeMarksTheBorder) {
  place(left(), 19, symbol::kBomb, 40, 3);
  place(right(), 19, symbol::kBomb, 40, 3);
  resolve();
  expectMark(41, 3);
  expectMark(39, 3);
  expectMark(40, 4);
  expectMark(40, 2);
}

TEST_F(MeetingsTest, MarksUseTheColourAlreadySetAndLeaveItSo) {
  fake.console.setTextColor(5);
  place(left(), 19, symbol::kMachineBolt, 20, 7);
  place(right(), 19, symbol::kMachineBolt, 20, 7);
  resolve();
  EXPECT_EQ(fake.colorAt(20, 7), 5);
  EXPECT_EQ(fake.screen.attribute() & 0x0F, 5);
}

// --- Approaching projectiles ---------------------------------------------------------

class ApproachTest : public MeetingsTest, public ::testing::WithParamInterface<int> {};

// Each frame both passes move, then the meeting test runs once.
TEST_P(ApproachTest, BoltsMeetOnlyAcrossAnEvenGap) {
  const int gap = GetParam();
  const Projectile& mine = place(left(), 19, symbol::kMachineBolt, 10, 5);
  const Projectile& theirs = place(right(), 19, symbol::kMachineBolt, 10 + gap, 5);
  bool met = false;
  for (int frame = 0; frame < 10 && !met; ++frame) {
    flyProjectiles(fake.console, random, left(), Side::Left, right());
    flyProjectiles(fake.console, random, right(), Side::Right, left());
    fake.console.setTextColor(kGrey);
    resolve();
    met = mine.empty() && theirs.empty();
  }
  EXPECT_EQ(met, gap % 2 == 0);
  if (!met) {
    EXPECT_GT(mine.col, theirs.col);  // passed through each other
  }
}

INSTANTIATE_TEST_SUITE_P(Gaps, ApproachTest, ::testing::Values(2, 3, 4, 5, 8, 9));

// --- Frame-end counters --------------------------------------------------------------

class FrameCountersTest : public MeetingsTest {
 protected:
  void advance() { advanceFrameCounters(fake.console, duel); }
};

TEST_F(FrameCountersTest, EachPilotRegeneratesOnceEveryTwentyFramesFiveApart) {
  left().ship.shields = 50;
  right().ship.shields = 50;
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
  EXPECT_EQ(left().ship.shields, 53);
  EXPECT_EQ(right().ship.shields, 53);
}

TEST_F(FrameCountersTest, TickWrapsToZeroAtTwenty) {
  duel.regenTick = 18;
  advance();
  EXPECT_EQ(duel.regenTick, 19);
  advance();
  EXPECT_EQ(duel.regenTick, 0);
  advance();
  EXPECT_EQ(duel.regenTick, 1);
}

TEST_F(FrameCountersTest, RegenerationUsesEachPilotsOwnRate) {
  left().config.regenRate = 4;
  right().config.regenRate = 7;
  left().ship.shields = 10;
  right().ship.shields = 10;
  duel.regenTick = 9;
  advance();
  EXPECT_EQ(left().ship.shields, 14);
  EXPECT_EQ(right().ship.shields, 10);
  duel.regenTick = 14;
  advance();
  EXPECT_EQ(left().ship.shields, 14);
  EXPECT_EQ(right().ship.shields, 17);
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
    ::testing::Values(std::tuple{99, 100, 1, 100}, std::tuple{100, 100, 1, 100},
                      std::tuple{999, 1000, 10, 1000}, std::tuple{995, 1000, 10, 1000},
                      std::tuple{990, 1000, 10, 1000}, std::tuple{40, 100, 0, 40},
                      std::tuple{0, 10, 0, 0},
                      // left above the maximum by a dust-wall refill
                      std::tuple{1008, 1000, 0, 1000}, std::tuple{101, 100, 1, 100}));

TEST_F(FrameCountersTest, SetsTheTextColourBackToWhite) {
  fake.console.setTextColor(kGrey);
  advance();
  EXPECT_EQ(fake.screen.attribute() & 0x0F, 15);
}

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
