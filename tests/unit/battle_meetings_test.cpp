#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "battle/flight.h"
#include "battle/meetings.h"
#include "support/battle_fixture.h"

namespace skyrazor {
namespace {

constexpr unsigned char kMark = 0xB0;
constexpr int kGrey = 8;

class MeetingsTest : public testing::BattleFixture {
 protected:
  // The dust-wall drawing just before the meetings leaves grey set.
  MeetingsTest() { fake.console.setTextColor(kGrey); }

  void resolve() { resolveProjectileMeetings(fake.console, random, duel); }
  void expectMark(std::int32_t col, std::int32_t row) const { expectCell(col, row, kMark, kGrey); }
};

// --- The pair ---------------------------------------------------------------------

TEST_F(MeetingsTest, OnlyOpponentsInTheSameCellMeet) {
  useRolls({});
  const Projectile& mine = place(left(), 19, symbol::kLaser, 20, 7);
  const Projectile& mineToo = place(left(), 18, symbol::kMachineBolt, 20, 7);
  const Projectile& sameRow = place(right(), 19, symbol::kMachineBolt, 21, 7);
  const Projectile& sameColumn = place(right(), 18, symbol::kMachineBolt, 20, 8);
  resolve();
  for (const Projectile* projectile : {&mine, &mineToo, &sameRow, &sameColumn}) {
    EXPECT_FALSE(projectile->empty());
  }
  EXPECT_EQ(drawsTaken(), 0);
  expectUntouched(20, 7);
}

enum class Survivor { Left, Right, Both, Neither };

// (pilot 1's symbol, pilot 2's symbol, laser roll or -1 when none is drawn, who flies on)
class PairTest : public MeetingsTest,
                 public ::testing::WithParamInterface<std::tuple<char, char, int, Survivor>> {};

TEST_P(PairTest, OutcomeFollowsTheKindsAndTheRoll) {
  const auto [leftSymbol, rightSymbol, roll, survivor] = GetParam();
  roll < 0 ? useRolls({}) : useRolls({{10, roll}});
  const Projectile& mine = place(left(), 12, leftSymbol, 30, 4);
  const Projectile& theirs = place(right(), 2, rightSymbol, 30, 4);
  resolve();
  EXPECT_EQ(drawsTaken(), roll < 0 ? 0 : 1);
  EXPECT_EQ(mine.empty(), survivor == Survivor::Right || survivor == Survivor::Neither);
  EXPECT_EQ(theirs.empty(), survivor == Survivor::Left || survivor == Survivor::Neither);
  if (!mine.empty()) {
    EXPECT_EQ(mine.symbol, leftSymbol);
  }
  if (theirs.empty()) {
    EXPECT_EQ(theirs.col, 3);
    EXPECT_EQ(theirs.row, 20);
  }
  expectMark(30, 4);
}

INSTANTIATE_TEST_SUITE_P(
    WithoutLaser, PairTest,
    ::testing::Values(std::tuple{symbol::kMachineBolt, symbol::kMachineBolt, -1, Survivor::Neither},
                      std::tuple{symbol::kMachineBolt, symbol::kRocket, -1, Survivor::Neither},
                      std::tuple{symbol::kRocket, symbol::kRocket, -1, Survivor::Neither},
                      std::tuple{symbol::kIon, symbol::kHomingIon, -1, Survivor::Neither},
                      std::tuple{symbol::kBomb, symbol::kIon, -1, Survivor::Neither}));
INSTANTIATE_TEST_SUITE_P(
    WithLaser, PairTest,
    ::testing::Values(std::tuple{symbol::kLaser, symbol::kMachineBolt, 3, Survivor::Left},
                      std::tuple{symbol::kLaser, symbol::kMachineBolt, 9, Survivor::Left},
                      std::tuple{symbol::kLaser, symbol::kMachineBolt, 2, Survivor::Neither},
                      std::tuple{symbol::kLaser, symbol::kIon, 0, Survivor::Neither},
                      std::tuple{symbol::kIon, symbol::kLaser, 3, Survivor::Right},
                      std::tuple{symbol::kHomingIon, symbol::kLaser, 2, Survivor::Neither},
                      std::tuple{symbol::kLaser, symbol::kLaser, 9, Survivor::Neither},
                      std::tuple{symbol::kLaser, symbol::kRocket, 9, Survivor::Both},
                      std::tuple{symbol::kLaser, symbol::kRocket, 0, Survivor::Both},
                      std::tuple{symbol::kRocket, symbol::kLaser, 5, Survivor::Both},
                      std::tuple{symbol::kLaser, symbol::kBomb, 3, Survivor::Left},
                      std::tuple{symbol::kBomb, symbol::kLaser, 7, Survivor::Right},
                      std::tuple{symbol::kBomb, symbol::kLaser, 2, Survivor::Neither}));

TEST_F(MeetingsTest, MarksTakeTheColourAlreadySet) {
  fake.console.setTextColor(5);
  place(left(), 19, symbol::kMachineBolt, 20, 7);
  place(right(), 19, symbol::kMachineBolt, 20, 7);
  resolve();
  expectCell(20, 7, kMark, 5);
  EXPECT_EQ(currentColor(), 5);
}

// --- Several projectiles in one cell -------------------------------------------------

// (first roll, second roll, laser survives, lower opponent survives, draws)
class ContestedLaserTest
    : public MeetingsTest,
      public ::testing::WithParamInterface<std::tuple<int, int, bool, bool, int>> {};

TEST_P(ContestedLaserTest, LaserMustWinEveryMeetingInItsCell) {
  const auto [firstRoll, secondRoll, laserSurvives, lowerSurvives, draws] = GetParam();
  useRolls({{10, firstRoll}, {10, secondRoll}});
  const Projectile& laser = place(left(), 10, symbol::kLaser, 25, 6);
  const Projectile& higher = place(right(), 19, symbol::kMachineBolt, 25, 6);
  const Projectile& lower = place(right(), 4, symbol::kIon, 25, 6);
  resolve();
  EXPECT_EQ(laser.empty(), !laserSurvives);
  EXPECT_TRUE(higher.empty());
  EXPECT_EQ(lower.empty(), !lowerSurvives);
  EXPECT_EQ(drawsTaken(), draws);
}

INSTANTIATE_TEST_SUITE_P(Rolls, ContestedLaserTest,
                         ::testing::Values(std::tuple{5, 7, true, false, 2},
                                           std::tuple{5, 1, false, false, 2},
                                           std::tuple{2, 9, false, true, 1}));

TEST_F(MeetingsTest, RightPilotsLaserGoesOnMeetingLaterSlotsOfTheLeftPilot) {
  useRolls({{10, 9}, {10, 4}});
  const Projectile& laser = place(right(), 0, symbol::kLaser, 15, 9);
  const Projectile& higher = place(left(), 30, symbol::kMachineBolt, 15, 9);
  const Projectile& lower = place(left(), 1, symbol::kMachineBolt, 15, 9);
  resolve();
  EXPECT_FALSE(laser.empty());
  EXPECT_TRUE(higher.empty());
  EXPECT_TRUE(lower.empty());
  EXPECT_EQ(drawsTaken(), 2);
}

TEST_F(MeetingsTest, BoltMeetingStackedRocketsDestroysOnlyTheHighestSlot) {
  const Projectile& bolt = place(left(), 3, symbol::kMachineBolt, 30, 5);
  const Projectile& top = place(right(), 19, symbol::kRocket, 30, 5);
  const Projectile& middle = place(right(), 18, symbol::kRocket, 30, 5);
  const Projectile& bottom = place(right(), 17, symbol::kRocket, 30, 5);
  resolve();
  EXPECT_TRUE(bolt.empty());
  EXPECT_TRUE(top.empty());
  EXPECT_FALSE(middle.empty());
  EXPECT_FALSE(bottom.empty());
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
  const std::vector<const Projectile*> swept = {
      &place(left(), 10, symbol::kMachineBolt, 19, 7),  // the bomb owner's own
      &place(right(), 11, symbol::kIon, 21, 7),
      &place(right(), 5, symbol::kRocket, 20, 8),
      &place(left(), 5, symbol::kRocket, 20, 6),
  };
  const std::vector<const Projectile*> spared = {
      &place(left(), 0, symbol::kLaser, 20, 8), &place(right(), 0, symbol::kLaser, 20, 6),
      &place(right(), 7, symbol::kMachineBolt, 21, 8),  // diagonal
      &place(left(), 7, symbol::kMachineBolt, 22, 7),   // two columns away
  };
  resolve();
  for (const Projectile* projectile : swept) {
    EXPECT_TRUE(projectile->empty());
  }
  for (const Projectile* projectile : spared) {
    EXPECT_FALSE(projectile->empty());
  }
  EXPECT_TRUE(left().pool[19].empty());
  EXPECT_TRUE(right().pool[19].empty());
  EXPECT_EQ(drawsTaken(), 0);
  for (auto [col, row] : {std::pair{20, 7}, {21, 7}, {19, 7}, {20, 8}, {20, 6}}) {
    expectMark(col, row);
  }
  expectUntouched(21, 8);
}

TEST_F(MeetingsTest, BlastSweepsNeighboursBeforeTheyCanMeetEachOther) {
  // Beside the blast stand two pairs that would meet later in the same sweep;
  // the swept bolts are gone first, so the surviving laser meets nothing and
  // no laser roll is drawn.
  useRolls({});
  place(left(), 19, symbol::kMachineBolt, 40, 3);
  place(right(), 19, symbol::kBomb, 40, 3);
  const Projectile& laserBeside = place(left(), 1, symbol::kLaser, 39, 3);
  const Projectile& boltOnLaser = place(right(), 1, symbol::kMachineBolt, 39, 3);
  const Projectile& mineBelow = place(left(), 2, symbol::kMachineBolt, 40, 4);
  const Projectile& theirsBelow = place(right(), 2, symbol::kMachineBolt, 40, 4);
  resolve();
  EXPECT_FALSE(laserBeside.empty());
  EXPECT_TRUE(boltOnLaser.empty());
  EXPECT_TRUE(mineBelow.empty());
  EXPECT_TRUE(theirsBelow.empty());
  EXPECT_EQ(drawsTaken(), 0);
  expectMark(41, 3);  // marks on the border are not clipped
  expectMark(40, 2);
}

// --- Approaching projectiles ---------------------------------------------------------

class ApproachTest : public MeetingsTest, public ::testing::WithParamInterface<int> {};

TEST_P(ApproachTest, BoltsMeetOnlyAcrossAnEvenGap) {
  const int gap = GetParam();
  const Projectile& mine = place(left(), 19, symbol::kMachineBolt, 10, 5);
  const Projectile& theirs = place(right(), 19, symbol::kMachineBolt, 10 + gap, 5);
  for (int frame = 0; frame < 10 && !mine.empty(); ++frame) {
    flyProjectiles(fake.console, random, left(), Side::Left, right());
    flyProjectiles(fake.console, random, right(), Side::Right, left());
    resolve();
  }
  EXPECT_EQ(mine.empty(), gap % 2 == 0);
  EXPECT_EQ(theirs.empty(), gap % 2 == 0);
}

INSTANTIATE_TEST_SUITE_P(Gaps, ApproachTest, ::testing::Values(2, 3, 4, 5, 8, 9));

}  // namespace
}  // namespace skyrazor
