#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "battle/frame_loop.h"
#include "console/random.h"
#include "support/fake_platform.h"

namespace skyrazor {
namespace {

// The fake platform, also noting where the cursor stood and which colour was
// set at each pause, and letting a test step in at the end of each frame.
class BattlePlatform : public testing::FakePlatform {
 public:
  explicit BattlePlatform(Screen& screen) : FakePlatform(screen), screen_(screen) {}

  struct Pause {
    int milliseconds;
    int col;  // 1-based
    int row;
    int color;
  };
  std::vector<Pause> pauses;
  std::function<void(int)> onFrameEnded;

  void frameEnded(int frameNumber) override {
    FakePlatform::frameEnded(frameNumber);
    if (onFrameEnded) {
      onFrameEnded(frameNumber);
    }
  }
  void sleep(int milliseconds) override {
    pauses.push_back({milliseconds, screen_.cursorColumn() + 1, screen_.cursorRow() + 1,
                      screen_.attribute() & 0x0F});
    FakePlatform::sleep(milliseconds);
  }

 private:
  const Screen& screen_;
};

class BattleFrameTest : public ::testing::Test {
 protected:
  BattleFrameTest() {
    applyDefaultSet(duel);
    rearmShips(duel);
    resetBattleCounters(duel);
    resetPools(duel);
    settings.name1 = "Alice";
    settings.name2 = "Bob";
    settings.key = '3';  // the menu digit that started the match
    random.seed(4242);
  }

  // Runs a battle that the test ends after `frames` frames by taking pilot
  // 1's last hit point at the frame-end hook.
  void runFrames(int frames) {
    platform.onFrameEnded = [this, frames](int frameNumber) {
      rowsAtFrameEnd.push_back(screenRows());
      if (frameNumber == frames) {
        duel.left().ship.hp = 0;
      }
    };
    runBattle(console, random, settings, duel);
  }

  std::vector<std::string> screenRows() const {
    std::vector<std::string> rows;
    for (int row = 1; row <= screen.rows(); ++row) {
      rows.push_back(textAt(1, row, screen.columns()));
    }
    return rows;
  }
  std::string textAt(int col, int row, int length) const {
    std::string text;
    for (int offset = 0; offset < length; ++offset) {
      text += static_cast<char>(screen.cell(col - 1 + offset, row - 1).byte);
    }
    return text;
  }
  unsigned char byteAt(int col, int row) const { return screen.cell(col - 1, row - 1).byte; }
  int colorAt(int col, int row) const { return screen.cell(col - 1, row - 1).attribute & 0x0F; }
  void expectColor(int col, int row, int length, int color) const {
    for (int offset = 0; offset < length; ++offset) {
      EXPECT_EQ(colorAt(col + offset, row), color) << "column " << col + offset << " row " << row;
    }
  }

