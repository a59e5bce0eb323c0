#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "battle/computer_pilot.h"
#include "battle/controls.h"
#include "battle/frame_counters.h"
#include "battle/frame_loop.h"
#include "support/battle_fixture.h"

namespace skyrazor {
namespace {

using testing::Roll;
using Rolls = std::vector<Roll>;

constexpr std::int32_t kBolt = 1;
constexpr std::int32_t kBomb = 2;
constexpr std::int32_t kLaser = 3;
constexpr std::int32_t kRocket = 4;
constexpr std::int32_t kIon = 5;

// A key no procedure writes: it shows whether a decision wrote the key at all.
constexpr char kUntouched = '?';

struct Shot {
  char symbol;
  std::int32_t col;
  std::int32_t row;
};

class ComputerPilotTest : public testing::BattleFixture {
 protected:
  ComputerPilotTest() { settings.key = kUntouched; }

  // One decision at `level`; returns the key as pilot 2's phase would find it.
  char decide(std::int32_t level) {
    settings.kiLevel = level;
    chooseComputerKey(random, settings, duel);
    return settings.key;
  }
  // One decision with the dice pinned to `rolls`, which must be exactly the
  // draws it takes.
  char decideWith(std::int32_t level, const Rolls& rolls) {
    useSeed(seedFor(rolls));
    const char key = decide(level);
    EXPECT_EQ(drawsTaken(), static_cast<int>(rolls.size())) << "draws at level " << level;
    return key;
  }
  // One decision followed by pilot 2 carrying it out.
  char decideAndAct(std::int32_t level) {
    const char decided = decide(level);
    actOnKey(settings.key, right(), Side::Right);
    return decided;
  }
  void shipsOnRows(std::int32_t pilotOneRow, std::int32_t pilotTwoRow) {
    left().ship.row = pilotOneRow;
    right().ship.row = pilotTwoRow;
  }
  // Pilot 1's shots, from slot 30 down.
  void placeShots(const std::vector<Shot>& shots) {
    resetPools(duel);
    int slot = 30;
    for (const Shot& shot : shots) {
      place(left(), slot--, shot.symbol, shot.col, shot.row);
    }
  }
  // The draws of a frame of levels 3, 4 or 9 in which near shots keep the
  // ship from aiming: a considered reaction to each of `ownRowShots`, then
  // (levels 3 and 9) no jitter and no fallback to the bolt.
  static Rolls dodgeRolls(std::int32_t level, int ownRowShots) {
    Rolls rolls;
    for (int shot = 0; shot < ownRowShots; ++shot) {
      rolls.push_back(level == 4 ? Roll{2, shot % 2} : Roll{10, 3 + shot});
    }
    if (level != 4) {
      rolls.insert(rolls.end(), {{14, 9}, {10, 4}});
    }
    return rolls;
  }
  static std::uint32_t seedFor(const Rolls& rolls) {
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

  BattleSettings settings;
};

// --- Every level ----------------------------------------------------------------------

TEST_F(ComputerPilotTest, LevelZeroLeavesEverythingToThePersonAtTheKeyboard) {
  settings.key = 'k';  // pilot 2's key, read in pilot 1's phase
  right().ship.weaponType = kIon;
  place(left(), 19, symbol::kRocket, 40, 7);
  duel.computerPilot = {5, 2, 3};
  EXPECT_EQ(decideWith(0, {}), 'k');
  EXPECT_EQ(right().ship.weaponType, kIon);
  EXPECT_EQ(duel.computerPilot.rocketCooldown, 5);
  EXPECT_EQ(duel.computerPilot.wanderCount, 2);
  EXPECT_EQ(duel.computerPilot.patternState, 3);
}

TEST_F(ComputerPilotTest, RocketCooldownRunsDownAtTheEndOfEveryFrameAtEveryLevel) {
  for (std::int32_t level = 0; level <= 9; ++level) {
    resetBattleCounters(duel);
    duel.computerPilot.rocketCooldown = 2;
    settings.kiLevel = level;
    runBattleFrame(fake.console, random, settings, duel);
    EXPECT_EQ(duel.computerPilot.rocketCooldown, 1) << "level " << level;
    runBattleFrame(fake.console, random, settings, duel);
    runBattleFrame(fake.console, random, settings, duel);
    EXPECT_EQ(duel.computerPilot.rocketCooldown, 0) << "level " << level;
  }
}

// --- Levels 1 and 2 -------------------------------------------------------------------

TEST_F(ComputerPilotTest, LevelOneIgnoresTheBattleAndKeepsItsProportions) {
  const std::string byDraw = "oookkkppll";
  for (std::int32_t draw = 0; draw < 10; ++draw) {
    EXPECT_EQ(decideWith(1, {{10, draw}}), byDraw[static_cast<std::size_t>(draw)]);
  }
  // A shot about to strike and pilot 1 far away change nothing.
  place(left(), 19, symbol::kRocket, 40, 7);
  shipsOnRows(3, 7);
  useSeed(20240601);
  std::map<char, int> counts;
  for (int frame = 0; frame < 20000; ++frame) {
    ++counts[decide(1)];
  }
  EXPECT_EQ(counts.size(), 4u);
  EXPECT_NEAR(counts['l'], 4000, 300);
  EXPECT_NEAR(counts['p'], 4000, 300);
  EXPECT_NEAR(counts['k'], 6000, 300);
  EXPECT_NEAR(counts['o'], 6000, 300);
}

TEST_F(ComputerPilotTest, LevelTwoActsByChanceOrChasesPilotOnesRow) {
  // Draws 0 and 1 chase; 4 and 5 look for a shot to dodge and find none.
  const std::map<std::int32_t, std::string> byDrawWithPilotOneOnRow = {
      {9, "lloo??lpkk"}, {4, "ppoo??lpkk"}, {7, "kkoo??lpkk"}};
  for (const auto& [pilotOneRow, byDraw] : byDrawWithPilotOneOnRow) {
    shipsOnRows(pilotOneRow, 7);
    for (std::int32_t draw = 0; draw < 10; ++draw) {
      settings.key = kUntouched;
      EXPECT_EQ(decideWith(2, {{10, draw}}), byDraw[static_cast<std::size_t>(draw)])
          << "pilot 1 on row " << pilotOneRow << ", draw " << draw;
    }
  }
}

TEST_F(ComputerPilotTest, LevelTwoDodgesOnlyShotsStandingInItsOwnCell) {
  // Column 39 of its row and column 40 of another row do not strike this
  // frame: no coin is tossed and the key keeps what pilot 1's phase left.
  placeShots({{'.', 39, 7}, {'.', 40, 8}});
  for (char leftOver : {'x', 'p'}) {
    settings.key = leftOver;
    EXPECT_EQ(decideWith(2, {{10, 4}}), leftOver);
  }
  // Each shot in column 40 of its row gets a coin toss; the lowest slot decides.
  place(left(), 12, symbol::kBomb, 40, 7);
  EXPECT_EQ(decideWith(2, {{10, 5}, {2, 0}}), 'l');
  place(left(), 3, symbol::kIon, 40, 7);
  EXPECT_EQ(decideWith(2, {{10, 4}, {2, 0}, {2, 1}}), 'p');
}

TEST_F(ComputerPilotTest, LevelTwoDodgeAgainstTheEdgeIsNotMadeAndTheShotStrikes) {
  struct Case {
    std::int32_t row;
    std::int32_t coin;  // the side that points out of the arena
    char key;
  };
  for (const Case& edge : {Case{3, 1, 'p'}, Case{11, 0, 'l'}}) {
    rearmShips(duel);
    shipsOnRows(7, edge.row);
    place(left(), 19, symbol::kMachineBolt, 40, edge.row);
    settings.key = 'x';
    settings.kiLevel = 2;
    useRolls({{10, 4}, {2, edge.coin}, {12, 6}});
    runBattleFrame(fake.console, random, settings, duel);
    EXPECT_EQ(right().ship.row, edge.row);
    EXPECT_EQ(settings.key, edge.key) << "still pending";
    EXPECT_EQ(right().ship.shields, 100 - 12 - 2);
  }
}

// --- Levels 3, 4 and 9: dodging ---------------------------------------------------------

struct DodgeCase {
  const char* what;
  std::int32_t shipRow;
  std::vector<Shot> shots;  // the first stands in the ship's row
  char key;
};

class DodgeTest : public ComputerPilotTest, public ::testing::WithParamInterface<std::int32_t> {};

TEST_P(DodgeTest, NearShotInItsRowSendsItToAFreeNeighbourRow) {
  const std::int32_t level = GetParam();
  const std::vector<DodgeCase> cases = {
      {"row below free first", 7, {{'.', 40, 7}}, 'l'},
      {"row below taken", 7, {{'.', 40, 7}, {'o', 39, 8}}, 'p'},
      {"column 37 is not near yet", 7, {{'.', 40, 7}, {'o', 37, 8}, {'-', 37, 6}}, 'l'},
      {"row 11: every near shot blocks the way down", 11, {{'-', 38, 11}, {'.', 38, 4}}, 'p'},
      {"row 3: every near shot blocks the way up", 3, {{'~', 39, 3}, {'.', 40, 9}}, 'l'},
      {"a homing ion would follow: shoot it", 7, {{'*', 40, 7}}, 'k'},
  };
  for (const DodgeCase& dodge : cases) {
    placeShots(dodge.shots);
    shipsOnRows(dodge.shipRow, dodge.shipRow);
    right().ship.weaponType = kBomb;
    EXPECT_EQ(decideWith(level, dodgeRolls(level, 1)), dodge.key) << dodge.what;
    EXPECT_EQ(right().ship.weaponType, level == 9 ? kBolt : kBomb) << dodge.what;
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
      placeShots(box.shots);
      shipsOnRows(box.shipRow, box.shipRow);
      right().ship.weaponType = before;
      EXPECT_EQ(decideWith(level, dodgeRolls(level, 1)), 'k') << box.what;
      EXPECT_EQ(right().ship.weaponType, after) << box.what << ", weapon " << before;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, DodgeTest, ::testing::Values(3, 4, 9));

TEST_F(ComputerPilotTest, NearRocketInItsRowIsAnsweredWithRocketsUnlessItFlinches) {
  for (std::int32_t level : {3, 9}) {
    placeShots({{symbol::kRocket, 38, 7}});
    for (std::int32_t flinch = 0; flinch < 3; ++flinch) {
      right().ship.weaponType = kIon;
      EXPECT_EQ(decideWith(level, {{10, flinch}, {14, 9}, {10, 4}}), "lpk"[flinch]);
      EXPECT_EQ(right().ship.weaponType, level == 9 ? kBolt : kIon);
    }
    EXPECT_EQ(decideWith(level, dodgeRolls(level, 1)), 'k');
    EXPECT_EQ(right().ship.weaponType, kRocket);
    // A later shot in its row has the last word on the key; the rocket stays.
    place(left(), 5, symbol::kMachineBolt, 39, 7);
    EXPECT_EQ(decideWith(level, dodgeRolls(level, 2)), 'l');
    EXPECT_EQ(right().ship.weaponType, kRocket);
  }
}

TEST_F(ComputerPilotTest, NearShotsElsewhereLeaveOnlyTheJitterAndTheBoltFallback) {
  placeShots({{'.', 40, 5}});
  shipsOnRows(9, 7);  // not level, and still no chase while a shot is near
  for (std::int32_t level : {3, 9}) {
    for (std::int32_t jitter : {0, 1, 2, 13}) {
      settings.key = kUntouched;
      right().ship.weaponType = kIon;
      EXPECT_EQ(decideWith(level, {{14, jitter}, {10, 2}}), jitter < 2 ? "lp"[jitter] : kUntouched);
      EXPECT_EQ(right().ship.weaponType, level == 9 ? kBolt : kIon);
    }
    decideWith(level, {{14, 13}, {10, 1}});
    EXPECT_EQ(right().ship.weaponType, kBolt);
  }
}

// --- Levels 3 and 9: aiming and the weapon pick ---------------------------------------

TEST_F(ComputerPilotTest, WithNothingNearItChasesPilotOneAndPicksAWeaponWhenLevel) {
  // By aiming draw, with pilot 1 above, below and level; the jitter's step
  // down is always overruled.
  const std::map<std::int32_t, std::string> byDrawWithPilotOneOnRow = {
      {4, "lpkppppppp"}, {10, "lpklllllll"}, {7, "lpk"}};
  for (std::int32_t level : {3, 9}) {
    for (const auto& [pilotOneRow, byDraw] : byDrawWithPilotOneOnRow) {
      shipsOnRows(pilotOneRow, 7);
      for (std::size_t draw = 0; draw < byDraw.size(); ++draw) {
        right().ship.weaponType = kBomb;
        EXPECT_EQ(decideWith(level, {{14, 0}, {10, static_cast<std::int32_t>(draw)}, {10, 7}}),
                  byDraw[draw]);
        EXPECT_EQ(right().ship.weaponType, level == 9 ? kBolt : kBomb);
      }
    }
    const std::string byPick = "5555511332";
    shipsOnRows(7, 7);
    for (std::int32_t pick = 0; pick < 10; ++pick) {
      EXPECT_EQ(decideWith(level, {{14, 5}, {10, 3}, {10, pick}, {10, 2}}), 'k');
      EXPECT_EQ(right().ship.weaponType, byPick[static_cast<std::size_t>(pick)] - '0');
    }
    // The fallback to the bolt comes after the pick, so the bolt is fired.
    EXPECT_EQ(decideWith(level, {{14, 5}, {10, 3}, {10, 8}, {10, 1}}), 'k');
    EXPECT_EQ(right().ship.weaponType, kBolt);
  }
}

TEST_F(ComputerPilotTest, WeaponPickAnswersPilotOnesLaserWithRocketsAfterACooldown) {
  struct Case {
    std::int32_t level;
    std::int32_t cooldownAfterPick;
    int framesUntilReady;
    Rolls pickZero;
  };
  const std::vector<Case> hunters = {{3, 80, 21, {{14, 5}, {10, 3}, {10, 0}, {10, 5}}},
                                     {9, 80, 21, {{14, 5}, {10, 3}, {10, 0}, {10, 5}}},
                                     {4, 100, 41, {{10, 5}, {10, 0}}}};
  for (const Case& hunter : hunters) {
    SCOPED_TRACE(::testing::Message() << "level " << hunter.level);
    duel.computerPilot = {};
    left().ship.weaponType = kBolt;
    decideWith(hunter.level, hunter.pickZero);
    EXPECT_EQ(right().ship.weaponType, kIon);  // only pilot 1's laser calls for rockets
    EXPECT_EQ(duel.computerPilot.rocketCooldown, 0);

    left().ship.weaponType = kLaser;
    EXPECT_EQ(decideWith(hunter.level, hunter.pickZero), 'k');
    EXPECT_EQ(right().ship.weaponType, kRocket);
    EXPECT_EQ(duel.computerPilot.rocketCooldown, hunter.cooldownAfterPick);
    for (int frame = 1; frame <= hunter.framesUntilReady; ++frame) {
      advanceFrameCounters(fake.console, duel);
      decideWith(hunter.level, hunter.pickZero);
      const bool ready = frame == hunter.framesUntilReady;
      EXPECT_EQ(right().ship.weaponType, ready ? kRocket : kIon) << "frame " << frame;
      EXPECT_EQ(duel.computerPilot.rocketCooldown, hunter.cooldownAfterPick - (ready ? 0 : frame));
    }
  }
}

// --- Level 4: wandering and fleeing rockets -----------------------------------------

TEST_F(ComputerPilotTest, LevelFourChasesWithoutHesitationUnlessItWanders) {
  shipsOnRows(10, 7);
  for (std::int32_t draw = 3; draw < 10; ++draw) {
    EXPECT_EQ(decideWith(4, {{10, draw}}), 'l');
  }
  // Draw 2 fires instead of chasing; 0 and 1 are random steps that it owes.
  EXPECT_EQ(decideWith(4, {{10, 2}, {10, 5}}), 'k');
  EXPECT_EQ(decideWith(4, {{10, 0}}), 'p');
  EXPECT_EQ(decideWith(4, {{10, 1}}), 'l');
  EXPECT_EQ(duel.computerPilot.wanderCount, 2);
  // While it owes steps it fires instead of chasing, paying one off per shot.
  EXPECT_EQ(decideWith(4, {{10, 7}, {10, 3}}), 'k');
  EXPECT_EQ(decideWith(4, {{10, 9}, {10, 3}}), 'k');
  EXPECT_EQ(duel.computerPilot.wanderCount, 0);
  EXPECT_EQ(decideWith(4, {{10, 7}}), 'l');
}

TEST_F(ComputerPilotTest, WanderingLevelFourFiresOnlyBoltsAndBombs) {
  const std::map<std::int32_t, std::string> byPickWhenOwing = {{0, "5555511332"},
                                                               {3, "1111111222"}};
  for (const auto& [owed, byPick] : byPickWhenOwing) {
    for (std::int32_t pick = 0; pick < 10; ++pick) {
      duel.computerPilot.wanderCount = owed;
      EXPECT_EQ(decideWith(4, {{10, 6}, {10, pick}}), 'k');
      EXPECT_EQ(right().ship.weaponType, byPick[static_cast<std::size_t>(pick)] - '0')
          << "owing " << owed << ", pick " << pick;
      EXPECT_EQ(duel.computerPilot.wanderCount, owed > 0 ? owed - 1 : 0);
    }
  }
}

TEST_F(ComputerPilotTest, LevelFourFleesTheFirstRocketWithinFiveColumns) {
  struct Case {
    const char* what;
    Shot rocket;
    std::int32_t shipRow;
    char key;
  };
  const std::vector<Case> cases = {
      {"above the middle", {symbol::kRocket, 36, 4}, 9, 'l'},
      {"below the middle", {symbol::kRocket, 36, 10}, 4, 'p'},
      {"on the middle, ship below it", {symbol::kRocket, 37, 7}, 8, 'l'},
      {"on the middle, ship on it", {symbol::kRocket, 37, 7}, 7, 'p'},
      {"on the middle, ship above it", {symbol::kRocket, 36, 7}, 3, 'p'},
      {"column 35 is still too far", {symbol::kRocket, 35, 4}, 7, 'k'},
  };
  for (const Case& flight : cases) {
    placeShots({flight.rocket, {'.', 36, 5}});  // only rockets are fled
    shipsOnRows(flight.shipRow, flight.shipRow);
    // Nothing near and level with pilot 1: the pick fires a bolt first.
    EXPECT_EQ(decideWith(4, {{10, 5}, {10, 5}}), flight.key) << flight.what;
    EXPECT_EQ(right().ship.weaponType, kBolt);
  }
  // The highest slot decides, even over a rocket it has just answered.
  placeShots({{symbol::kRocket, 36, 4}, {symbol::kRocket, 38, 7}});
  shipsOnRows(7, 7);
  EXPECT_EQ(decideWith(4, dodgeRolls(4, 1)), 'l');
  EXPECT_EQ(right().ship.weaponType, kRocket);
}

// --- Levels 5 to 8 ------------------------------------------------------------------

TEST_F(ComputerPilotTest, LevelFiveDrawsOneWeaponForTheWholeBattle) {
  for (std::int32_t weapon = 1; weapon <= 5; ++weapon) {
    duel.computerPilot = {};
    right().ship.weaponType = kBolt;
    EXPECT_EQ(decideWith(5, {{5, weapon - 1}, {10, 7}}), 'k');
    EXPECT_EQ(duel.computerPilot.patternState, weapon);
    EXPECT_EQ(right().ship.weaponType, weapon);
  }
  // Drawn once: later frames take one draw each and never switch weapon.
  useSeed(77);
  for (int frame = 0; frame < 300; ++frame) {
    EXPECT_NE(decideAndAct(5), 'o');
  }
  EXPECT_EQ(right().ship.weaponType, kIon);
  EXPECT_EQ(drawsTaken(), 300);
}

TEST_F(ComputerPilotTest, LevelFiveStepsUpOnlyToChasePilotOne) {
  duel.computerPilot.patternState = kBomb;
  const std::map<std::int32_t, std::string> byDrawWithPilotOneOnRow = {
      {7, "kkkkklkkkk"}, {3, "ppppplkkkk"}, {11, "llllllkkkk"}};
  for (const auto& [pilotOneRow, byDraw] : byDrawWithPilotOneOnRow) {
    shipsOnRows(pilotOneRow, 7);
    for (std::int32_t draw = 0; draw < 10; ++draw) {
      EXPECT_EQ(decideWith(5, {{10, draw}}), byDraw[static_cast<std::size_t>(draw)])
          << "pilot 1 on row " << pilotOneRow << ", draw " << draw;
    }
  }
}

TEST_F(ComputerPilotTest, LevelSixFollowsPilotOnesRowAndDrawsEveryFrame) {
  const std::map<std::int32_t, std::string> byDrawWithPilotOneOnRow = {
      {8, "llllllllll"}, {3, "pppppppppp"}, {7, "ookkkkkkkk"}};
  for (const auto& [pilotOneRow, byDraw] : byDrawWithPilotOneOnRow) {
    shipsOnRows(pilotOneRow, 7);
    for (std::int32_t draw = 0; draw < 10; ++draw) {
      EXPECT_EQ(decideWith(6, {{10, draw}}), byDraw[static_cast<std::size_t>(draw)]);
    }
  }
}

TEST_F(ComputerPilotTest, LevelSevenSweepsDownAndUpSteppingAndFiringByTurns) {
  std::string keys;
  std::string rows;
  for (int frame = 0; frame < 26; ++frame) {
    // Frame 3 switches weapon and leaves the sweep where it was.
    useRolls({{4, frame == 3 ? 0 : 1 + frame % 3}});
    keys += decideAndAct(7);
    rows += static_cast<char>('0' + right().ship.row - 3);  // '0' is row 3
  }
  // Down to row 11 (the weapon switch in frame 3), up to row 3, down again.
  EXPECT_EQ(keys, "lkloklklpkpkpkpkpkpkpkplkl");
  EXPECT_EQ(rows, "55666778776655443322110112");
}

TEST_F(ComputerPilotTest, LevelSevenNeverKeepsTheRocketOrTheIon) {
  const std::string after = "12311";  // for weapons 1..5
  for (std::int32_t before = 1; before <= 5; ++before) {
    for (std::int32_t draw : {0, 2}) {
      right().ship.weaponType = before;
      decideWith(7, {{4, draw}});
      EXPECT_EQ(right().ship.weaponType, after[static_cast<std::size_t>(before) - 1] - '0');
    }
  }
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
