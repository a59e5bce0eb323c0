#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "shell/result_screen.h"
#include "support/fake_platform.h"

namespace skyrazor {
namespace {

constexpr const char* kCongratulations = "     ***   CONGRATULATIONS!   ***";
constexpr const char* kUWin = "       U WIN!";

class ResultScreenTest : public ::testing::Test {
 protected:
  ResultScreenTest() {
    shell.name1 = "Ace";
    shell.name2 = "Bob";
  }
  void endBattle(std::int32_t pilot1Hp, std::int32_t pilot2Hp) {
    game.duel.left().ship.hp = pilot1Hp;
    game.duel.right().ship.hp = pilot2Hp;
  }
  void startArcadeRun(std::int32_t wins, std::int32_t losses) {
    shell.arcadeMode = 1;
    shell.kiLevel = 7;
    shell.wins = wins;
    shell.losses = losses;
    shell.rating = ratingFor(wins, losses);
  }
  std::string winnerLine(const std::string& name) const { return "     ***   " + name + "   ***"; }
  std::string outcomeLine() const { return fake.row(9); }

  testing::FakeConsole fake;
  Game game{fake.console};
  ShellState& shell = game.shell;
};

TEST_F(ResultScreenTest, WritesOverBattlePictureInWhiteAndWaitsFiveSeconds) {
  fake.console.setTextColor(12);
  fake.console.gotoXY(40, 11);
  fake.console.print("<");
  endBattle(2, 0);

  showResultScreen(game);

  EXPECT_EQ(fake.byteAt(40, 11), '<');
  EXPECT_EQ(fake.row(3), kCongratulations);
  EXPECT_EQ(fake.row(5), winnerLine("Ace"));
  EXPECT_EQ(fake.row(7), kUWin);
  EXPECT_EQ(fake.colorAt(6, 3), 15);
  EXPECT_EQ(fake.colorAt(8, 7), 15);
  EXPECT_EQ(fake.platform.sleeps, std::vector<int>{5000});
}

TEST_F(ResultScreenTest, VersusComputerWinPrintsMessageOfLevel) {
  struct Case {
    std::int32_t kiLevel;
    std::string message;
  };
  const std::vector<Case> cases = {
      {1, "     OK! Now try an harder KI-lvl! ^^"},
      {2, "     OK! Now try an harder KI-lvl! ^^"},
      {3, "     NICE! But u'll never beat Expert-KI! ;)"},
      {4, "     OMFG! U... damnit wheres that damn gamebug? -.-"},
  };
  for (const Case& c : cases) {
    testing::FakeConsole console;
    Game versus(console.console);
    versus.shell.name1 = "Ace";
    versus.shell.kiLevel = c.kiLevel;
    versus.duel.left().ship.hp = 1;
    versus.duel.right().ship.hp = 0;

    showResultScreen(versus);

    EXPECT_EQ(console.row(9), c.message) << "level " << c.kiLevel;
    EXPECT_EQ(versus.shell.rating, 0) << "level " << c.kiLevel;
    EXPECT_EQ(versus.shell.arcadeBattles, 0) << "level " << c.kiLevel;
  }
}

TEST_F(ResultScreenTest, ComputerWinStillSaysUWinAndLeavesRow9Empty) {
  shell.kiLevel = 4;
  shell.name2 = "ExpertKI";
  endBattle(0, 2);

  showResultScreen(game);

  EXPECT_EQ(fake.row(5), winnerLine("ExpertKI"));
  EXPECT_EQ(fake.row(7), kUWin);
  EXPECT_EQ(outcomeLine(), "");
}

TEST_F(ResultScreenTest, PvpWinsShowNameAndNoRatingText) {
  endBattle(0, 1);
  showResultScreen(game);
  EXPECT_EQ(fake.row(5), winnerLine("Bob"));
  EXPECT_EQ(outcomeLine(), "");

  testing::FakeConsole console;
  Game pvp(console.console);
  pvp.shell.name1 = "Ace";
  pvp.duel.right().ship.hp = 0;
  showResultScreen(pvp);
  EXPECT_EQ(console.row(5), winnerLine("Ace"));
  EXPECT_EQ(console.row(9), "");
}

TEST_F(ResultScreenTest, BothShipsDownGoesToPilot2) {
  shell.kiLevel = 3;
  endBattle(0, -2);

  showResultScreen(game);

  EXPECT_EQ(fake.row(5), winnerLine("Bob"));
  EXPECT_EQ(outcomeLine(), "");
}

TEST_F(ResultScreenTest, FirstArcadeWinRaisesRatingFrom25To50) {
  startArcadeRun(0, 0);
  endBattle(1, 0);

  showResultScreen(game);

  EXPECT_EQ(outcomeLine(), "  Ace, your Rating increased!: 25 -> 50");
  EXPECT_EQ(shell.wins, 1);
  EXPECT_EQ(shell.losses, 0);
  EXPECT_EQ(shell.rating, 50);
  EXPECT_EQ(shell.arcadeBattles, 1);
  applyRankTitle(game);
  EXPECT_EQ(shell.rankTitle, "Rookie");
}

TEST_F(ResultScreenTest, FirstArcadeLossLowersRatingFrom25ToMinus13) {
  startArcadeRun(0, 0);
  shell.arcadeBattles = 2;
  endBattle(0, 3);

  showResultScreen(game);

  EXPECT_EQ(fake.row(5), winnerLine("Bob"));
  EXPECT_EQ(outcomeLine(), "  Ace, your Rating decreased! 25 -> -13");
  EXPECT_EQ(shell.wins, 0);
  EXPECT_EQ(shell.losses, 1);
  EXPECT_EQ(shell.rating, -13);
  EXPECT_EQ(shell.arcadeBattles, 3);
}

// The old value is worked back from the new rating, not taken from before.
TEST_F(ResultScreenTest, ArcadeLinesCountFromRecomputedRating) {
  startArcadeRun(0, 1);
  shell.rating = 500;  // a stale value that the formula replaces
  endBattle(3, 0);

  showResultScreen(game);

  EXPECT_EQ(outcomeLine(), "  Ace, your Rating increased!: -13 -> 12");
  EXPECT_EQ(shell.rating, 12);
}

TEST_F(ResultScreenTest, ArcadeWinAgainstLowLevelIsScoredNotPraised) {
  startArcadeRun(4, 0);
  shell.kiLevel = 1;
  endBattle(1, 0);

  showResultScreen(game);

  EXPECT_EQ(outcomeLine(), "  Ace, your Rating increased!: 125 -> 150");
}

TEST_F(ResultScreenTest, ArcadeBattleWithBothShipsDownIsNotScored) {
  startArcadeRun(2, 1);
  shell.arcadeBattles = 1;
  endBattle(0, 0);

  showResultScreen(game);

  EXPECT_EQ(outcomeLine(), "");
  EXPECT_EQ(shell.wins, 2);
  EXPECT_EQ(shell.losses, 1);
  EXPECT_EQ(shell.rating, ratingFor(2, 1));
  EXPECT_EQ(shell.arcadeBattles, 1);
  EXPECT_EQ(fake.platform.sleeps, std::vector<int>{5000});
}

TEST(RankTitleTest, TitleChangesAtEachBoundary) {
  const std::vector<std::pair<std::int32_t, std::string>> titles = {
      {INT_MIN, "Rookie"},     {-12962, "Rookie"},       {99, "Rookie"},
      {100, "Testpilot"},      {199, "Testpilot"},       {200, "Scout"},
      {299, "Scout"},          {300, "Stormunit"},       {399, "Stormunit"},
      {400, "Stormcommander"}, {499, "Stormcommander"},  {500, "Sniper"},
      {599, "Sniper"},         {600, "Jester"},          {699, "Jester"},
      {700, "Terminator"},     {799, "Terminator"},      {800, "Champion"},
      {999, "Champion"},       {1000, "MasterSkyrazor"}, {INT_MAX, "MasterSkyrazor"},
  };
  for (const auto& [rating, title] : titles) {
    EXPECT_EQ(rankTitleFor(rating), title) << "rating " << rating;
  }
}

TEST(RankTitleTest, AppliedFromRatingOfWinsAndLosses) {
  testing::FakeConsole console;
  Game game(console.console);
  const std::vector<std::tuple<std::int32_t, std::int32_t, std::string>> runs = {
      {4, 0, "Testpilot"}, {39, 0, "MasterSkyrazor"}, {999, 999, "Rookie"}};
  for (const auto& [wins, losses, title] : runs) {
    game.shell.rating = ratingFor(wins, losses);
    applyRankTitle(game);
    EXPECT_EQ(game.shell.rankTitle, title) << wins << " wins, " << losses << " losses";
  }
  EXPECT_EQ(ratingFor(999, 999), -12962);
}

}  // namespace
}  // namespace skyrazor