  Screen screen{80, 25};
  BattlePlatform platform{screen};
  Console console{screen, platform, platform, platform};
  BattleSettings settings;
  Duel duel;
  Random random;
  std::vector<std::vector<std::string>> rowsAtFrameEnd;
};

TEST_F(BattleFrameTest, ShipWithoutHitPointsEndsTheBattleBeforeTheFirstFrame) {
  for (std::int32_t lostHitPoints : {0, -1}) {
    for (Side side : {Side::Left, Side::Right}) {
      rearmShips(duel);
      duel.pilot(side).ship.hp = lostHitPoints;
      platform.keys = {'s'};
      runBattle(console, random, settings, duel);
      EXPECT_TRUE(platform.pauses.empty());
      EXPECT_TRUE(platform.endedFrames.empty());
      EXPECT_EQ(platform.keys.size(), 1u);
      EXPECT_EQ(screenRows(), std::vector<std::string>(25, std::string(80, ' ')));
    }
  }
}

TEST_F(BattleFrameTest, EachFramePausesInWhiteAtTheTopLeftAndEndsAtTheNumberedHook) {
  settings.gameSpeed = 37;
  screen.setAttribute(0x0C);
  runFrames(3);
  ASSERT_EQ(platform.pauses.size(), 3u);
  for (const BattlePlatform::Pause& pause : platform.pauses) {
    EXPECT_EQ(pause.milliseconds, 37);
    EXPECT_EQ(pause.col, 1);
    EXPECT_EQ(pause.row, 1);
    EXPECT_EQ(pause.color, 15);
  }
  EXPECT_EQ(platform.endedFrames, (std::vector<int>{1, 2, 3}));

  rearmShips(duel);  // the next battle counts from 1 again
  runFrames(2);
  EXPECT_EQ(platform.endedFrames, (std::vector<int>{1, 2, 3, 1, 2}));
}

TEST_F(BattleFrameTest, FrameDrawsBorderStatusLinesAndShips) {
  runFrames(1);
  const std::string horizontal(38, '\xC4');
  EXPECT_EQ(textAt(2, 2, 40), "\xDA" + horizontal + "\xBF");
  EXPECT_EQ(textAt(2, 12, 40), "\xC0" + horizontal + "\xD9");
  for (int row = 3; row <= 11; ++row) {
    EXPECT_EQ(byteAt(2, row), 0xB3) << "row " << row;
    EXPECT_EQ(byteAt(41, row), 0xB3) << "row " << row;
  }
  expectColor(2, 2, 40, 15);
  expectColor(2, 12, 40, 15);

  const std::string pilotOneLine = "Alice: Shields(100) HP(3) Weaptype(1)        ";
  EXPECT_EQ(textAt(1, 1, 80), " " + pilotOneLine + std::string(80 - 1 - pilotOneLine.size(), ' '));
  expectColor(2, 1, static_cast<int>(pilotOneLine.size()), 10);
  const std::string pilotTwoLine =
      "Bob: Shields(100) HP(3) Weaptype(1)                               ";
  EXPECT_EQ(textAt(2, 13, static_cast<int>(pilotTwoLine.size())), pilotTwoLine);
  expectColor(2, 13, static_cast<int>(pilotTwoLine.size()), 12);

  EXPECT_EQ(byteAt(3, 7), '>');
  EXPECT_EQ(colorAt(3, 7), 10);
  EXPECT_EQ(byteAt(40, 7), '<');
  EXPECT_EQ(colorAt(40, 7), 12);
  EXPECT_EQ(textAt(4, 7, 36), std::string(36, ' '));
  expectColor(4, 7, 36, 15);

  // The frame-end counters leave white set for the next frame.
  EXPECT_EQ(screen.attribute() & 0x0F, 15);
}

TEST_F(BattleFrameTest, ClearingWipesTheInteriorAndNothingElse) {
  for (int row = 1; row <= 14; ++row) {
    console.gotoXY(1, row);
    console.print(std::string(45, '#'));
  }
  runFrames(1);
  for (int row = 3; row <= 11; ++row) {
    const std::string interior = textAt(3, row, 38);
    EXPECT_EQ(interior.find('#'), std::string::npos) << "row " << row << ": " << interior;
    EXPECT_EQ(textAt(42, row, 4), "####") << "row " << row;
    EXPECT_EQ(byteAt(1, row), '#') << "row " << row;
  }
  EXPECT_EQ(byteAt(1, 1), '#');
  EXPECT_EQ(byteAt(1, 13), '#');
  EXPECT_EQ(textAt(1, 14, 45), std::string(45, '#'));
}

TEST_F(BattleFrameTest, StatusLinesArePrintedWholeAndLeaveNoStaleCharacters) {
  settings.name2 = "ErrorInNameSettings-TheUnknownNoname";
  runFrames(1);
  EXPECT_EQ(textAt(2, 13, 58), "ErrorInNameSettings-TheUnknownNoname: Shields(100) HP(3) W");

  duel.left().ship.shields = 99;
  duel.left().ship.hp = 3;
  settings.name1 = "Al";  // with 99 shields, four characters shorter than before
  settings.name2 = "Bob";
  duel.right().ship.shields = 7;
  runFrames(1);
  EXPECT_EQ(textAt(1, 1, 80), " Al: Shields(99) HP(3) Weaptype(1)" + std::string(46, ' '));
  EXPECT_EQ(textAt(1, 13, 65), " Bob: Shields(7) HP(3) Weaptype(1)" + std::string(31, ' '));
}

TEST_F(BattleFrameTest, MovesAndWeaponSwitchesShowInTheNextFrame) {
  // Keys typed during the countdown: one is read per phase.
  platform.keys = {'s', 'o', 'e'};
  runFrames(2);
  ASSERT_EQ(rowsAtFrameEnd.size(), 2u);
  const std::vector<std::string>& first = rowsAtFrameEnd[0];
  EXPECT_EQ(first[6][2], '>');
  EXPECT_EQ(first[7][2], ' ');
  EXPECT_EQ(first[12].substr(1, 35), "Bob: Shields(100) HP(3) Weaptype(1)");

  const std::vector<std::string>& second = rowsAtFrameEnd[1];
  EXPECT_EQ(second[6][2], ' ');  // pilot 1 moved down in frame 1 ...
  EXPECT_EQ(second[7][2], '>');
  EXPECT_EQ(second[12].substr(1, 35), "Bob: Shields(100) HP(3) Weaptype(2)");
  // ... and back up in frame 2, which shows only in frame 3.
  EXPECT_EQ(duel.left().ship.row, 7);
  EXPECT_EQ(duel.right().ship.weaponType, 2);
}

TEST_F(BattleFrameTest, StandingWallSweepsBeforeTheProjectilePassesAndCoversItsShip) {
  duel.right().ship.dustWallTimer = 10;
  duel.right().ship.shields = 95;
  // A bolt on pilot 2's row in its end column would strike in this pass.
  duel.left().pool[19] = Projectile{symbol::kMachineBolt, 40, 7};
  Random replay = random;
  runFrames(1);

  EXPECT_TRUE(duel.left().pool[19].empty());
  EXPECT_EQ(duel.right().ship.shields, 96);
  EXPECT_EQ(duel.right().ship.hp, 3);
  EXPECT_EQ(duel.right().ship.dustWallTimer, 9);
  for (int row = 11; row >= 3; --row) {
    for (int col : {40, 39}) {
      const unsigned char dust = replay.next() % 2 == 0 ? 0xB0 : 0xB1;
      EXPECT_EQ(byteAt(col, row), dust) << "column " << col << " row " << row;
      EXPECT_EQ(colorAt(col, row), 8) << "column " << col << " row " << row;
    }
  }
  EXPECT_EQ(random.state(), replay.state());
}

TEST_F(BattleFrameTest, BothShipsCanLoseTheirLastHitPointInOneFrame) {
  for (Pilot& pilot : duel.pilots) {
    pilot.ship.hp = 1;
    pilot.ship.shields = 0;
  }
  duel.left().pool[19] = Projectile{symbol::kMachineBolt, 40, 7};
  duel.right().pool[19] = Projectile{symbol::kMachineBolt, 3, 7};
  runFrames(2);  // stops a battle that wrongly goes on
  EXPECT_EQ(platform.endedFrames, (std::vector<int>{1}));
  EXPECT_EQ(duel.left().ship.hp, 0);
  EXPECT_EQ(duel.right().ship.hp, 0);
}

}  // namespace
}  // namespace skyrazor
