#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "battle/computer_pilot.h"
#include "battle/controls.h"
#include "battle/meetings.h"
#include "support/battle_fixture.h"

namespace skyrazor {
namespace {

using testing::Roll;

constexpr std::int32_t kBolt = 1;
constexpr std::int32_t kBomb = 2;
constexpr std::int32_t kLaser = 3;
constexpr std::int32_t kRocket = 4;
constexpr std::int32_t kIon = 5;

// A key no procedure writes: it shows whether a decision wrote the key at all.
constexpr char kUntouched = '?';

class ComputerPilotTest : public testing::BattleFixture {
 protected:
  ComputerPilotTest() { shell.key = kUntouched; }

  // One decision at `level`; returns the key as pilot 2's phase would find it.
  char decide(std::int32_t level) {
    shell.kiLevel = level;
    chooseComputerKey(random, shell, duel);
    return shell.key;
  }
  // One decision followed by pilot 2 carrying it out.
  char decideAndAct(std::int32_t level) {
    const char decided = decide(level);
    actOnKey(shell.key, right(), Side::Right);
    return decided;
  }
  void shipsOnRows(std::int32_t pilotOneRow, std::int32_t pilotTwoRow) {
    left().ship.row = pilotOneRow;
    right().ship.row = pilotTwoRow;
  }
  // Pins the dice for a frame of levels 3, 4 or 9 in which near shots keep
  // the ship from aiming: a considered reaction to each of `ownRowShots`,
  // then (levels 3 and 9) no jitter and no fallback to the bolt.
  void pinDodgeFrame(std::int32_t level, int ownRowShots) {
    std::vector<Roll> rolls;
    for (int shot = 0; shot < ownRowShots; ++shot) {
      rolls.push_back(level == 4 ? Roll{2, shot % 2} : Roll{10, 3 + shot});
    }
    if (level != 4) {
      rolls.push_back({14, 9});
      rolls.push_back({10, 4});
    }
    useSeed(seedFor(rolls));
  }
  static std::uint32_t seedFor(const std::vector<Roll>& rolls) {
    for (std::uint32_t candidate = 1;; ++candidate) {
      Random dice;
      dice.seed(candidate);
      bool matches = true;
      for (const Roll& roll : rolls) {
        matches = matches && dice.below(roll.below) == roll.value;
      }
      if (matches) {
        return candidate;
      }
    }
  }

