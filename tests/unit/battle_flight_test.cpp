#include <gtest/gtest.h>

#include <tuple>

#include "battle/flight.h"
#include "support/fake_platform.h"
#include "support/seeded_rolls.h"

namespace skyrazor {
namespace {

using testing::FakeConsole;
using testing::Roll;
using testing::seedForRolls;

constexpr unsigned char kLightShade = 0xB0;
constexpr unsigned char kMediumShade = 0xB1;
constexpr unsigned char kDarkShade = 0xB2;
constexpr unsigned char kRocketByte = 0x1D;
constexpr int kGrey = 8;
constexpr int kGreen = 10;
constexpr int kRed = 12;

class FlightTest : public ::testing::Test {
 protected:
  FlightTest() {
    applyDefaultSet(duel);
    rearmShips(duel);
    resetPools(duel);
    fake.console.setTextColor(15);
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
  // How many draws were taken since useRolls().
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

  void flyLeft() { flyProjectiles(fake.console, random, left(), Side::Left, right()); }
  void flyRight() { flyProjectiles(fake.console, random, right(), Side::Right, left()); }

  void expectCell(std::int32_t col, std::int32_t row, unsigned char byte, int color) {
    EXPECT_EQ(fake.byteAt(col, row), byte) << "at (" << col << ", " << row << ")";
    EXPECT_EQ(fake.colorAt(col, row), color) << "at (" << col << ", " << row << ")";
  }

  void expectUntouched(std::int32_t col, std::int32_t row) {
    EXPECT_EQ(fake.byteAt(col, row), ' ') << "at (" << col << ", " << row << ")";
    EXPECT_EQ(fake.colorAt(col, row), Screen::kStartAttribute & 0x0F)
        << "at (" << col << ", " << row << ")";
  }

  FakeConsole fake;
  Random random;
  std::uint32_t seed = 1;
  Duel duel;
};

// --- Drawing and moving -------------------------------------------------------

TEST_F(FlightTest, DrawsEverySlotWhereItStoodInThePassColour) {
  place(left(), 19, symbol::kMachineBolt, 10, 4);
  place(left(), 5, symbol::kRocket, 2, 7);
  flyLeft();
  expectCell(10, 4, '.', kGreen);
  expectCell(2, 7, kRocketByte, kGreen);
  // Empty slots print a blank in the parking cell.
  expectCell(3, 20, ' ', kGreen);
  EXPECT_EQ(fake.screen.attribute() & 0x0F, kGreen);

  flyRight();
  expectCell(3, 20, ' ', kRed);
  EXPECT_EQ(fake.screen.attribute() & 0x0F, kRed);
}

TEST_F(FlightTest, LowerSlotIsDrawnLastInASharedCell) {
  place(left(), 12, symbol::kBomb, 20, 6);
  place(left(), 11, symbol::kLaser, 20, 6);
  flyLeft();
  expectCell(20, 6, '-', kGreen);
}

TEST_F(FlightTest, EveryProjectileStepsOneColumnTowardsTheTarget) {
  const Projectile& bolt = place(left(), 19, symbol::kMachineBolt, 10, 4);
  const Projectile& rocket = place(left(), 18, symbol::kRocket, 2, 7);
  const Projectile& lastStep = place(left(), 17, symbol::kLaser, 39, 5);
  const Projectile& enemyBolt = place(right(), 19, symbol::kMachineBolt, 10, 4);
  const Projectile& enemyRocket = place(right(), 18, symbol::kRocket, 41, 9);
  const Projectile& enemyLastStep = place(right(), 0, symbol::kBomb, 4, 3);
  flyLeft();
  flyRight();
  EXPECT_EQ(bolt.col, 11);
  EXPECT_EQ(rocket.col, 3);
  EXPECT_EQ(lastStep.col, 40);
  EXPECT_EQ(lastStep.symbol, symbol::kLaser);  // ends in the next frame
  EXPECT_EQ(enemyBolt.col, 9);
  EXPECT_EQ(enemyRocket.col, 40);
  EXPECT_EQ(enemyLastStep.col, 3);
  EXPECT_EQ(enemyLastStep.symbol, symbol::kBomb);
  EXPECT_EQ(bolt.row, 4);
  EXPECT_EQ(enemyRocket.row, 9);
}

TEST_F(FlightTest, SlotsAboveTheRingAreDrawnButNeverMoved) {
  left().config.ammoLimit = 9;
  const Projectile& outside = place(left(), 10, symbol::kMachineBolt, 10, 4);
  const Projectile& inside = place(left(), 9, symbol::kMachineBolt, 10, 5);
  flyLeft();
  expectCell(10, 4, '.', kGreen);
  EXPECT_EQ(outside.col, 10);
  EXPECT_EQ(inside.col, 11);
}

// --- End of flight --------------------------------------------------------------

TEST_F(FlightTest, DirectHitCostsStrengthPlusAThirdOfARoll) {
  useRolls({{12, 11}});  // extra 11 / 3 = 3
  const Projectile& bolt = place(left(), 19, symbol::kMachineBolt, 40, 7);
  flyLeft();
  EXPECT_EQ(right().ship.shields, 100 - 15);
  EXPECT_EQ(right().ship.hp, 3);
  EXPECT_EQ(right().ship.dustWallTimer, 0);
  EXPECT_TRUE(bolt.empty());
  EXPECT_EQ(bolt.col, 3);
  EXPECT_EQ(bolt.row, 20);
  expectCell(40, 7, kMediumShade, kGreen);
  EXPECT_EQ(drawsTaken(), 1);
}

TEST_F(FlightTest, RightPilotHitsTheLeftShipWithItsOwnStrength) {
  right().config.weaponStrength = 30;
  left().ship.row = 4;
  useRolls({{30, 2}});  // extra 0
  place(right(), 0, symbol::kLaser, 3, 4);
  flyRight();
  EXPECT_EQ(left().ship.shields, 70);
  expectCell(3, 4, kMediumShade, kRed);
}

TEST_F(FlightTest, ShotOnAnotherRowVanishesWithoutEffect) {
  useRolls({});
  const Projectile& bolt = place(left(), 19, symbol::kMachineBolt, 40, 6);
  flyLeft();
  EXPECT_TRUE(bolt.empty());
  EXPECT_EQ(right().ship.shields, 100);
  EXPECT_EQ(drawsTaken(), 0);
  expectCell(40, 6, '.', kGreen);  // only as drawn, no mark
}

TEST_F(FlightTest, HitThatLeavesExactlyZeroShieldsCostsAHitPoint) {
  right().ship.shields = 13;
  useRolls({{12, 4}});  // 12 + 1
  const Projectile& bolt = place(left(), 19, symbol::kMachineBolt, 40, 7);
  flyLeft();
  EXPECT_EQ(right().ship.shields, 0);
  EXPECT_EQ(right().ship.hp, 2);
  EXPECT_EQ(right().ship.dustWallTimer, 100);
  // The shot is left for the dust wall to sweep away.
  EXPECT_EQ(bolt.symbol, symbol::kMachineBolt);
  EXPECT_EQ(bolt.col, 40);
  expectCell(40, 7, kMediumShade, kGreen);
}

TEST_F(FlightTest, HitThatLeavesOneShieldPointIsHeld) {
  right().ship.shields = 14;
  useRolls({{12, 4}});
  place(left(), 19, symbol::kMachineBolt, 40, 7);
  flyLeft();
  EXPECT_EQ(right().ship.shields, 1);
  EXPECT_EQ(right().ship.hp, 3);
}

TEST_F(FlightTest, OverkillNeverLeavesNegativeShields) {
  right().ship.shields = 2;
  useRolls({{12, 11}});
  place(left(), 19, symbol::kMachineBolt, 40, 7);
  flyLeft();
  EXPECT_EQ(right().ship.shields, 0);
  EXPECT_EQ(right().ship.hp, 2);
}

TEST_F(FlightTest, HitOnExhaustedShieldsTakesAHitPointWithoutRollOrMark) {
  right().ship.shields = 0;
  useRolls({});
  place(left(), 19, symbol::kMachineBolt, 40, 7);
  flyLeft();
  EXPECT_EQ(right().ship.hp, 2);
  EXPECT_EQ(right().ship.dustWallTimer, 100);
  EXPECT_EQ(drawsTaken(), 0);
  expectCell(40, 7, '.', kGreen);
}

TEST_F(FlightTest, LostHitPointStopsThePassLeavingLaterSlotsUntouched) {
  right().ship.shields = 0;
  useRolls({});
  place(left(), 19, symbol::kMachineBolt, 40, 7);
  const Projectile& second = place(left(), 18, symbol::kBomb, 40, 7);
  const Projectile& far = place(left(), 17, symbol::kMachineBolt, 20, 5);
  const Projectile& ion = place(left(), 16, symbol::kIon, 20, 6);
  flyLeft();
  EXPECT_EQ(right().ship.hp, 2);  // only one hit point per pass
  EXPECT_EQ(second.symbol, symbol::kBomb);
  EXPECT_EQ(second.col, 40);
  EXPECT_EQ(far.col, 20);
  EXPECT_EQ(ion.col, 20);
  EXPECT_EQ(drawsTaken(), 0);  // the ion made no roll
  expectUntouched(39, 7);      // and the bomb drew no burst
  EXPECT_EQ(fake.screen.attribute() & 0x0F, kGreen);
}

TEST_F(FlightTest, EachPassCanCostItsTargetOneHitPoint) {
  left().ship.shields = 0;
  right().ship.shields = 0;
  place(left(), 19, symbol::kMachineBolt, 40, 7);
  place(right(), 19, symbol::kMachineBolt, 3, 7);
  flyLeft();
  flyRight();
  EXPECT_EQ(left().ship.hp, 2);
  EXPECT_EQ(right().ship.hp, 2);
}

TEST_F(FlightTest, RocketVolleyHitsOneByOneUntilAHitPointIsLost) {
  // Each rocket is a hit of 12 to 15 with its own roll; the one that empties
  // the shields ends the pass, and the rockets after it are neither rolled
  // nor blasted.
  for (std::uint32_t volleySeed : {7u, 1234u, 99999u, 31337u}) {
    SCOPED_TRACE(volleySeed);
    resetPools(duel);
    rearmShips(duel);
    seed = volleySeed;
    random.seed(seed);
    Random replay;
    replay.seed(seed);
    int shields = 100;
    int rocketsVisited = 0;
    while (shields > 0) {
      shields -= 12 + replay.below(12) / 3;
      ++rocketsVisited;
    }
    ASSERT_GE(rocketsVisited, 7);
    ASSERT_LE(rocketsVisited, 9);
    for (int slot = 19; slot >= 10; --slot) {
      place(left(), slot, symbol::kRocket, 40, 7);
    }
    flyLeft();
    EXPECT_EQ(right().ship.hp, 2);
    EXPECT_EQ(right().ship.shields, 0);
    EXPECT_EQ(drawsTaken(), rocketsVisited);
    const int costlyRocket = 19 - (rocketsVisited - 1);
    for (int slot = 19; slot > costlyRocket; --slot) {
      EXPECT_TRUE(left().pool[static_cast<std::size_t>(slot)].empty()) << slot;
    }
    for (int slot = costlyRocket; slot >= 10; --slot) {
      EXPECT_EQ(left().pool[static_cast<std::size_t>(slot)].symbol, symbol::kRocket) << slot;
    }
  }
}

// --- Bomb burst -----------------------------------------------------------------

TEST_F(FlightTest, BombOnTheShipBurstsBehindBelowAndAbove) {
  useRolls({{12, 0}});
  const Projectile& bomb = place(left(), 19, symbol::kBomb, 40, 7);
  flyLeft();
  expectCell(39, 7, kLightShade, kGrey);
  expectCell(40, 8, kLightShade, kGrey);
  expectCell(40, 6, kLightShade, kGrey);
  expectCell(40, 7, kMediumShade, kGreen);  // the hit mark, back in the pass colour
  EXPECT_EQ(right().ship.shields, 88);
  EXPECT_TRUE(bomb.empty());
}

TEST_F(FlightTest, RightPilotsBombBurstsOnTheOtherSideAndOverTheBorder) {
  left().ship.row = 3;
  left().ship.shields = 0;
  place(right(), 19, symbol::kBomb, 3, 3);
  flyRight();
  expectCell(4, 3, kLightShade, kGrey);
  expectCell(3, 4, kLightShade, kGrey);
  expectCell(3, 2, kLightShade, kGrey);  // not clipped to the arena
  expectCell(3, 3, 'o', kRed);           // no hit mark on exhausted shields
  EXPECT_EQ(left().ship.hp, 2);
}

TEST_F(FlightTest, BombThatMissesMakesNoBurst) {
  place(left(), 19, symbol::kBomb, 40, 8);
  flyLeft();
  expectUntouched(39, 8);
  expectUntouched(40, 9);
  expectUntouched(40, 7);
}

// --- Field blast ----------------------------------------------------------------

TEST_F(FlightTest, RocketBlastDrawsItsColumnAroundTheRocket) {
  useRolls({});
  const Projectile& rocket = place(left(), 19, symbol::kRocket, 40, 6);
  right().ship.row = 11;
  flyLeft();
  EXPECT_TRUE(rocket.empty());
  expectCell(40, 6, kDarkShade, kGrey);
  expectCell(40, 3, kLightShade, kGrey);
  expectCell(40, 4, kMediumShade, kGrey);
  expectCell(40, 5, kMediumShade, kGrey);
  expectCell(40, 9, kLightShade, kGrey);
  expectCell(40, 8, kMediumShade, kGrey);
  expectCell(40, 7, kMediumShade, kGrey);
  expectUntouched(40, 10);
  expectUntouched(40, 2);
  EXPECT_EQ(right().ship.shields, 100);  // five rows away
  EXPECT_EQ(drawsTaken(), 0);
  EXPECT_EQ(fake.screen.attribute() & 0x0F, kGreen);
}

TEST_F(FlightTest, RocketBlastOnTheTopRowDrawsOnlyBelow) {
  fieldBlast(fake.console, 40, 3, left(), Side::Left, right());
  expectCell(40, 3, kDarkShade, kGrey);
  expectCell(40, 4, kMediumShade, kGrey);
  expectCell(40, 5, kMediumShade, kGrey);
  expectCell(40, 6, kLightShade, kGrey);
  expectUntouched(40, 2);
  expectUntouched(40, 1);
  expectUntouched(40, 7);
}

TEST_F(FlightTest, RocketBlastOnTheBottomRowDrawsOnlyAbove) {
  fieldBlast(fake.console, 3, 11, right(), Side::Right, left());
  expectCell(3, 11, kDarkShade, kGrey);
  expectCell(3, 10, kMediumShade, kGrey);
  expectCell(3, 9, kMediumShade, kGrey);
  expectCell(3, 8, kLightShade, kGrey);
  expectUntouched(3, 12);
  expectUntouched(3, 7);
  EXPECT_EQ(fake.screen.attribute() & 0x0F, kRed);
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
  EXPECT_EQ(right().ship.hp, 3);
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

TEST_F(FlightTest, FieldBlastWearsShieldsToZeroButNeverTakesAHitPoint) {
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
  EXPECT_EQ(right().ship.shields, 88);  // the blast adds nothing on the ship's own row
  expectCell(40, 7, kDarkShade, kGrey);
  expectCell(40, 6, kMediumShade, kGrey);
}

// --- Ions -----------------------------------------------------------------------

enum class IonOutcome { Down, Up, Vanish, TurnHoming, Nothing };

// (row, roll, outcome)
class IonRollTest : public FlightTest,
                    public ::testing::WithParamInterface<std::tuple<int, int, IonOutcome>> {};

TEST_P(IonRollTest, FirstFittingRuleDecides) {
  const auto [row, roll, outcome] = GetParam();
  right().ship.row = 7;
  useRolls({{100, roll}});
  const Projectile& ion = place(left(), 19, symbol::kIon, 20, row);
  flyLeft();
  EXPECT_EQ(drawsTaken(), 1);
  switch (outcome) {
    case IonOutcome::Down:
    case IonOutcome::Up:
    case IonOutcome::Nothing: {
      const int expectedRow = row + (outcome == IonOutcome::Down ? 1
                                     : outcome == IonOutcome::Up ? -1
                                                                 : 0);
      EXPECT_EQ(ion.symbol, symbol::kIon);
      EXPECT_EQ(ion.row, expectedRow);
      EXPECT_EQ(ion.col, 21);
      expectCell(20, row, '~', kGreen);
      break;
    }
    case IonOutcome::Vanish:
      EXPECT_TRUE(ion.empty());
      EXPECT_EQ(ion.col, 3);  // parked, not moved on
      EXPECT_EQ(ion.row, 20);
      expectCell(20, row, kLightShade, kGreen);
      break;
    case IonOutcome::TurnHoming:
      EXPECT_EQ(ion.symbol, symbol::kHomingIon);
      EXPECT_EQ(ion.row, row);  // steers only from the next frame on
      EXPECT_EQ(ion.col, 21);
      expectCell(20, row, kLightShade, kGreen);
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(
    MiddleRow, IonRollTest,
    ::testing::Values(std::tuple{7, 99, IonOutcome::Down}, std::tuple{7, 76, IonOutcome::Down},
                      std::tuple{7, 75, IonOutcome::Up}, std::tuple{7, 51, IonOutcome::Up},
                      std::tuple{7, 50, IonOutcome::Vanish}, std::tuple{7, 46, IonOutcome::Vanish},
                      std::tuple{7, 45, IonOutcome::Nothing}, std::tuple{7, 1, IonOutcome::Nothing},
                      std::tuple{7, 0, IonOutcome::TurnHoming}));

INSTANTIATE_TEST_SUITE_P(
    TopRow, IonRollTest,
    ::testing::Values(std::tuple{3, 99, IonOutcome::Down}, std::tuple{3, 76, IonOutcome::Down},
                      std::tuple{3, 75, IonOutcome::Vanish}, std::tuple{3, 51, IonOutcome::Vanish},
                      std::tuple{3, 46, IonOutcome::Vanish}, std::tuple{3, 45, IonOutcome::Nothing},
                      std::tuple{3, 0, IonOutcome::TurnHoming}));

INSTANTIATE_TEST_SUITE_P(BottomRow, IonRollTest,
                         ::testing::Values(std::tuple{11, 99, IonOutcome::Up},
                                           std::tuple{11, 76, IonOutcome::Up},
                                           std::tuple{11, 51, IonOutcome::Up},
                                           std::tuple{11, 50, IonOutcome::Vanish},
                                           std::tuple{11, 46, IonOutcome::Vanish},
                                           std::tuple{11, 45, IonOutcome::Nothing},
                                           std::tuple{11, 0, IonOutcome::TurnHoming}));

TEST_F(FlightTest, EveryIonRollsOncePerPassInVisitingOrder) {
  useRolls({{100, 99}, {100, 60}});
  const Projectile& first = place(left(), 19, symbol::kIon, 10, 5);
  const Projectile& second = place(left(), 3, symbol::kIon, 12, 5);
  place(left(), 10, symbol::kMachineBolt, 11, 5);
  flyLeft();
  EXPECT_EQ(first.row, 6);
  EXPECT_EQ(second.row, 4);
  EXPECT_EQ(drawsTaken(), 2);
}

TEST_F(FlightTest, IonDriftingOntoTheShipsRowInTheEndColumnHits) {
  useRolls({{100, 80}, {12, 0}});
  place(left(), 19, symbol::kIon, 40, 6);
  flyLeft();
  EXPECT_EQ(right().ship.shields, 88);
  EXPECT_EQ(drawsTaken(), 2);
}

TEST_F(FlightTest, IonVanishingInTheEndColumnMakesNoHit) {
  useRolls({{100, 48}});
  const Projectile& ion = place(left(), 19, symbol::kIon, 40, 7);
  flyLeft();
  EXPECT_TRUE(ion.empty());
  EXPECT_EQ(right().ship.shields, 100);
  EXPECT_EQ(drawsTaken(), 1);
}

TEST_F(FlightTest, RightPilotsIonDriftsAndFliesLeft) {
  useRolls({{100, 90}});
  const Projectile& ion = place(right(), 19, symbol::kIon, 30, 5);
  flyRight();
  EXPECT_EQ(ion.col, 29);
  EXPECT_EQ(ion.row, 6);
}

TEST_F(FlightTest, HomingIonClosesInOnTheTargetRowWithoutRolling) {
  right().ship.row = 7;
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
}

TEST_F(FlightTest, HomingIonSteersIntoTheShipInItsLastFrame) {
  left().ship.row = 9;
  useRolls({{12, 0}});
  place(right(), 19, symbol::kHomingIon, 3, 8);
  flyRight();
  EXPECT_EQ(left().ship.shields, 88);
  expectCell(3, 9, kMediumShade, kRed);
}

}  // namespace
}  // namespace skyrazor
