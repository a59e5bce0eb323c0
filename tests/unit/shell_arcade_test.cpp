#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/arcade_menu.h"
#include "shell/password_display.h"
#include "shell/program_loop.h"
#include "shell/result_screen.h"
#include "support/fake_platform.h"

namespace skyrazor {
namespace {

class ArcadeTest : public ::testing::Test {
 protected:
  void press(const std::string& keys) {
    for (char key : keys) {
      fake.platform.keys.push_back(static_cast<unsigned char>(key));
    }
  }
  void holdRun(const std::string& name, std::int32_t wins, std::int32_t losses) {
    shell.arcadeName = name;
    shell.wins = wins;
    shell.losses = losses;
    shell.rating = ratingFor(wins, losses);
  }
  // Where the arcade menu is entered from: Arcade was chosen on the main menu.
  void chooseArcade() {
    shell.key = '1';
    shell.arcadeMode = 1;
  }
  // A battle of the current arcade run that pilot 1 wins, scored on the
  // result screen.
  void winArcadeBattle() {
    shell.arcadeMode = 1;
    game.duel.left().ship.hp = 1;
    game.duel.right().ship.hp = 0;
    showResultScreen(game);
  }

  testing::FakeConsole fake;
  Game game{fake.console};
  ShellState& shell = game.shell;
};

// --- The arcade menu ---------------------------------------------------------

TEST_F(ArcadeTest, MenuWithoutRunOffersTwoChoicesAndIgnoresOtherKeys) {
  chooseArcade();
  holdRun("", 4, 2);
  shell.arcadeBattles = 2;
  press("3x\r2");

  EXPECT_TRUE(runArcadeMenu(game));

  EXPECT_EQ(fake.row(1), ">>> ARCADE <<<");
  EXPECT_EQ(fake.row(3), "(1)Password");
  EXPECT_EQ(fake.row(4), "(2)New Game");
  EXPECT_EQ(fake.row(5), "");
  EXPECT_TRUE(fake.platform.keys.empty());
  // New Game: a fresh run, the name asked again, the password counter kept.
  EXPECT_EQ(shell.key, '2');
  EXPECT_EQ(shell.wins, 0);
  EXPECT_EQ(shell.losses, 0);
  EXPECT_EQ(shell.rating, 25);
  EXPECT_EQ(shell.arcadeName, "");
  EXPECT_EQ(shell.arcadeBattles, 2);
}

TEST_F(ArcadeTest, MenuReadsFreshKeyRatherThanTakingTheMainMenuChoice) {
  chooseArcade();
  press("2");

  EXPECT_TRUE(runArcadeMenu(game));

  EXPECT_EQ(shell.key, '2');
  EXPECT_TRUE(fake.platform.typedLines.empty());
}

TEST_F(ArcadeTest, ContinueKeepsTheRunAndItsName) {
  chooseArcade();
  holdRun("Ace", 7, 3);
  shell.name1 = "Bob";  // left by a two-person battle in between
  shell.arcadeBattles = 1;
  press("93");

  EXPECT_TRUE(runArcadeMenu(game));

  EXPECT_EQ(fake.row(5), "(3)Continue");
  EXPECT_EQ(shell.key, '1');
  EXPECT_EQ(shell.name1, "Ace");
  EXPECT_EQ(shell.wins, 7);
  EXPECT_EQ(shell.losses, 3);
  EXPECT_EQ(shell.rating, ratingFor(7, 3));
  EXPECT_EQ(shell.arcadeBattles, 1);
}

TEST_F(ArcadeTest, NewGameClearsAnEarlierRun) {
  chooseArcade();
  holdRun("Ace", 7, 3);
  press("2");

  EXPECT_TRUE(runArcadeMenu(game));

  EXPECT_EQ(shell.arcadeName, "");
  EXPECT_EQ(shell.rating, 25);
  EXPECT_EQ(shell.key, '2');
}

// --- Password entry --------------------------------------------------------------

TEST_F(ArcadeTest, AcceptedPasswordRestoresTheRun) {
  chooseArcade();
  holdRun("Old", 1, 1);
  shell.arcadeBattles = 2;
  press("1");
  fake.type({"EHCJBAAJAABZed"});

  EXPECT_TRUE(runArcadeMenu(game));

  EXPECT_EQ(fake.row(1), "Password: EHCJBAAJAABZed");
  EXPECT_EQ(fake.row(2), "");
  EXPECT_EQ(fake.row(3), "");
  EXPECT_EQ(fake.row(4), "Password OK!");
  EXPECT_EQ(fake.platform.sleeps, std::vector<int>{5000});
  EXPECT_EQ(shell.arcadeName, "Zed");
  EXPECT_EQ(shell.name1, "Zed");
  EXPECT_EQ(shell.wins, 9);
  EXPECT_EQ(shell.losses, 1);
  EXPECT_EQ(shell.rating, 212);
  EXPECT_EQ(shell.key, '1');
  EXPECT_EQ(shell.arcadeBattles, 2);
}

TEST_F(ArcadeTest, PasswordLettersMayBeSpreadOverBlanksAndLines) {
  fake.type({"E H\tC", "J B A", "A J A A B", "", "   Zed rest"});

  EXPECT_TRUE(enterPassword(game));

  EXPECT_EQ(shell.name1, "Zed");
  EXPECT_EQ(shell.wins, 9);
  EXPECT_EQ(shell.losses, 1);
  // What follows the name stays for the next typed read.
  EXPECT_EQ(fake.console.readWord(), "rest");
}

TEST_F(ArcadeTest, RefusedPasswordChangesNothingAndGoesBackToTheTitle) {
  chooseArcade();
  holdRun("Ace", 2, 0);
  shell.name1 = "Ace";
  press("x1");
  fake.type({"CJBAFABAAAAAce"});

  EXPECT_FALSE(runArcadeMenu(game));

  EXPECT_EQ(fake.row(1), "Password: CJBAFABAAAAAce");
  EXPECT_EQ(fake.row(2), "Wrong Password!");
  EXPECT_EQ(fake.platform.sleeps, std::vector<int>{5000});
  EXPECT_EQ(shell.wins, 2);
  EXPECT_EQ(shell.losses, 0);
  EXPECT_EQ(shell.rating, ratingFor(2, 0));
  EXPECT_EQ(shell.arcadeName, "Ace");
}

TEST_F(ArcadeTest, InputEndingDuringPasswordEndsTheSession) {
  holdRun("Ace", 2, 0);
  fake.type({"CJBAF AA"});
  EXPECT_THROW(enterPassword(game), SessionEnded);
  EXPECT_EQ(shell.wins, 2);

  fake.type({"AAAAAA"});  // all eleven letters, but no name before the end
  EXPECT_THROW(enterPassword(game), SessionEnded);
  EXPECT_EQ(shell.arcadeName, "Ace");
  EXPECT_TRUE(fake.platform.sleeps.empty());
}

// A whole pass: the refusal puts the title back with the arcade flag down.
TEST_F(ArcadeTest, RefusedPasswordPassEndsOutOfArcadeMode) {
  shell.configured = 1;
  shell.gameSpeed = 20;
  press("x11");
  fake.type({"FCEDJAAAAAANobody"});

  runOnePass(game);

  EXPECT_EQ(shell.arcadeMode, 0);
  EXPECT_EQ(shell.gameSpeed, 50);  // the Arcade choice already set it
  EXPECT_EQ(fake.row(2), "Wrong Password!");
  EXPECT_EQ(fake.platform.sleeps, std::vector<int>{5000});
}

// --- Password display --------------------------------------------------------------

TEST_F(ArcadeTest, DisplayShowsPasswordTenSecondsThenAsksForAKey) {
  holdRun("Ace", 17, 2);
  shell.arcadeBattles = 3;
  fake.console.setTextColor(15);
  fake.console.print("result screen");
  press("q");

  showPasswordIfDue(game);

  EXPECT_EQ(fake.row(1), "EHCJBABHAACAce");
  EXPECT_EQ(fake.colorAt(1, 1), 15);
  EXPECT_EQ(fake.row(2), "");
  EXPECT_EQ(fake.row(3), "Press any key to continue...");
  EXPECT_EQ(fake.platform.sleeps, std::vector<int>{10000});
  EXPECT_TRUE(fake.platform.keys.empty());
  EXPECT_EQ(shell.arcadeBattles, 0);
}

TEST_F(ArcadeTest, EveryThirdScoredBattleShowsPassword) {
  holdRun("Ace", 0, 0);
  shell.name1 = "Ace";
  shell.arcadeBattles = 0;
  press("kk");
  std::vector<int> displays;
  for (int battle = 1; battle <= 6; ++battle) {
    winArcadeBattle();
    std::size_t sleepsBefore = fake.platform.sleeps.size();
    showPasswordIfDue(game);
    if (fake.platform.sleeps.size() > sleepsBefore) {
      displays.push_back(battle);
    }
  }
  EXPECT_EQ(displays, (std::vector<int>{3, 6}));
  EXPECT_EQ(fake.row(1), "CJBAFAAGAAAAce");
}

// The counter outlives New Game, so the old run's two battles count toward
// the new run's first password.
TEST_F(ArcadeTest, DisplayAfterNewGameComesWithTheFirstBattleOfTheNewRun) {
  chooseArcade();
  holdRun("Ace", 5, 1);
  shell.arcadeBattles = 2;
  press("2k");
  ASSERT_TRUE(runArcadeMenu(game));
  shell.name1 = "Neo";
  shell.arcadeName = "Neo";  // as the name entry leaves it

  winArcadeBattle();
  showPasswordIfDue(game);

  EXPECT_EQ(fake.row(1), "CJBAFAABAAANeo");
  EXPECT_EQ(shell.arcadeBattles, 0);
}

}  // namespace
}  // namespace skyrazor
