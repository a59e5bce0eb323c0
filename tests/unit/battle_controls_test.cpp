#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "battle/controls.h"
#include "battle/state.h"
#include "support/fake_platform.h"

namespace skyrazor {
namespace {

// A projectile as a test expects to find it in a slot.
struct Expected {
  int slot;
  char symbol;
  std::int32_t col;
  std::int32_t row;
};

constexpr char kRocket = symbol::kRocket;

void expectSlots(const Pilot& pilot, const std::vector<Expected>& expected) {
  for (const Expected& want : expected) {
    const Projectile& got = pilot.pool[static_cast<std::size_t>(want.slot)];
    EXPECT_EQ(got.symbol, want.symbol) << "slot " << want.slot;
    EXPECT_EQ(got.col, want.col) << "slot " << want.slot;
    EXPECT_EQ(got.row, want.row) << "slot " << want.slot;
  }
}

int busySlots(const Pilot& pilot) {
  int busy = 0;
  for (const Projectile& slot : pilot.pool) {
    busy += slot.empty() ? 0 : 1;
  }
  return busy;
}

void occupy(Pilot& pilot, int slot) {
  pilot.pool[static_cast<std::size_t>(slot)] = Projectile{symbol::kMachineBolt, 20, 5};
}

class ControlsTest : public ::testing::Test {
 protected:
  ControlsTest() {
    applyDefaultSet(duel);
    rearmShips(duel);
    resetPools(duel);
  }
  Pilot& fireFrom(Side side, WeaponType weapon, std::int32_t row) {
    Pilot& pilot = duel.pilot(side);
    pilot.ship.weaponType = static_cast<std::int32_t>(weapon);
    pilot.ship.row = row;
    fireWeapon(pilot, side);
    return pilot;
  }