  ShellState shell;
};

// --- Level 0 and the shared key ---------------------------------------------------

TEST_F(ComputerPilotTest, LevelZeroLeavesEverythingToThePersonAtTheKeyboard) {
  shell.key = 'k';  // pilot 2's key, read in pilot 1's phase
  right().ship.weaponType = kIon;
  place(left(), 19, symbol::kRocket, 40, 7);
  duel.computerPilot = {5, 2, 3};
  useSeed(1);
  EXPECT_EQ(decide(0), 'k');
  EXPECT_EQ(right().ship.weaponType, kIon);
  EXPECT_EQ(duel.computerPilot.rocketCooldown, 5);
  EXPECT_EQ(duel.computerPilot.wanderCount, 2);
  EXPECT_EQ(duel.computerPilot.patternState, 3);
  EXPECT_EQ(drawsTaken(), 0);
}

TEST_F(ComputerPilotTest, RocketCooldownRunsDownAtTheEndOfEveryFrameAtEveryLevel) {
  for (std::int32_t level = 0; level <= 9; ++level) {
    SCOPED_TRACE(::testing::Message() << "level " << level);
    resetBattleCounters(duel);
    duel.computerPilot.rocketCooldown = 2;
    shell.kiLevel = level;
    runBattleFrame(fake.console, random, shell, duel);
    EXPECT_EQ(duel.computerPilot.rocketCooldown, 1);
    runBattleFrame(fake.console, random, shell, duel);
    runBattleFrame(fake.console, random, shell, duel);
    EXPECT_EQ(duel.computerPilot.rocketCooldown, 0);
  }
}

// --- Level 1 ------------------------------------------------------------------------

TEST_F(ComputerPilotTest, LevelOneMapsEachDrawToACommand) {
  const std::string byDraw =
      "ooo"
      "kkk"
      "pp"
      "ll";
  for (std::int32_t draw = 0; draw < 10; ++draw) {
    useRolls({{10, draw}});
    EXPECT_EQ(decide(1), byDraw[static_cast<std::size_t>(draw)]) << "draw " << draw;
    EXPECT_EQ(drawsTaken(), 1);
  }
}

TEST_F(ComputerPilotTest, LevelOneIgnoresTheBattleAndKeepsItsProportions) {
  // A shot about to strike and pilot 1 far away change nothing.
  place(left(), 19, symbol::kRocket, 40, 7);
  shipsOnRows(3, 7);
  useSeed(20240601);
  constexpr int kFrames = 20000;
  std::map<char, int> counts;
  for (int frame = 0; frame < kFrames; ++frame) {
    ++counts[decide(1)];
  }
  EXPECT_EQ(counts.size(), 4u);
  EXPECT_NEAR(counts['l'], kFrames * 2 / 10, 400);
  EXPECT_NEAR(counts['p'], kFrames * 2 / 10, 400);
  EXPECT_NEAR(counts['k'], kFrames * 3 / 10, 400);
  EXPECT_NEAR(counts['o'], kFrames * 3 / 10, 400);
}

// --- Level 2 ------------------------------------------------------------------------

TEST_F(ComputerPilotTest, LevelTwoFiresSwitchesOrStepsByChance) {
  const std::map<std::int32_t, char> byDraw = {{9, 'k'}, {8, 'k'}, {7, 'p'},
                                               {6, 'l'}, {3, 'o'}, {2, 'o'}};
  for (const auto& [draw, key] : byDraw) {
    useRolls({{10, draw}});
    EXPECT_EQ(decide(2), key) << "draw " << draw;
    EXPECT_EQ(drawsTaken(), 1);
  }
}

TEST_F(ComputerPilotTest, LevelTwoChasesPilotOnesRowAndFiresWhenLevel) {
  struct Case {
    std::int32_t pilotOneRow;
    char key;
  };
  for (const Case& chase : {Case{9, 'l'}, Case{4, 'p'}, Case{7, 'k'}}) {
    for (std::int32_t draw : {0, 1}) {
      shipsOnRows(chase.pilotOneRow, 7);
      useRolls({{10, draw}});
      EXPECT_EQ(decide(2), chase.key) << "pilot 1 on row " << chase.pilotOneRow;
    }
  }
}

TEST_F(ComputerPilotTest, LevelTwoDodgesOnlyShotsStandingInItsOwnCell) {
  // Column 39 of its row and column 40 of another row do not strike this frame:
  // no coin is tossed and the key keeps what pilot 1's phase left there.
  place(left(), 19, symbol::kMachineBolt, 39, 7);
  place(left(), 18, symbol::kMachineBolt, 40, 8);
  for (char leftOver : {'x', 'p'}) {
    shell.key = leftOver;
    useRolls({{10, 4}});
    EXPECT_EQ(decide(2), leftOver);
    EXPECT_EQ(drawsTaken(), 1);
  }

  // Each shot in column 40 of its row gets a coin toss; the lowest slot decides.
  place(left(), 12, symbol::kBomb, 40, 7);
  useRolls({{10, 5}, {2, 0}});
  EXPECT_EQ(decide(2), 'l');
  place(left(), 3, symbol::kIon, 40, 7);
  useRolls({{10, 4}, {2, 0}, {2, 1}});
  EXPECT_EQ(decide(2), 'p');
  EXPECT_EQ(drawsTaken(), 3);
}

TEST_F(ComputerPilotTest, LevelTwoDodgeAgainstTheEdgeIsNotMadeAndTheShotStrikes) {
  struct Case {
    std::int32_t row;
    std::int32_t coin;  // the coin that points out of the arena
    char key;
  };
  for (const Case& edge : {Case{3, 1, 'p'}, Case{11, 0, 'l'}}) {
    SCOPED_TRACE(::testing::Message() << "row " << edge.row);
    rearmShips(duel);
    shipsOnRows(7, edge.row);
    place(left(), 19, symbol::kMachineBolt, 40, edge.row);
    shell.key = 'x';
    shell.kiLevel = 2;
    useRolls({{10, 4}, {2, edge.coin}, {12, 6}});
    runBattleFrame(fake.console, random, shell, duel);
    EXPECT_EQ(right().ship.row, edge.row);
    EXPECT_EQ(shell.key, edge.key);  // still pending
    EXPECT_EQ(right().ship.shields, 100 - 12 - 2);
  }
}

// --- Levels 3, 4 and 9: dodging ------------------------------------------------------

struct Shot {
  char symbol;
  std::int32_t col;
  std::int32_t row;
};

struct DodgeCase {
  const char* what;
  std::int32_t shipRow;
  std::vector<Shot> shots;  // placed from slot 30 down; the first is in the ship's row
  char key;
};

class DodgeTest : public ComputerPilotTest, public ::testing::WithParamInterface<std::int32_t> {
 protected:
  void placeShots(const std::vector<Shot>& shots) {
    int slot = 30;
    for (const Shot& shot : shots) {
      place(left(), slot--, shot.symbol, shot.col, shot.row);
    }
  }
};

TEST_P(DodgeTest, NearShotInItsRowSendsItToAFreeNeighbourRow) {
  const std::int32_t level = GetParam();
  const std::vector<DodgeCase> cases = {
      {"row below free first", 7, {{'.', 40, 7}}, 'l'},
      {"row below taken", 7, {{'.', 40, 7}, {'o', 39, 8}}, 'p'},
      {"column 37 is not near yet", 7, {{'.', 40, 7}, {'o', 37, 8}, {'-', 37, 6}}, 'l'},
      {"row 11: every near shot blocks the way down", 11, {{'-', 38, 11}, {'.', 38, 4}}, 'p'},
      {"row 3: every near shot blocks the way up", 3, {{'~', 39, 3}, {'.', 40, 9}}, 'l'},
  };
  for (const DodgeCase& dodge : cases) {
    SCOPED_TRACE(dodge.what);
    resetPools(duel);
    placeShots(dodge.shots);
    shipsOnRows(dodge.shipRow, dodge.shipRow);
    right().ship.weaponType = kBomb;
    shell.key = kUntouched;
    pinDodgeFrame(level, 1);
    EXPECT_EQ(decide(level), dodge.key);
    EXPECT_EQ(right().ship.weaponType, level == 9 ? kBolt : kBomb);
    EXPECT_EQ(drawsTaken(), level == 4 ? 1 : 3);
  }
}

TEST_P(DodgeTest, BoxedInItFiresWithTheLaserInsteadOfTheBoltOrRocket) {
  const std::int32_t level = GetParam();
  const std::vector<DodgeCase> boxes = {
      {"middle row", 7, {{'.', 40, 7}, {'o', 39, 8}, {'.', 38, 6}}, 'k'},
      {"row 11 with a shot in row 10", 11, {{'.', 40, 11}, {'~', 38, 10}}, 'k'},
      {"row 3 with a shot in row 4", 3, {{'-', 39, 3}, {'.', 40, 4}}, 'k'},
  };
  // Level 9 is back on the bolt before it looks, so it always takes the laser.
  const std::map<std::int32_t, std::int32_t> weaponAfter = {{kBolt, kLaser},
                                                            {kBomb, level == 9 ? kLaser : kBomb},
                                                            {kLaser, kLaser},
                                                            {kRocket, kLaser},
                                                            {kIon, level == 9 ? kLaser : kIon}};
  for (const DodgeCase& box : boxes) {
    for (const auto& [before, after] : weaponAfter) {
      SCOPED_TRACE(::testing::Message() << box.what << ", weapon " << before);
      resetPools(duel);
      placeShots(box.shots);
      shipsOnRows(box.shipRow, box.shipRow);
      right().ship.weaponType = before;
      pinDodgeFrame(level, 1);
      EXPECT_EQ(decide(level), 'k');
      EXPECT_EQ(right().ship.weaponType, after);
    }
  }
}

TEST_P(DodgeTest, HomingIonInItsRowIsShotAtWithWhateverIsSelected) {
  const std::int32_t level = GetParam();
  placeShots({{'*', 40, 7}});  // the way down is free, but an ion would follow
  right().ship.weaponType = kBomb;
  pinDodgeFrame(level, 1);
  EXPECT_EQ(decide(level), 'k');
  EXPECT_EQ(right().ship.weaponType, level == 9 ? kBolt : kBomb);
}

INSTANTIATE_TEST_SUITE_P(Levels, DodgeTest, ::testing::Values(3, 4, 9));

TEST_F(ComputerPilotTest, NearRocketInItsRowIsAnsweredWithRockets) {
  for (std::int32_t level : {3, 9}) {
    SCOPED_TRACE(::testing::Message() << "level " << level);
    resetPools(duel);
    right().ship.weaponType = kBomb;
    place(left(), 30, symbol::kRocket, 38, 7);
    pinDodgeFrame(level, 1);
    EXPECT_EQ(decide(level), 'k');
    EXPECT_EQ(right().ship.weaponType, kRocket);

    // A later shot in its row has the last word on the key, but the rocket
    // stays selected.
    place(left(), 5, symbol::kMachineBolt, 39, 7);
    pinDodgeFrame(level, 2);
    EXPECT_EQ(decide(level), 'l');
    EXPECT_EQ(right().ship.weaponType, kRocket);
    EXPECT_EQ(drawsTaken(), 4);
  }
}

TEST_F(ComputerPilotTest, HesitantLevelsSometimesStepOrFireInsteadOfDodging) {
  place(left(), 30, symbol::kRocket, 40, 7);
  const std::string byDraw = "lpk";
  for (std::int32_t level : {3, 9}) {
    for (std::int32_t draw = 0; draw < 3; ++draw) {
      right().ship.weaponType = kIon;
      useRolls({{10, draw}, {14, 9}, {10, 4}});
      EXPECT_EQ(decide(level), byDraw[static_cast<std::size_t>(draw)]) << "draw " << draw;
      EXPECT_EQ(right().ship.weaponType, level == 9 ? kBolt : kIon);
    }
  }
}

TEST_F(ComputerPilotTest, NearShotsElsewhereLeaveOnlyTheJitterAndTheBoltFallback) {
  place(left(), 30, symbol::kMachineBolt, 40, 5);
  shipsOnRows(9, 7);  // not level, and still no chase while a shot is near
  for (std::int32_t level : {3, 9}) {
    const std::map<std::int32_t, char> byJitter = {{0, 'l'}, {1, 'p'}, {2, kUntouched}};
    for (const auto& [jitter, key] : byJitter) {
      shell.key = kUntouched;
      right().ship.weaponType = kIon;
      useRolls({{14, jitter}, {10, 2}});
      EXPECT_EQ(decide(level), key) << "level " << level << ", jitter " << jitter;
      EXPECT_EQ(right().ship.weaponType, level == 9 ? kBolt : kIon);
      EXPECT_EQ(drawsTaken(), 2);
    }
    useRolls({{14, 13}, {10, 1}});
    decide(level);
    EXPECT_EQ(right().ship.weaponType, kBolt);
  }
}

// --- Levels 3 and 9: aiming and the weapon pick ---------------------------------------

TEST_F(ComputerPilotTest, WithNothingNearItStepsTowardsPilotOneOrTwitches) {
  struct Case {
    std::int32_t pilotOneRow;
    std::int32_t draw;
    char key;
  };
  const std::vector<Case> cases = {{7, 0, 'l'}, {7, 1, 'p'},  {7, 2, 'k'}, {3, 1, 'p'},
                                   {3, 0, 'l'}, {10, 5, 'l'}, {4, 9, 'p'}};
  for (std::int32_t level : {3, 9}) {
    for (const Case& aim : cases) {
      shipsOnRows(aim.pilotOneRow, 7);
      right().ship.weaponType = kBomb;
      useRolls({{14, 0}, {10, aim.draw}, {10, 7}});  // the jitter's step is overruled
      EXPECT_EQ(decide(level), aim.key) << "pilot 1 on row " << aim.pilotOneRow;
      EXPECT_EQ(right().ship.weaponType, level == 9 ? kBolt : kBomb);
      EXPECT_EQ(drawsTaken(), 3);
    }
  }
}

TEST_F(ComputerPilotTest, LevelWithPilotOneItPicksAWeaponForEachShot) {
  const std::int32_t byPick[10] = {kIon,  kIon,  kIon,   kIon,   kIon,
                                   kBolt, kBolt, kLaser, kLaser, kBomb};
  for (std::int32_t level : {3, 9}) {
    for (std::int32_t pick = 0; pick < 10; ++pick) {
      useRolls({{14, 5}, {10, 3}, {10, pick}, {10, 2}});
      EXPECT_EQ(decide(level), 'k');
      EXPECT_EQ(right().ship.weaponType, byPick[pick]) << "level " << level << ", pick " << pick;
      EXPECT_EQ(drawsTaken(), 4);
    }
    // The fallback to the bolt comes after the pick, so the bolt is fired.
    useRolls({{14, 5}, {10, 3}, {10, 8}, {10, 1}});
    EXPECT_EQ(decide(level), 'k');
    EXPECT_EQ(right().ship.weaponType, kBolt);
  }
}

TEST_F(ComputerPilotTest, WeaponPickAnswersPilotOnesLaserWithRocketsAfterACooldown) {
  struct Case {
    std::int32_t level;
    std::int32_t cooldownAfterPick;
    int framesUntilReady;
  };
  for (const Case& hunter : {Case{3, 80, 21}, Case{9, 80, 21}, Case{4, 100, 41}}) {
    SCOPED_TRACE(::testing::Message() << "level " << hunter.level);
    duel.computerPilot = {};
    left().ship.weaponType = kBolt;
    const std::vector<Roll> pickZero = hunter.level == 4
                                           ? std::vector<Roll>{{10, 5}, {10, 0}}
                                           : std::vector<Roll>{{14, 5}, {10, 3}, {10, 0}, {10, 5}};
    useSeed(seedFor(pickZero));
    decide(hunter.level);
    EXPECT_EQ(right().ship.weaponType, kIon);  // only pilot 1's laser calls for rockets
    EXPECT_EQ(duel.computerPilot.rocketCooldown, 0);

    left().ship.weaponType = kLaser;
    useSeed(seedFor(pickZero));
    EXPECT_EQ(decide(hunter.level), 'k');
    EXPECT_EQ(right().ship.weaponType, kRocket);
    EXPECT_EQ(duel.computerPilot.rocketCooldown, hunter.cooldownAfterPick);

    for (int frame = 1; frame <= hunter.framesUntilReady; ++frame) {
      advanceFrameCounters(fake.console, duel);
      useSeed(seedFor(pickZero));
      decide(hunter.level);
      const bool ready = frame == hunter.framesUntilReady;
      EXPECT_EQ(right().ship.weaponType, ready ? kRocket : kIon) << "frame " << frame;
      EXPECT_EQ(duel.computerPilot.rocketCooldown,
                ready ? hunter.cooldownAfterPick : hunter.cooldownAfterPick - frame);
    }
  }
}

// --- Level 4: wandering and fleeing rockets -----------------------------------------

TEST_F(ComputerPilotTest, LevelFourChasesWithoutHesitationUnlessItWanders) {
  shipsOnRows(10, 7);
  for (std::int32_t draw = 3; draw < 10; ++draw) {
    useRolls({{10, draw}});
    EXPECT_EQ(decideAndAct(4), 'l');
    right().ship.row = 7;
    EXPECT_EQ(drawsTaken(), 1);
  }

  // Draw 2 fires instead of chasing; 0 and 1 are random steps that it owes.
  useRolls({{10, 2}, {10, 5}});
  EXPECT_EQ(decide(4), 'k');
  useRolls({{10, 0}});
  EXPECT_EQ(decide(4), 'p');
  EXPECT_EQ(duel.computerPilot.wanderCount, 1);
  useRolls({{10, 1}});
  EXPECT_EQ(decide(4), 'l');
  EXPECT_EQ(duel.computerPilot.wanderCount, 2);

  // While it owes steps it fires instead of chasing, paying one off per shot.
  for (std::int32_t owed : {2, 1}) {
    useRolls({{10, 7}, {10, 3}});
    EXPECT_EQ(decide(4), 'k');
    EXPECT_EQ(duel.computerPilot.wanderCount, owed - 1);
  }
  useRolls({{10, 7}});
  EXPECT_EQ(decide(4), 'l');
}

TEST_F(ComputerPilotTest, WanderingLevelFourFiresOnlyBoltsAndBombs) {
  const std::int32_t byPick[10] = {kBolt, kBolt, kBolt, kBolt, kBolt,
                                   kBolt, kBolt, kBomb, kBomb, kBomb};
  for (std::int32_t pick = 0; pick < 10; ++pick) {
    duel.computerPilot.wanderCount = 3;
    useRolls({{10, 6}, {10, pick}});
    EXPECT_EQ(decide(4), 'k');
    EXPECT_EQ(right().ship.weaponType, byPick[pick]) << "pick " << pick;
    EXPECT_EQ(duel.computerPilot.wanderCount, 2);
  }
  const std::int32_t settled[10] = {kIon,  kIon,  kIon,   kIon,   kIon,
                                    kBolt, kBolt, kLaser, kLaser, kBomb};
  for (std::int32_t pick = 0; pick < 10; ++pick) {
    duel.computerPilot.wanderCount = 0;
    useRolls({{10, 2}, {10, pick}});
    EXPECT_EQ(decide(4), 'k');
    EXPECT_EQ(right().ship.weaponType, settled[pick]) << "pick " << pick;
    EXPECT_EQ(duel.computerPilot.wanderCount, 0);
  }
}

TEST_F(ComputerPilotTest, LevelFourFleesTheFirstRocketWithinFiveColumns) {
  struct Case {
    const char* what;
    std::int32_t rocketCol;
    std::int32_t rocketRow;
    std::int32_t shipRow;
    char key;
  };
  const std::vector<Case> cases = {
      {"above the middle", 36, 4, 9, 'l'},
      {"below the middle", 36, 10, 4, 'p'},
      {"on the middle, ship below it", 37, 7, 8, 'l'},
      {"on the middle, ship on it", 37, 7, 7, 'p'},
      {"on the middle, ship above it", 36, 7, 3, 'p'},
      {"column 35 is still too far", 35, 4, 7, 'k'},
  };
  for (const Case& flight : cases) {
    SCOPED_TRACE(flight.what);
    resetPools(duel);
    place(left(), 25, symbol::kRocket, flight.rocketCol, flight.rocketRow);
    place(left(), 20, symbol::kMachineBolt, 36, 5);  // only rockets are fled
    shipsOnRows(flight.shipRow, flight.shipRow);
    useRolls({{10, 5}, {10, 5}});  // level with pilot 1: the pick fires a bolt
    EXPECT_EQ(decide(4), flight.key);
    EXPECT_EQ(right().ship.weaponType, kBolt);
    EXPECT_EQ(drawsTaken(), 2);
  }

  // The highest slot decides, even over a rocket it has just answered.
  resetPools(duel);
  place(left(), 30, symbol::kRocket, 36, 4);
  place(left(), 10, symbol::kRocket, 38, 7);
  shipsOnRows(7, 7);
  pinDodgeFrame(4, 1);
  EXPECT_EQ(decide(4), 'l');
  EXPECT_EQ(right().ship.weaponType, kRocket);
}

// --- Levels 5 to 8 ------------------------------------------------------------------

TEST_F(ComputerPilotTest, LevelFiveDrawsOneWeaponForTheWholeBattle) {
  for (std::int32_t weapon = 1; weapon <= 5; ++weapon) {
    duel.computerPilot = {};
    right().ship.weaponType = kBolt;
    useRolls({{5, weapon - 1}, {10, 7}});
    EXPECT_EQ(decide(5), 'k');
    EXPECT_EQ(duel.computerPilot.patternState, weapon);
    EXPECT_EQ(right().ship.weaponType, weapon);
    EXPECT_EQ(drawsTaken(), 2);
  }

  // Drawn once: later frames take one draw and never touch the weapon.
  useSeed(77);
  for (int frame = 0; frame < 300; ++frame) {
    EXPECT_NE(decideAndAct(5), 'o');
  }
  EXPECT_EQ(right().ship.weaponType, kIon);
  EXPECT_EQ(drawsTaken(), 300);
}

TEST_F(ComputerPilotTest, LevelFiveStepsUpOnlyToChasePilotOne) {
  duel.computerPilot.patternState = kBomb;
  const std::string whenLevel =
      "kkkkkl"
      "kkkk";
  for (std::int32_t draw = 0; draw < 10; ++draw) {
    shipsOnRows(7, 7);
    useRolls({{10, draw}});
    EXPECT_EQ(decide(5), whenLevel[static_cast<std::size_t>(draw)]) << "draw " << draw;
    shipsOnRows(3, 7);
    useRolls({{10, draw}});
    EXPECT_EQ(decide(5), draw >= 6 ? 'k' : draw == 5 ? 'l' : 'p') << "draw " << draw;
    shipsOnRows(11, 7);
    useRolls({{10, draw}});
    EXPECT_EQ(decide(5), draw >= 6 ? 'k' : 'l') << "draw " << draw;
  }
}

TEST_F(ComputerPilotTest, LevelSixFollowsPilotOnesRowAndDrawsEveryFrame) {
  struct Case {
    std::int32_t pilotOneRow;
    std::int32_t draw;
    char key;
  };
  const std::vector<Case> cases = {{8, 9, 'l'}, {8, 0, 'l'}, {3, 5, 'p'}, {3, 1, 'p'},
                                   {7, 2, 'k'}, {7, 9, 'k'}, {7, 1, 'o'}, {7, 0, 'o'}};
  for (const Case& follow : cases) {
    shipsOnRows(follow.pilotOneRow, 7);
    useRolls({{10, follow.draw}});
    EXPECT_EQ(decide(6), follow.key) << "row " << follow.pilotOneRow << ", draw " << follow.draw;
    EXPECT_EQ(drawsTaken(), 1);
  }
}

TEST_F(ComputerPilotTest, LevelSevenSweepsDownAndUpSteppingAndFiringByTurns) {
  shipsOnRows(5, 7);
  std::string keys;
  std::string rows;
  for (int frame = 0; frame < 26; ++frame) {
    // Frame 3 switches weapon and leaves the sweep where it was.
    useRolls({{4, frame == 3 ? 0 : 1 + frame % 3}});
    keys += decideAndAct(7);
    rows += static_cast<char>('0' + right().ship.row - 3);  // '0' is row 3
  }
  EXPECT_EQ(keys,
            "lkl"
            "o"
            "klkl"
            "pkpkpkpkpkpkpkp"
            "lkl");
  EXPECT_EQ(rows,
            "556"
            "6"
            "6778"
            "776655443322110"
            "112");
}

TEST_F(ComputerPilotTest, LevelSevenNeverKeepsTheRocketOrTheIon) {
  const std::int32_t after[6] = {0, kBolt, kBomb, kLaser, kBolt, kBolt};
  for (std::int32_t before = 1; before <= 5; ++before) {
    for (std::int32_t draw : {0, 2}) {
      right().ship.weaponType = before;
      useRolls({{4, draw}});
      decide(7);
      EXPECT_EQ(right().ship.weaponType, after[before]) << "weapon " << before;
    }
  }
  // A switch that lands on the rocket is carried out, and undone next frame.
  right().ship.weaponType = kLaser;
  useRolls({{4, 0}});
  decideAndAct(7);
  EXPECT_EQ(right().ship.weaponType, kRocket);
  useRolls({{4, 1}});
  decide(7);
  EXPECT_EQ(right().ship.weaponType, kBolt);
}

TEST_F(ComputerPilotTest, LevelEightClimbsOrSinksAwayFromPilotOneAndFiresIons) {
  struct Case {
    std::int32_t pilotOneRow;
    std::int32_t startRow;
    std::string keys;
    std::int32_t endRow;
  };
  const std::vector<Case> cases = {
      {8, 7, "pppkk", 4}, {11, 3, "kk", 3}, {7, 7, "lllkk", 10}, {3, 11, "kk", 11}};
  useSeed(1);
  for (const Case& perch : cases) {
    shipsOnRows(perch.pilotOneRow, perch.startRow);
    std::string keys;
    for (std::size_t frame = 0; frame < perch.keys.size(); ++frame) {
      right().ship.weaponType = kBomb;
      keys += decideAndAct(8);
      EXPECT_EQ(right().ship.weaponType, kIon);
    }
    EXPECT_EQ(keys, perch.keys) << "pilot 1 on row " << perch.pilotOneRow;
    EXPECT_EQ(right().ship.row, perch.endRow);
  }
  EXPECT_EQ(drawsTaken(), 0);
  EXPECT_EQ(right().pool[19].symbol, symbol::kIon);  // the first shot went out as an ion
}

}  // namespace
}  // namespace skyrazor
