#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/arcade_opponent.h"
#include "shell/controls_screen.h"
#include "shell/match_setup.h"
#include "support/fake_platform.h"

namespace skyrazor {
namespace {

constexpr const char* kLevelPrompt = "KI-LVL(1,2,3,4 / easy,medium,hard,expert): ";
constexpr const char* kPilot1Controls =
    "Player1: E,S to move up,down, W to switch weapons, A to shoot";
constexpr const char* kPilot2Controls =
    "Player2: P,L to move up,down, O to switch weapons, K to shoot";

class MatchSetupTest : public ::testing::Test {
 protected:
  void continueArcadeRun(const std::string& name, std::int32_t wins, std::int32_t losses) {
    shell.arcadeMode = 1;
    shell.key = '1';
    shell.arcadeName = name;
    shell.name1 = name;
    shell.wins = wins;
    shell.losses = losses;
    shell.rating = ratingFor(wins, losses);
  }
  // Leaves junk on the screen, so that a missing clear shows.
  void scribble() {
    fake.console.gotoXY(1, 7);
    fake.console.print("junk on row seven");
    fake.console.gotoXY(1, 10);
    fake.console.print("junk on row ten");
  }

  testing::FakeConsole fake;
  Game game{fake.console};
  ShellState& shell = game.shell;
};

// --- Names and pilot 2 --------------------------------------------------------

TEST_F(MatchSetupTest, PvpTakesSecondNameFromRestOfFirstLine) {
  shell.key = '3';
  fake.type({"Alice Bob"});

  enterPilotNames(game);

  EXPECT_EQ(shell.name1, "Alice");
  EXPECT_EQ(shell.name2, "Bob");
  EXPECT_EQ(shell.kiLevel, 0);
  EXPECT_EQ(fake.row(1), "Enter your name Pilot#1: Alice Bob");
  EXPECT_EQ(fake.row(2), "");
  EXPECT_EQ(fake.row(3), "Enter your name Pilot#2:");
}

TEST_F(MatchSetupTest, LevelOutsideOneToFourIsReadAgainWithoutNewPrompt) {
  shell.key = '2';
  fake.type({"Alice", "0", "7", "3"});

  enterPilotNames(game);

  EXPECT_EQ(shell.kiLevel, 3);
  EXPECT_EQ(shell.name2, "HardKI");
  EXPECT_EQ(fake.row(3), std::string(kLevelPrompt) + "0");
  EXPECT_EQ(fake.row(4), "7");
  EXPECT_EQ(fake.row(5), "3");
  EXPECT_EQ(fake.rowsContaining("KI-LVL"), 1);
}

TEST_F(MatchSetupTest, EachLevelNamesItsComputerPilot) {
  const std::vector<std::string> expected = {"EasyKI", "MediumKI", "HardKI", "ExpertKI"};
  for (std::int32_t level = 1; level <= 4; ++level) {
    testing::FakeConsole console;
    Game versus(console.console);
    versus.shell.key = '2';
    console.platform.typedLines = {"Alice " + std::to_string(level)};

    enterPilotNames(versus);

    EXPECT_EQ(versus.shell.kiLevel, level);
    EXPECT_EQ(versus.shell.name2, expected[static_cast<std::size_t>(level - 1)]);
  }
}

TEST_F(MatchSetupTest, NonNumbersAtLevelPromptAreDroppedWithTheirLine) {
  shell.key = '2';
  fake.type({"Alice", "hard", "x 4", "-", "2"});

  enterPilotNames(game);

  EXPECT_EQ(shell.kiLevel, 2);
  EXPECT_EQ(shell.name2, "MediumKI");
  EXPECT_TRUE(fake.platform.typedLines.empty());
}

TEST_F(MatchSetupTest, Name2KeepsFormerValueUntilValidLevelArrives) {
  shell.key = '2';
  shell.name2 = "Bob";
  fake.type({"Alice", "9", "0"});

  // The input ends before a valid level: the session ends instead of spinning.
  EXPECT_THROW(enterPilotNames(game), SessionEnded);

  EXPECT_EQ(shell.name2, "Bob");
  EXPECT_EQ(shell.kiLevel, 0);
}

TEST_F(MatchSetupTest, VersusComputerAsksNameEvenWhileArcadeRunIsKept) {
  shell.key = '2';
  shell.arcadeName = "Ace";
  fake.type({"Zoe 1"});

  enterPilotNames(game);

  EXPECT_EQ(shell.name1, "Zoe");
  EXPECT_EQ(shell.arcadeName, "Ace");
}

TEST_F(MatchSetupTest, ContinuedArcadeRunAsksNothing) {
  continueArcadeRun("Ace", 0, 0);
  shell.name2 = "Before";

  enterPilotNames(game);  // no typed line is queued: any read would end the session

  EXPECT_EQ(shell.name1, "Ace");
  EXPECT_EQ(shell.name2, "Before");
  EXPECT_EQ(fake.row(1), "");
}

TEST_F(MatchSetupTest, NewArcadeRunAsksNameAndKeepsItAsArcadeName) {
  shell.arcadeMode = 1;
  shell.key = '2';
  fake.type({"Zoe"});

  enterPilotNames(game);

  EXPECT_EQ(shell.name1, "Zoe");
  EXPECT_EQ(shell.arcadeName, "Zoe");
  EXPECT_EQ(shell.kiLevel, 0);
  EXPECT_EQ(fake.rowsContaining("KI-LVL"), 0);
}

// --- Arcade opponent ----------------------------------------------------------

TEST(ArcadeOpponentTest, LevelFollowsRatingBand) {
  struct Band {
    std::int32_t rating;
    std::vector<std::int32_t> levelByRoll;
  };
  const std::vector<Band> bands = {
      {-13, {1, 1, 1, 1, 1, 5, 5, 5, 7, 7}},  {99, {1, 1, 1, 1, 1, 5, 5, 5, 7, 7}},
      {100, {5, 2, 2, 2, 7, 7, 3, 3, 6, 6}},  {499, {5, 2, 2, 2, 7, 7, 3, 3, 6, 6}},
      {500, {8, 2, 2, 7, 7, 3, 3, 3, 7, 7}},  {799, {8, 2, 2, 7, 7, 3, 3, 3, 7, 7}},
      {800, {9, 3, 3, 3, 3, 3, 4, 4, 4, 4}},  {1499, {9, 3, 3, 3, 3, 3, 4, 4, 4, 4}},
      {1500, {4, 4, 4, 4, 4, 4, 4, 4, 4, 4}},
  };

  for (const Band& band : bands) {
    std::vector<std::int32_t> levels;
    for (std::int32_t roll = 0; roll < 10; ++roll) {
      levels.push_back(arcadeOpponentLevel(band.rating, roll));
    }
    EXPECT_EQ(levels, band.levelByRoll) << "rating " << band.rating;
  }
}

// The name is drawn first (mod 50), then the level roll (mod 10), and both
// draws are made in every band.
TEST(ArcadeOpponentTest, DrawTakesNameThenRollAndUsesTwoDraws) {
  struct Case {
    std::uint32_t seed;
    std::int32_t rating;
    std::string name;
    std::int32_t kiLevel;
  };
  const std::vector<Case> cases = {
      {5, 100, "Tox", 2},      // roll 3 in the 100..499 row
      {5, 99, "Tox", 1},       // the same roll in the first row
      {1, -13, "Quorbel", 5},  // roll 7 in the first row
      {8, 1500, "GG", 4},      // the roll is drawn but changes nothing
  };
  for (const Case& c : cases) {
    Random random;
    random.seed(c.seed);
    Random replay;
    replay.seed(c.seed);

    ArcadeOpponent opponent = drawArcadeOpponent(random, c.rating);

    std::int32_t nameIndex = replay.below(50);
    std::int32_t roll = replay.below(10);
    EXPECT_EQ(opponent.name, arcadeOpponentName(nameIndex)) << "seed " << c.seed;
    EXPECT_EQ(opponent.name, c.name) << "seed " << c.seed;
    EXPECT_EQ(opponent.kiLevel, arcadeOpponentLevel(c.rating, roll)) << "seed " << c.seed;
    EXPECT_EQ(opponent.kiLevel, c.kiLevel) << "seed " << c.seed;
    EXPECT_EQ(random.state(), replay.state()) << "seed " << c.seed;
  }
}

// --- Controls screen and countdown ---------------------------------------------

TEST_F(MatchSetupTest, ControlsScreenForTwoPeopleShowsBothPilotsKeys) {
  scribble();
  game.random.seed(77);

  showControlsScreen(game);

  EXPECT_EQ(fake.row(5), "Controles:");
  EXPECT_EQ(fake.row(6), kPilot1Controls);
  EXPECT_EQ(fake.row(7), kPilot2Controls);
  EXPECT_EQ(fake.row(10), "");
  EXPECT_EQ(game.random.state(), 77u);
}

TEST_F(MatchSetupTest, ControlsScreenAgainstComputerShowsPilot1KeysOnly) {
  scribble();
  shell.kiLevel = 4;
  game.random.seed(77);

  showControlsScreen(game);

  EXPECT_EQ(fake.row(5), "Controles:");
  EXPECT_EQ(fake.row(6), kPilot1Controls);
  EXPECT_EQ(fake.row(7), "");
  EXPECT_EQ(fake.row(10), "");
  EXPECT_EQ(game.random.state(), 77u);
}

TEST_F(MatchSetupTest, ArcadeSetupMeetsDrawnOpponentAndShowsRatingLines) {
  continueArcadeRun("Ace", 3, 0);
  shell.rankTitle = "Testpilot";
  game.random.seed(1);
  Random replay;
  replay.seed(1);
  std::int32_t nameIndex = replay.below(50);
  std::int32_t roll = replay.below(10);
  std::int32_t opponentBonus = replay.below(100);

  runMatchSetup(game);

  EXPECT_EQ(shell.name2, arcadeOpponentName(nameIndex));
  EXPECT_EQ(shell.name2, "Quorbel");
  EXPECT_EQ(shell.kiLevel, arcadeOpponentLevel(100, roll));
  EXPECT_EQ(shell.kiLevel, 3);
  EXPECT_EQ(game.random.state(), replay.state());
  EXPECT_EQ(fake.row(6), kPilot1Controls);
  EXPECT_EQ(fake.row(7), "");
  EXPECT_EQ(fake.row(10), "Ace/Testpilot: Actuell Rating: 100 / Wins(3) Losses(0)");
  EXPECT_EQ(fake.row(11), "");
  EXPECT_EQ(fake.row(12), "Quorbel: Actuell Rating: " + std::to_string(100 + opponentBonus));
  EXPECT_EQ(fake.row(12), "Quorbel: Actuell Rating: 134");
  EXPECT_EQ(fake.row(1), "GET READY >>> Ace VS Quorbel <<< GET READY");
}

TEST_F(MatchSetupTest, ArcadeRatingLinesShowNegativeRating) {
  continueArcadeRun("Ace", 0, 1);
  shell.rankTitle = "Rookie";
  game.random.seed(2);

  runMatchSetup(game);

  EXPECT_EQ(shell.name2, "TheUnknownNoname");
  EXPECT_EQ(shell.kiLevel, 5);
  EXPECT_EQ(fake.row(10), "Ace/Rookie: Actuell Rating: -13 / Wins(0) Losses(1)");
  EXPECT_EQ(fake.row(12), "TheUnknownNoname: Actuell Rating: 85");
}

TEST_F(MatchSetupTest, SetupEmptiesBothPoolsWhateverAmmoLimit) {
  shell.key = '3';
  fake.type({"Alice Bob"});
  for (Pilot& pilot : game.duel.pilots) {
    pilot.config.ammoLimit = 5;
    for (Projectile& slot : pilot.pool) {
      slot = Projectile{'~', 17, 8};
    }
  }

  runMatchSetup(game);

  for (const Pilot& pilot : game.duel.pilots) {
    for (const Projectile& slot : pilot.pool) {
      EXPECT_EQ(slot.symbol, ' ');
      EXPECT_EQ(slot.col, 3);
      EXPECT_EQ(slot.row, 20);
    }
  }
}

// A platform that notes how far the bar had grown each time the game slept.
class BarWatchingPlatform : public testing::FakePlatform {
 public:
  explicit BarWatchingPlatform(Screen& screen) : FakePlatform(screen), watched_(screen) {}
  void sleep(int milliseconds) override {
    int bar = 0;
    while (bar < watched_.columns() && watched_.cell(bar, 2).byte == '>') {
      ++bar;
    }
    barAtSleep.push_back(bar);
    FakePlatform::sleep(milliseconds);
  }
  std::vector<int> barAtSleep;

