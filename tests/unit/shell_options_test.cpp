#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/options_screen.h"
#include "shell/program_loop.h"
#include "support/fake_platform.h"

namespace skyrazor {
namespace {

class OptionsScreenTest : public ::testing::Test {
 protected:
  testing::FakeConsole fake;
  Game game{fake.console};
  Pilot& pilot1 = game.duel.left();
  Pilot& pilot2 = game.duel.right();
};

TEST_F(OptionsScreenTest, ElevenAnswersOnOneLineSetBothFieldsOfEachPair) {
  fake.type({"20 50 1 1000 10 0 10 120 3 39 9"});

  runOptionsScreen(game);

  EXPECT_EQ(game.shell.gameSpeed, 20);
  EXPECT_EQ(pilot1.config.hpConfig, 50);
  EXPECT_EQ(pilot1.ship.hp, 50);
  EXPECT_EQ(pilot2.config.hpConfig, 1);
  EXPECT_EQ(pilot2.ship.hp, 1);
  EXPECT_EQ(pilot1.config.shieldMax, 1000);
  EXPECT_EQ(pilot1.ship.shields, 1000);
  EXPECT_EQ(pilot2.config.shieldMax, 10);
  EXPECT_EQ(pilot2.ship.shields, 10);
  EXPECT_EQ(pilot1.config.regenRate, 0);
  EXPECT_EQ(pilot2.config.regenRate, 10);
  EXPECT_EQ(pilot1.config.weaponStrength, 120);
  EXPECT_EQ(pilot2.config.weaponStrength, 3);
  EXPECT_EQ(pilot1.config.ammoLimit, 39);
  EXPECT_EQ(pilot1.ship.nextSlot, 39);
  EXPECT_EQ(pilot2.config.ammoLimit, 9);
  EXPECT_EQ(pilot2.ship.nextSlot, 9);
  EXPECT_TRUE(fake.platform.typedLines.empty());
}

TEST_F(OptionsScreenTest, ValuesOutsideTheirRangeAreReadAgainWithoutNewPrompt) {
  fake.type(
      {"5", "150", "10", "0 51 50 -1 1 9 1001 1000 10 -1 11 10 0 2 121 3 120 20 8 40 29 0 39"});

  runOptionsScreen(game);

  EXPECT_EQ(game.shell.gameSpeed, 10);
  EXPECT_EQ(pilot1.config.hpConfig, 50);
  EXPECT_EQ(pilot2.config.hpConfig, 1);
  EXPECT_EQ(pilot1.config.shieldMax, 1000);
  EXPECT_EQ(pilot2.config.shieldMax, 10);
  EXPECT_EQ(pilot1.config.regenRate, 10);
  EXPECT_EQ(pilot2.config.regenRate, 0);
  EXPECT_EQ(pilot1.config.weaponStrength, 3);
  EXPECT_EQ(pilot2.config.weaponStrength, 120);
  EXPECT_EQ(pilot1.config.ammoLimit, 29);
  EXPECT_EQ(pilot1.ship.nextSlot, 29);
  EXPECT_EQ(pilot2.config.ammoLimit, 39);
  EXPECT_EQ(pilot2.ship.nextSlot, 39);
  EXPECT_EQ(fake.rowsContaining("Gamespeed"), 1);
  EXPECT_EQ(fake.rowsContaining("HP("), 2);
  EXPECT_EQ(fake.rowsContaining("Ammolimit"), 2);
  EXPECT_EQ(fake.row(4), "150");
  EXPECT_EQ(fake.row(5), "10");
}

// A rejected answer never lands in a setting, not even for a moment.
TEST_F(OptionsScreenTest, InputEndingMidwayLeavesOnlyAcceptedValues) {
  fake.type({"30 3 200"});

  EXPECT_THROW(runOptionsScreen(game), SessionEnded);

  EXPECT_EQ(game.shell.gameSpeed, 30);
  EXPECT_EQ(pilot1.config.hpConfig, 3);
  EXPECT_EQ(pilot2.config.hpConfig, 3);
  EXPECT_EQ(pilot2.ship.hp, 3);
}

// --- The three stages of the pilot values, across whole passes ---------------

// What a battle starts with: taken at the first countdown step, after the
// pass has put the ships in order and before the first frame.
struct BattleStart {
  std::int32_t gameSpeed;
  std::int32_t hp[2];
  std::int32_t shields[2];
  std::int32_t weaponStrength[2];
  std::int32_t ammoLimit[2];
  std::int32_t nextSlot[2];
  std::int32_t row[2];
};

// Plays whole passes of the program loop. Each battle is cut short after its
// second frame, as if pilot 2 had been shot down, so that a pass stays quick
// while the ships still move and fire as the keys say.
class PassPlatform : public testing::FakePlatform {
 public:
  using FakePlatform::FakePlatform;

  Game* game = nullptr;
  std::vector<BattleStart> starts;

  unsigned char readKey() override {
    inputSinceLastSleep_ = true;
    return FakePlatform::readKey();
  }
  unsigned char takeWaitingKey() override { return FakePlatform::readKey(); }
  std::string pullLine() override {
    inputSinceLastSleep_ = true;
    return FakePlatform::pullLine();
  }
  void sleep(int milliseconds) override {
    if (inputSinceLastSleep_) {
      starts.push_back(snapshot());
      inputSinceLastSleep_ = false;
    }
    FakePlatform::sleep(milliseconds);
  }
  void frameEnded(int frameNumber) override {
    if (frameNumber == 2) {
      game->duel.right().ship.hp = 0;
    }
  }

