#include <gtest/gtest.h>

#include <tuple>

#include "battle/flight.h"
#include "support/battle_fixture.h"

namespace skyrazor {
namespace {

constexpr unsigned char kLight = 0xB0;
constexpr unsigned char kMedium = 0xB1;
constexpr unsigned char kDark = 0xB2;
constexpr int kGrey = 8;
constexpr int kGreen = 10;
constexpr int kRed = 12;

class FlightTest : public testing::BattleFixture {
 protected:
  void flyLeft() { flyProjectiles(fake.console, random, left(), Side::Left, right()); }
  void flyRight() { flyProjectiles(fake.console, random, right(), Side::Right, left()); }
};

// --- Drawing and moving -------------------------------------------------------

TEST_F(FlightTest, DrawsEverySlotWhereItStoodInThePassColour) {
  left().config.ammoLimit = 9;
  const Projectile& aboveRing = place(left(), 12, symbol::kBomb, 20, 6);
  place(left(), 11, symbol::kLaser, 20, 6);  // lower slot drawn last
  place(left(), 5, symbol::kRocket, 2, 7);
  flyLeft();
  expectCell(20, 6, '-', kGreen);
  expectCell(2, 7, 0x1D, kGreen);
  expectCell(3, 20, ' ', kGreen);  // empty slots print a blank in the parking cell
  EXPECT_EQ(aboveRing.col, 20);    // outside the firing ring: drawn, never moved
  EXPECT_EQ(currentColor(), kGreen);
  flyRight();
  expectCell(3, 20, ' ', kRed);
  EXPECT_EQ(currentColor(), kRed);
}

TEST_F(FlightTest, EveryProjectileStepsOneColumnTowardsTheTarget) {
  const Projectile& bolt = place(left(), 19, symbol::kMachineBolt, 10, 4);
  const Projectile& rocket = place(left(), 18, symbol::kRocket, 2, 7);
  const Projectile& arriving = place(left(), 17, symbol::kLaser, 39, 7);
  const Projectile& enemyRocket = place(right(), 18, symbol::kRocket, 41, 9);
  const Projectile& enemyArriving = place(right(), 0, symbol::kBomb, 4, 7);
  flyLeft();
  flyRight();
  EXPECT_EQ(bolt.col, 11);
  EXPECT_EQ(bolt.row, 4);
  EXPECT_EQ(rocket.col, 3);
  EXPECT_EQ(enemyRocket.col, 40);
  // Entering the end column is not yet the end of the flight.
  EXPECT_EQ(arriving.col, 40);
  EXPECT_EQ(enemyArriving.col, 3);
  EXPECT_EQ(right().ship.shields, 100);
  EXPECT_EQ(left().ship.shields, 100);
}

// --- End of flight --------------------------------------------------------------

TEST_F(FlightTest, DirectHitCostsStrengthPlusAThirdOfARoll) {
  useRolls({{12, 11}});  // 12 + 11 / 3
  const Projectile& bolt = place(left(), 19, symbol::kMachineBolt, 40, 7);
  flyLeft();
  EXPECT_EQ(right().ship.shields, 85);
  EXPECT_EQ(right().ship.hp, 3);
  EXPECT_EQ(right().ship.dustWallTimer, 0);
  EXPECT_TRUE(bolt.empty());
  expectCell(40, 7, kMedium, kGreen);
  EXPECT_EQ(drawsTaken(), 1);

  right().config.weaponStrength = 30;
  left().ship.row = 4;
  useRolls({{30, 2}});
  place(right(), 0, symbol::kLaser, 3, 4);
  flyRight();
  EXPECT_EQ(left().ship.shields, 70);
  expectCell(3, 4, kMedium, kRed);
}

TEST_F(FlightTest, ShotOnAnotherRowVanishesWithoutEffect) {
  useRolls({});
  const Projectile& bolt = place(left(), 19, symbol::kMachineBolt, 40, 6);
  flyLeft();
  EXPECT_TRUE(bolt.empty());
  EXPECT_EQ(right().ship.shields, 100);
  EXPECT_EQ(drawsTaken(), 0);
  expectCell(40, 6, '.', kGreen);  // as drawn, no mark
}

// (shields before, damage roll or -1 for none, shields after, hit points after)
class ShieldsGiveWayTest : public FlightTest,
                           public ::testing::WithParamInterface<std::tuple<int, int, int, int>> {};

TEST_P(ShieldsGiveWayTest, HitPointGoesOnceShieldsReachZero) {
  const auto [before, roll, after, hp] = GetParam();
  right().ship.shields = before;
  roll < 0 ? useRolls({}) : useRolls({{12, roll}});
  const Projectile& bolt = place(left(), 19, symbol::kMachineBolt, 40, 7);
  flyLeft();
  EXPECT_EQ(right().ship.shields, after);
  EXPECT_EQ(right().ship.hp, hp);
  EXPECT_EQ(right().ship.dustWallTimer, hp < 3 ? 100 : 0);
  // The shot that took a hit point is left in place for the dust wall.
  EXPECT_EQ(bolt.empty(), hp == 3);
  EXPECT_EQ(drawsTaken(), roll < 0 ? 0 : 1);
  expectCell(40, 7, roll < 0 ? '.' : kMedium, kGreen);
}

INSTANTIATE_TEST_SUITE_P(Shields, ShieldsGiveWayTest,
                         ::testing::Values(std::tuple{14, 4, 1, 3},    // one point left
                                           std::tuple{13, 4, 0, 2},    // exactly used up
                                           std::tuple{2, 11, 0, 2},    // never below zero
                                           std::tuple{0, -1, 0, 2}));  // no roll, no mark

TEST_F(FlightTest, LostHitPointEndsThePassLeavingLaterSlotsUntouched) {
  right().ship.shields = 0;
  left().ship.shields = 0;
  useRolls({});
  place(left(), 19, symbol::kMachineBolt, 40, 7);
  const Projectile& second = place(left(), 18, symbol::kBomb, 40, 7);
  const Projectile& far = place(left(), 17, symbol::kMachineBolt, 20, 5);
  const Projectile& ion = place(left(), 16, symbol::kIon, 20, 6);
  place(right(), 19, symbol::kMachineBolt, 3, 7);
  flyLeft();
  EXPECT_EQ(right().ship.hp, 2);
  EXPECT_EQ(second.symbol, symbol::kBomb);
  EXPECT_EQ(second.col, 40);
  EXPECT_EQ(far.col, 20);
  EXPECT_EQ(ion.col, 20);
  EXPECT_EQ(drawsTaken(), 0);  // the ion did not roll
  expectUntouched(39, 7);      // the bomb did not burst
  EXPECT_EQ(currentColor(), kGreen);
  flyRight();  // the other pass still runs
  EXPECT_EQ(left().ship.hp, 2);
}

TEST_F(FlightTest, RocketVolleyHitsOneByOneUntilAHitPointIsLost) {
  // Ten rockets of 12 to 15 each against 100 shields: the 7th, 8th or 9th
  // takes the hit point; those after it are neither rolled nor blasted.
  for (std::uint32_t volleySeed : {7u, 1234u, 99999u, 31337u}) {
    SCOPED_TRACE(volleySeed);
    resetPools(duel);
    rearmShips(duel);
    useSeed(volleySeed);
    Random replay;
    replay.seed(volleySeed);
    int shields = 100;
    int rocketsVisited = 0;
    while (shields > 0) {
      shields -= 12 + replay.below(12) / 3;
      ++rocketsVisited;
    }
    for (int slot = 19; slot >= 10; --slot) {
      place(left(), slot, symbol::kRocket, 40, 7);
    }
    flyLeft();
    EXPECT_EQ(right().ship.hp, 2);
    EXPECT_EQ(drawsTaken(), rocketsVisited);
    for (int slot = 19; slot >= 10; --slot) {
      const bool visitedBeforeTheLoss = slot > 19 - (rocketsVisited - 1);
      EXPECT_EQ(left().pool[static_cast<std::size_t>(slot)].empty(), visitedBeforeTheLoss) << slot;
    }
  }
}

// --- Bomb burst -----------------------------------------------------------------

TEST_F(FlightTest, BombOnTheShipBurstsBehindBelowAndAboveBeforeTheHit) {
  useRolls({{12, 0}});
  place(left(), 19, symbol::kBomb, 40, 7);
  place(left(), 18, symbol::kBomb, 40, 9);  // a miss bursts nothing
  flyLeft();
  expectCell(39, 7, kLight, kGrey);
  expectCell(40, 8, kLight, kGrey);
  expectCell(40, 6, kLight, kGrey);
  expectCell(40, 7, kMedium, kGreen);
  expectUntouched(39, 9);
  expectUntouched(40, 10);
  EXPECT_EQ(right().ship.shields, 88);

  left().ship.row = 3;
  left().ship.shields = 0;
  place(right(), 19, symbol::kBomb, 3, 3);
  flyRight();
  expectCell(4, 3, kLight, kGrey);
  expectCell(3, 4, kLight, kGrey);
  expectCell(3, 2, kLight, kGrey);  // over the border, not clipped
  expectCell(3, 3, 'o', kRed);
  EXPECT_EQ(left().ship.hp, 2);
}

// --- Field blast ----------------------------------------------------------------

TEST_F(FlightTest, RocketBlastDrawsItsColumnWithinTheArena) {
  right().ship.row = 11;
  const Projectile& rocket = place(left(), 19, symbol::kRocket, 40, 6);
  flyLeft();
  EXPECT_TRUE(rocket.empty());
  const unsigned char column[] = {kLight, kMedium, kMedium, kDark, kMedium, kMedium, kLight};
  for (int row = 3; row <= 9; ++row) {
    expectCell(40, row, column[row - 3], kGrey);
  }
  expectUntouched(40, 10);
  EXPECT_EQ(right().ship.shields, 100);
  EXPECT_EQ(currentColor(), kGreen);

  fieldBlast(fake.console, 20, 3, left(), Side::Left, right());
  expectCell(20, 3, kDark, kGrey);
  expectCell(20, 6, kLight, kGrey);
  expectUntouched(20, 2);
  fieldBlast(fake.console, 25, 11, right(), Side::Right, left());
  expectCell(25, 8, kLight, kGrey);
  expectUntouched(25, 12);
  EXPECT_EQ(currentColor(), kRed);
}

// (rocket row, target row, weapon strength, shield loss)
class FieldBlastLossTest : public FlightTest,
                           public ::testing::WithParamInterface<std::tuple<int, int, int, int>> {};

TEST_P(FieldBlastLossTest, TargetNearTheRocketLosesShields) {
  const auto [rocketRow, targetRow, strength, loss] = GetParam();
  left().config.weaponStrength = strength;
  right().ship.row = targetRow;
  useRolls({});
  place(left(), 19, symbol::kRocket, 40, rocketRow);
  flyLeft();
  EXPECT_EQ(right().ship.shields, 100 - loss);
  EXPECT_EQ(drawsTaken(), 0);
}

INSTANTIATE_TEST_SUITE_P(DistancesAndEdges, FieldBlastLossTest,
                         ::testing::Values(std::tuple{7, 8, 12, 4}, std::tuple{7, 6, 12, 4},
                                           std::tuple{7, 9, 12, 2}, std::tuple{7, 5, 12, 2},
                                           std::tuple{7, 10, 12, 1}, std::tuple{7, 4, 12, 1},
                                           std::tuple{7, 11, 12, 0}, std::tuple{7, 3, 12, 0},
                                           std::tuple{3, 4, 12, 4}, std::tuple{3, 6, 12, 1},
                                           std::tuple{11, 10, 12, 4}, std::tuple{11, 8, 12, 1},
                                           std::tuple{7, 8, 120, 40}, std::tuple{7, 9, 120, 24},
                                           std::tuple{7, 10, 120, 15}, std::tuple{7, 10, 7, 0}));

TEST_F(FlightTest, FieldBlastWearsShieldsDownButNeverTakesAHitPoint) {
  right().ship.shields = 3;
  right().ship.row = 8;
  place(left(), 19, symbol::kRocket, 40, 7);
  flyLeft();
  EXPECT_EQ(right().ship.shields, 0);
  EXPECT_EQ(right().ship.hp, 3);
  EXPECT_EQ(right().ship.dustWallTimer, 0);
}

TEST_F(FlightTest, RocketHitIsFollowedByItsBlastOverTheHitMark) {
  useRolls({{12, 0}});
  place(left(), 19, symbol::kRocket, 40, 7);
  flyLeft();
  EXPECT_EQ(right().ship.shields, 88);  // no blast cell on the ship's own row
  expectCell(40, 7, kDark, kGrey);
}

// --- Ions -----------------------------------------------------------------------

enum class Ion { Down, Up, Vanish, TurnHoming, Stay };

// (row, roll, outcome)
class IonRollTest : public FlightTest,
                    public ::testing::WithParamInterface<std::tuple<int, int, Ion>> {};

TEST_P(IonRollTest, FirstFittingRuleDecides) {
  const auto [row, roll, outcome] = GetParam();
  useRolls({{100, roll}});
  const Projectile& ion = place(left(), 19, symbol::kIon, 20, row);
  flyLeft();
  EXPECT_EQ(drawsTaken(), 1);
  if (outcome == Ion::Vanish) {
    EXPECT_TRUE(ion.empty());
    EXPECT_EQ(ion.col, 3);  // parked, not moved on
    expectCell(20, row, kLight, kGreen);
    return;
  }
  const int rowStep = outcome == Ion::Down ? 1 : outcome == Ion::Up ? -1 : 0;
  EXPECT_EQ(ion.row, row + rowStep);  // a new homing ion steers from the next frame
  EXPECT_EQ(ion.col, 21);
  EXPECT_EQ(ion.symbol, outcome == Ion::TurnHoming ? symbol::kHomingIon : symbol::kIon);
  expectCell(20, row, outcome == Ion::TurnHoming ? kLight : '~', kGreen);
}

INSTANTIATE_TEST_SUITE_P(
    MiddleRow, IonRollTest,
    ::testing::Values(std::tuple{7, 99, Ion::Down}, std::tuple{7, 76, Ion::Down},
                      std::tuple{7, 75, Ion::Up}, std::tuple{7, 51, Ion::Up},
                      std::tuple{7, 50, Ion::Vanish}, std::tuple{7, 46, Ion::Vanish},
                      std::tuple{7, 45, Ion::Stay}, std::tuple{7, 1, Ion::Stay},
                      std::tuple{7, 0, Ion::TurnHoming}));
INSTANTIATE_TEST_SUITE_P(TopRow, IonRollTest,
                         ::testing::Values(std::tuple{3, 76, Ion::Down},
                                           std::tuple{3, 75, Ion::Vanish},
                                           std::tuple{3, 51, Ion::Vanish},
                                           std::tuple{3, 45, Ion::Stay},
                                           std::tuple{3, 0, Ion::TurnHoming}));
INSTANTIATE_TEST_SUITE_P(BottomRow, IonRollTest,
                         ::testing::Values(std::tuple{11, 99, Ion::Up}, std::tuple{11, 51, Ion::Up},
                                           std::tuple{11, 50, Ion::Vanish},
                                           std::tuple{11, 45, Ion::Stay},
                                           std::tuple{11, 0, Ion::TurnHoming}));

TEST_F(FlightTest, IonsRollInVisitingOrderAndStillDriftInTheirLastFrame) {
  useRolls({{100, 80}, {12, 0}, {100, 48}});
  place(left(), 19, symbol::kIon, 40, 6);  // drifts onto the ship's row and hits
  place(left(), 10, symbol::kMachineBolt, 11, 5);
  const Projectile& fizzle = place(left(), 3, symbol::kIon, 40, 7);
  flyLeft();
  EXPECT_TRUE(fizzle.empty());
  EXPECT_EQ(right().ship.shields, 88);  // one hit only: the vanishing ion makes none
  EXPECT_EQ(drawsTaken(), 3);

  useRolls({{100, 90}});
  const Projectile& enemyIon = place(right(), 19, symbol::kIon, 30, 5);
  flyRight();
  EXPECT_EQ(enemyIon.col, 29);
  EXPECT_EQ(enemyIon.row, 6);
}

TEST_F(FlightTest, HomingIonClosesInOnTheTargetRowWithoutRolling) {
  useRolls({});
  const Projectile& fromAbove = place(left(), 19, symbol::kHomingIon, 20, 3);
  const Projectile& fromBelow = place(left(), 18, symbol::kHomingIon, 20, 11);
  const Projectile& onRow = place(left(), 17, symbol::kHomingIon, 20, 7);
  flyLeft();
  EXPECT_EQ(fromAbove.row, 4);
  EXPECT_EQ(fromBelow.row, 10);
  EXPECT_EQ(onRow.row, 7);
  EXPECT_EQ(fromAbove.col, 21);
  EXPECT_EQ(drawsTaken(), 0);

  left().ship.row = 9;
  useRolls({{12, 0}});
  place(right(), 19, symbol::kHomingIon, 3, 8);  // steers into the ship in its last frame
  flyRight();
  EXPECT_EQ(left().ship.shields, 88);
  expectCell(3, 9, kMedium, kRed);
}

}  // namespace
}  // namespace skyrazor