  Duel duel;
  Pilot& left = duel.left();
  Pilot& right = duel.right();
};

struct FiringCase {
  Side side;
  WeaponType weapon;
  std::int32_t row;
  std::vector<Expected> launched;  // from slot 19 down, into an empty ring
};

TEST_F(ControlsTest, EachWeaponLaunchesItsCellsInOrder) {
  using enum WeaponType;
  const Side kPilotOne = Side::Left;
  const Side kPilotTwo = Side::Right;
  const std::vector<FiringCase> cases = {
      {kPilotOne, MachineBolt, 7, {{19, '.', 4, 6}, {18, '.', 4, 8}}},
      {kPilotOne, MachineBolt, 3, {{19, '.', 4, 3}, {18, '.', 4, 4}}},
      {kPilotOne, MachineBolt, 11, {{19, '.', 4, 10}, {18, '.', 4, 11}}},
      {kPilotTwo, MachineBolt, 7, {{19, '.', 39, 6}, {18, '.', 39, 8}}},
      {kPilotTwo, MachineBolt, 3, {{19, '.', 39, 3}, {18, '.', 39, 4}}},
      {kPilotTwo, MachineBolt, 11, {{19, '.', 39, 10}, {18, '.', 39, 11}}},
      {kPilotOne, Bomb, 7, {{19, 'o', 4, 7}, {18, 'o', 4, 7}, {17, 'o', 4, 7}}},
      {kPilotTwo, Bomb, 10, {{19, 'o', 39, 10}, {18, 'o', 39, 10}, {17, 'o', 39, 10}}},
      {kPilotOne, Laser, 7, {{19, '-', 3, 7}, {18, '-', 4, 7}, {17, '-', 5, 7}, {16, '-', 6, 7}}},
      {kPilotTwo,
       Laser,
       5,
       {{19, '-', 40, 5}, {18, '-', 39, 5}, {17, '-', 38, 5}, {16, '-', 37, 5}}},
      {kPilotOne, Ion, 4, {{19, '~', 4, 4}}},
      {kPilotTwo, Ion, 7, {{19, '~', 39, 7}}},
  };
  for (const FiringCase& shot : cases) {
    SCOPED_TRACE(::testing::Message()
                 << (shot.side == kPilotOne ? "pilot 1" : "pilot 2") << " weapon "
                 << static_cast<int>(shot.weapon) << " row " << shot.row);
    resetPools(duel);
    duel.pilot(shot.side).ship.nextSlot = 19;
    const Pilot& pilot = fireFrom(shot.side, shot.weapon, shot.row);
    expectSlots(pilot, shot.launched);
    EXPECT_EQ(busySlots(pilot), static_cast<int>(shot.launched.size()));
    EXPECT_EQ(pilot.ship.nextSlot, 19 - static_cast<int>(shot.launched.size()));
    EXPECT_EQ(pilot.ship.shields, 100);
  }
}

TEST_F(ControlsTest, RocketVolleyStartsBehindTheShipAndCostsATenthEach) {
  fireFrom(Side::Left, WeaponType::Rocket, 7);
  for (int slot = 19; slot >= 10; --slot) {
    expectSlots(left, {{slot, kRocket, 2, 7}});
  }
  EXPECT_EQ(busySlots(left), 10);
  EXPECT_EQ(left.ship.shields, 90);
  EXPECT_EQ(left.ship.nextSlot, 9);

  right.config.weaponStrength = 35;
  fireFrom(Side::Right, WeaponType::Rocket, 3);
  expectSlots(right, {{19, kRocket, 41, 3}, {10, kRocket, 41, 3}});
  EXPECT_EQ(right.ship.shields, 70);  // 35 / 10 = 3 a rocket
}

TEST_F(ControlsTest, RocketVolleyNeedsShieldsOfTheWeaponStrengthOnce) {
  left.config.weaponStrength = 5;
  left.ship.shields = 4;
  fireFrom(Side::Left, WeaponType::Rocket, 7);
  EXPECT_EQ(busySlots(left), 0);

  left.ship.shields = 5;  // weak rockets cost nothing but still need the shields
  fireFrom(Side::Left, WeaponType::Rocket, 7);
  EXPECT_EQ(busySlots(left), 10);
  EXPECT_EQ(left.ship.shields, 5);

  right.ship.shields = 12;  // falls below the strength during the volley
  fireFrom(Side::Right, WeaponType::Rocket, 7);
  EXPECT_EQ(busySlots(right), 10);
  EXPECT_EQ(right.ship.shields, 2);
}

TEST_F(ControlsTest, RocketVolleyPaysOnlyForRocketsThatFindASlot) {
  occupy(left, 16);
  fireFrom(Side::Left, WeaponType::Rocket, 7);
  expectSlots(left, {{19, kRocket, 2, 7}, {17, kRocket, 2, 7}, {16, '.', 20, 5}});
  EXPECT_EQ(busySlots(left), 4);
  EXPECT_EQ(left.ship.shields, 97);
  EXPECT_EQ(left.ship.nextSlot, 16);

  left.ship.weaponType = static_cast<std::int32_t>(WeaponType::Rocket);
  fireWeapon(left, Side::Left);  // a blocked ring swallows the volley for free
  EXPECT_EQ(left.ship.shields, 97);

  right.config.ammoLimit = 9;
  right.ship.nextSlot = 2;
  fireFrom(Side::Right, WeaponType::Rocket, 7);
  EXPECT_EQ(busySlots(right), 10);  // slots 2, 1, 0, then 9 down to 3
  expectSlots(right, {{0, kRocket, 41, 7}, {9, kRocket, 41, 7}, {3, kRocket, 41, 7}});
  EXPECT_EQ(right.ship.nextSlot, 2);
}

TEST_F(ControlsTest, ShotIsCutShortAtTheFirstBusySlot) {
  occupy(left, 18);
  fireFrom(Side::Left, WeaponType::Laser, 7);
  expectSlots(left, {{19, '-', 3, 7}, {18, '.', 20, 5}, {17, ' ', 3, 20}});
  EXPECT_EQ(left.ship.nextSlot, 18);

  fireFrom(Side::Left, WeaponType::Bomb, 7);  // tries the same busy slot again
  EXPECT_EQ(busySlots(left), 2);
  EXPECT_EQ(left.ship.nextSlot, 18);
}

TEST_F(ControlsTest, ShotWrapsFromSlotZeroToTheTopOfEveryRingSize) {
  for (std::int32_t ammoLimit : {9, 19, 29, 39}) {
    resetPools(duel);
    right.config.ammoLimit = ammoLimit;
    right.ship.nextSlot = 1;
    fireFrom(Side::Right, WeaponType::Bomb, 7);
    expectSlots(right, {{1, 'o', 39, 7}, {0, 'o', 39, 7}, {ammoLimit, 'o', 39, 7}});
    EXPECT_EQ(right.ship.nextSlot, ammoLimit - 1) << "ammoLimit " << ammoLimit;
    EXPECT_EQ(busySlots(right), 3) << "ammoLimit " << ammoLimit;
  }

  left.config.ammoLimit = 9;  // the smallest ring never touches slots 10..39
  left.ship.nextSlot = 9;
  for (int shot = 0; shot < 8; ++shot) {
    fireFrom(Side::Left, WeaponType::Laser, 7);
  }
  EXPECT_EQ(busySlots(left), 10);
  EXPECT_TRUE(left.pool[10].empty());
  EXPECT_TRUE(left.pool[39].empty());
}

TEST_F(ControlsTest, MovesStayInsideTheArenaAndBlockedMovesStayPending) {
  struct MoveCase {
    Side side;
    char key;
    std::int32_t fromRow;
    std::int32_t toRow;
    char keyAfter;
  };
  for (const MoveCase& move : std::vector<MoveCase>{{Side::Left, 'e', 7, 6, 'x'},
                                                    {Side::Left, 's', 10, 11, 'x'},
                                                    {Side::Left, 'e', 3, 3, 'e'},
                                                    {Side::Left, 's', 11, 11, 's'},
                                                    {Side::Right, 'p', 4, 3, 'x'},
                                                    {Side::Right, 'l', 3, 4, 'x'},
                                                    {Side::Right, 'p', 3, 3, 'p'},
                                                    {Side::Right, 'l', 11, 11, 'l'}}) {
    Pilot& pilot = duel.pilot(move.side);
    pilot.ship.row = move.fromRow;
    char key = move.key;
    actOnKey(key, pilot, move.side);
    EXPECT_EQ(pilot.ship.row, move.toRow) << move.key << " from row " << move.fromRow;
    EXPECT_EQ(key, move.keyAfter) << move.key << " from row " << move.fromRow;
  }
}

TEST_F(ControlsTest, OnlyThePilotsOwnLowerCaseLettersAct) {
  for (char key : {'E', 'S', 'W', 'A', 'p', 'l', 'o', 'k', 'x', '1'}) {
    char pending = key;
    actOnKey(pending, left, Side::Left);
    EXPECT_EQ(pending, key);
  }
  for (char key : {'P', 'L', 'O', 'K', 'e', 's', 'w', 'a'}) {
    char pending = key;
    actOnKey(pending, right, Side::Right);
    EXPECT_EQ(pending, key);
  }
  EXPECT_EQ(left.ship.row + right.ship.row, 14);
  EXPECT_EQ(left.ship.weaponType + right.ship.weaponType, 2);
  EXPECT_EQ(busySlots(left) + busySlots(right), 0);
}

TEST_F(ControlsTest, WeaponSwitchCyclesThroughAllFive) {
  std::vector<std::int32_t> seen;
  for (int press = 0; press < 5; ++press) {
    char key = 'o';
    actOnKey(key, right, Side::Right);
    EXPECT_EQ(key, 'x');
    seen.push_back(right.ship.weaponType);
  }
  EXPECT_EQ(seen, (std::vector<std::int32_t>{2, 3, 4, 5, 1}));
}

TEST_F(ControlsTest, FireUsesUpTheKeyEvenWhenNothingLeaves) {
  right.ship.weaponType = static_cast<std::int32_t>(WeaponType::Rocket);
  right.ship.shields = 0;
  char key = 'k';
  actOnKey(key, right, Side::Right);
  EXPECT_EQ(key, 'x');
  EXPECT_EQ(busySlots(right), 0);

  occupy(left, 19);
  key = 'a';
  actOnKey(key, left, Side::Left);
  EXPECT_EQ(key, 'x');
  EXPECT_EQ(busySlots(left), 1);
}

// The two pilot phases of one frame, with the shared key between them.
class PilotPhasesTest : public ControlsTest {
 protected:
  void runBothPhases() {
    runPilotOnePhase(io.console, settings, duel);
    runPilotTwoPhase(io.console, settings, duel);
  }
  testing::FakeConsole io;
  BattleSettings settings;
};

TEST_F(PilotPhasesTest, EachPhaseTakesAtMostOneWaitingKey) {
  io.platform.keys = {'s', 'l', 'e'};
  runBothPhases();
  EXPECT_EQ(left.ship.row, 8);
  EXPECT_EQ(right.ship.row, 8);
  EXPECT_EQ(io.platform.keys.size(), 1u);
}

TEST_F(PilotPhasesTest, PilotTwoKeyReadInPilotOnesPhaseActsInTheSameFrame) {
  io.platform.keys = {'k'};
  runBothPhases();
  EXPECT_EQ(busySlots(right), 2);
  EXPECT_EQ(settings.key, 'x');
}

TEST_F(PilotPhasesTest, SecondKeyOfAFrameReplacesAnUnusedFirst) {
  io.platform.keys = {'k', 'a'};  // pilot 2 fires, then pilot 1, in one frame
  runBothPhases();
  EXPECT_EQ(busySlots(left) + busySlots(right), 0);  // "k" is lost
  EXPECT_EQ(settings.key, 'a');

  runBothPhases();  // pilot 1 fires in the next frame
  EXPECT_EQ(busySlots(left), 2);
  EXPECT_EQ(busySlots(right), 0);
}

TEST_F(PilotPhasesTest, PendingKeyIsOfferedAgainUntilANewKeyArrives) {
  settings.key = '2';  // the menu digit left over from the main menu is no command
  runBothPhases();
  EXPECT_EQ(settings.key, '2');

  left.ship.row = 3;
  settings.key = 'e';
  runBothPhases();
  runBothPhases();
  EXPECT_EQ(settings.key, 'e');

  io.platform.keys = {'s'};
  runBothPhases();
  EXPECT_EQ(left.ship.row, 4);
  EXPECT_EQ(settings.key, 'x');
}

TEST_F(PilotPhasesTest, ComputerFlownShipLeavesTheKeyboardToPilotOne) {
  settings.kiLevel = 2;
  io.platform.keys = {'a', 'l'};
  runPilotOnePhase(io.console, settings, duel);
  settings.key = 'k';  // the computer's command
  runPilotTwoPhase(io.console, settings, duel);
  EXPECT_EQ(busySlots(left), 2);
  EXPECT_EQ(busySlots(right), 2);
  EXPECT_EQ(right.ship.row, 7);
  EXPECT_EQ(io.platform.keys.size(), 1u);
}

}  // namespace
}  // namespace skyrazor