 private:
  Screen& watched_;
};

TEST(GetReadyCountdownTest, SleepsBeforeDrawingEachStep) {
  Screen screen(80, 25);
  BarWatchingPlatform platform(screen);
  Console console(screen, platform, platform, platform);
  Game game(console);

  runGetReadyCountdown(game);

  EXPECT_EQ(platform.sleeps, std::vector<int>(70, 90));
  std::vector<int> expectedBars;
  for (int step = 1; step <= 70; ++step) {
    expectedBars.push_back(step - 1);
  }
  EXPECT_EQ(platform.barAtSleep, expectedBars);
}

TEST_F(MatchSetupTest, PvpSetupEndsOnControlsScreenAfterCountdown) {
  shell.key = '3';
  fake.type({"Alice Bob"});

  runMatchSetup(game);

  EXPECT_EQ(fake.platform.sleeps, std::vector<int>(70, 90));
  EXPECT_EQ(fake.row(1), "GET READY >>> Alice VS Bob <<< GET READY");
  EXPECT_EQ(fake.row(3), std::string(70, '>'));
  EXPECT_EQ(fake.row(5), "Controles:");
  EXPECT_EQ(fake.row(7), kPilot2Controls);
  EXPECT_EQ(fake.rowsContaining("Enter your name"), 0);
}

}  // namespace
}  // namespace skyrazor