 private:
  BattleStart snapshot() const {
    Pilot& left = game->duel.left();
    Pilot& right = game->duel.right();
    return {game->shell.gameSpeed,
            {left.ship.hp, right.ship.hp},
            {left.ship.shields, right.ship.shields},
            {left.config.weaponStrength, right.config.weaponStrength},
            {left.config.ammoLimit, right.config.ammoLimit},
            {left.ship.nextSlot, right.ship.nextSlot},
            {left.ship.row, right.ship.row}};
  }

  bool inputSinceLastSleep_ = false;
};

class PilotStagesTest : public ::testing::Test {
 protected:
  PilotStagesTest() { platform.game = &game; }

  // One pass: title and menu keys, then the keys pilot 1 presses in the
  // battle's two frames.
  void playPass(const std::string& keys, std::initializer_list<std::string> lines) {
    for (char key : keys) {
      platform.keys.push_back(static_cast<unsigned char>(key));
    }
    for (const std::string& line : lines) {
      platform.typedLines.push_back(line);
    }
    runOnePass(game);
    ASSERT_TRUE(platform.keys.empty());
    ASSERT_TRUE(platform.typedLines.empty());
  }
  const BattleStart& lastStart() const { return platform.starts.back(); }

  Screen screen{80, 25};
  PassPlatform platform{screen};
  Console console{screen, platform, platform, platform};
  Game game{console};
};

TEST_F(PilotStagesTest, OptionsHoldUntilArcadeWritesTheDefaultsBack) {
  // Default stage: every pass starts from the default set, wherever the
  // previous battle left the ships.
  playPass("x2ea", {"Ace 1"});
  EXPECT_EQ(lastStart().row[0], 7);
  EXPECT_EQ(game.duel.left().ship.row, 6);
  playPass("x2ea", {"Ace 1"});
  EXPECT_EQ(lastStart().row[0], 7);
  EXPECT_EQ(lastStart().nextSlot[0], 19);

  // The options pass itself still starts in the default stage.
  playPass("x4", {"20 10 1 500 10 0 5 100 3 29 9"});
  EXPECT_EQ(game.shell.configured, 1);
  EXPECT_EQ(game.shell.key, 'x');
  EXPECT_EQ(platform.starts.size(), 2u);  // no battle on the options pass

  // Configured stage: the options hold, and the ship keeps its row.
  playPass("x2ea", {"Ace 1"});
  EXPECT_EQ(lastStart().gameSpeed, 20);
  EXPECT_EQ(lastStart().hp[0], 10);
  EXPECT_EQ(lastStart().hp[1], 1);
  EXPECT_EQ(lastStart().shields[0], 500);
  EXPECT_EQ(lastStart().shields[1], 10);
  EXPECT_EQ(lastStart().weaponStrength[0], 100);
  EXPECT_EQ(lastStart().ammoLimit[0], 29);
  EXPECT_EQ(lastStart().nextSlot[0], 29);
  EXPECT_EQ(lastStart().nextSlot[1], 9);
  EXPECT_EQ(lastStart().row[0], 7);
  std::int32_t rowLeftByBattle = game.duel.left().ship.row;
  std::int32_t nextSlotLeftByBattle = game.duel.left().ship.nextSlot;
  ASSERT_NE(nextSlotLeftByBattle, 29);

  // The next battle starts full again, but where the last one ended.
  playPass("x3ea", {"Ace Bob"});
  EXPECT_EQ(lastStart().hp[0], 10);
  EXPECT_EQ(lastStart().shields[0], 500);
  EXPECT_EQ(lastStart().row[0], rowLeftByBattle);
  EXPECT_EQ(lastStart().nextSlot[0], nextSlotLeftByBattle);

  // Arcade: the defaults and speed 50, whatever the options said.
  playPass("x12ea", {"Ace"});
  EXPECT_EQ(lastStart().gameSpeed, 50);
  EXPECT_EQ(lastStart().hp[0], 3);
  EXPECT_EQ(lastStart().hp[1], 3);
  EXPECT_EQ(lastStart().shields[0], 100);
  EXPECT_EQ(lastStart().weaponStrength[0], 12);
  EXPECT_EQ(lastStart().ammoLimit[1], 19);
  EXPECT_EQ(lastStart().row[0], 7);
  EXPECT_EQ(lastStart().nextSlot[0], 19);
  EXPECT_EQ(game.shell.wins, 1);

  // After the arcade battle the defaults stay, still carried from battle to
  // battle until the options screen is completed again.
  playPass("x2", {"Ace 4"});
  EXPECT_EQ(lastStart().gameSpeed, 50);
  EXPECT_EQ(lastStart().hp[0], 3);
  EXPECT_EQ(lastStart().shields[1], 100);
  EXPECT_EQ(lastStart().row[0], 6);
  EXPECT_EQ(game.shell.configured, 1);
}

}  // namespace
}  // namespace skyrazor
