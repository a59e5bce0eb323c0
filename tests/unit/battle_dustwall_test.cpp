#include <gtest/gtest.h>

#include <cstdint>
#include <utility>

#include "battle/dustwall.h"
#include "battle/state.h"
#include "console/random.h"
#include "support/fake_platform.h"

namespace skyrazor {
namespace {

class DustWallTest : public ::testing::Test {
 protected:
  DustWallTest() {
    applyDefaultSet(duel);
    rearmShips(duel);
    resetPools(duel);
    random.seed(20240611);
  }

  void place(Pilot& owner, int slot, std::int32_t col, std::int32_t row = 7) {
    owner.pool[static_cast<std::size_t>(slot)] = Projectile{symbol::kMachineBolt, col, row};
  }
  bool emptyAndParked(const Pilot& owner, int slot) const {
    const Projectile& projectile = owner.pool[static_cast<std::size_t>(slot)];
    return projectile.symbol == ' ' && projectile.col == 3 && projectile.row == 20;
  }

  // The cells a wall should show, replayed from a second generator seeded
  // the same: rows 11 up to 3, two cells a row, one roll each.
  void expectWall(Random& replay, std::pair<int, int> columns) {
    for (int row = 11; row >= 3; --row) {
      for (int col : {columns.first, columns.second}) {
        const unsigned char dust = replay.next() % 2 == 0 ? 0xB0 : 0xB1;
        EXPECT_EQ(io.byteAt(col, row), dust) << "column " << col << " row " << row;
        EXPECT_EQ(io.colorAt(col, row), 8) << "column " << col << " row " << row;
      }
    }
  }

  Duel duel;
  Pilot& left = duel.left();
  Pilot& right = duel.right();
  Random random;
  testing::FakeConsole io;
};

TEST_F(DustWallTest, StepDoesNothingWithoutAWall) {
  left.ship.shields = 10;
  place(right, 19, 4);
  place(left, 19, 39);
  applyDustWalls(duel);
  EXPECT_EQ(left.ship.shields, 10);
  EXPECT_FALSE(right.pool[19].empty());
  EXPECT_FALSE(left.pool[19].empty());
}

TEST_F(DustWallTest, RefillAddsANinetiethOfShieldMaxWhileBelowIt) {
  left.ship.dustWallTimer = 50;
  left.ship.shields = 0;
  right.ship.dustWallTimer = 10;
  right.config.shieldMax = 50;  // below 90 the refill is nothing
  right.ship.shields = 20;
  applyDustWalls(duel);
  EXPECT_EQ(left.ship.shields, 1);
  EXPECT_EQ(right.ship.shields, 20);
  EXPECT_EQ(left.ship.dustWallTimer, 50);  // only the drawing counts it down

  left.ship.shields = 100;
  applyDustWalls(duel);
  EXPECT_EQ(left.ship.shields, 100);

  right.config.shieldMax = 1000;  // the last refill may overshoot
  right.ship.shields = 995;
  applyDustWalls(duel);
  applyDustWalls(duel);
  EXPECT_EQ(right.ship.shields, 1006);
}

TEST_F(DustWallTest, PilotOnesWallWipesEnemyShotsInColumnsFiveAndLower) {
  left.ship.dustWallTimer = 30;
  place(right, 39, 5);  // also a slot above the firing ring
  place(right, 10, 6);
  place(right, 9, 4, 3);
  place(right, 0, 3, 11);
  place(left, 19, 4);  // never its own ship's shots
  applyDustWalls(duel);
  EXPECT_TRUE(emptyAndParked(right, 39));
  EXPECT_TRUE(emptyAndParked(right, 9));
  EXPECT_TRUE(emptyAndParked(right, 0));
  EXPECT_EQ(right.pool[10].col, 6);
  EXPECT_FALSE(left.pool[19].empty());
}

TEST_F(DustWallTest, PilotTwosWallWipesEnemyShotsInColumnsThirtyEightAndHigher) {
  right.ship.dustWallTimer = 1;
  place(left, 19, 37);
  place(left, 18, 38);
  place(left, 17, 40, 2);
  place(left, 16, 41);  // a rocket still in its launch column
  place(right, 19, 39);
  applyDustWalls(duel);
  EXPECT_EQ(left.pool[19].col, 37);
  EXPECT_TRUE(emptyAndParked(left, 18));
  EXPECT_TRUE(emptyAndParked(left, 17));
  EXPECT_TRUE(emptyAndParked(left, 16));
  EXPECT_FALSE(right.pool[19].empty());
}

TEST_F(DustWallTest, DrawingWithoutAWallOnlySetsTheDustColour) {
  const std::uint32_t stateBefore = random.state();
  drawDustWalls(io.console, random, duel);
  EXPECT_EQ(io.screen.attribute() & 0x0F, 8);
  EXPECT_EQ(random.state(), stateBefore);
  for (int row = 1; row <= 25; ++row) {
    EXPECT_EQ(io.row(row), "") << "row " << row;
  }
}

TEST_F(DustWallTest, EachWallIsDrawnFromTheBottomRowUpWithARollPerCell) {
  Random replay = random;
  left.ship.dustWallTimer = 100;
  drawDustWalls(io.console, random, duel);
  EXPECT_EQ(left.ship.dustWallTimer, 99);
  expectWall(replay, {3, 4});
  EXPECT_EQ(random.state(), replay.state());  // 18 rolls, no more
  EXPECT_EQ(io.row(2), "");
  EXPECT_EQ(io.row(12), "");
  EXPECT_EQ(io.byteAt(5, 7), ' ');

  right.ship.dustWallTimer = 1;
  drawDustWalls(io.console, random, duel);
  expectWall(replay, {3, 4});
  expectWall(replay, {40, 39});  // pilot 1's wall takes its rolls first
  EXPECT_EQ(random.state(), replay.state());
  EXPECT_EQ(left.ship.dustWallTimer, 98);
  EXPECT_EQ(right.ship.dustWallTimer, 0);
}

// From the frame in which the hit point was lost (the timer just set to 100,
// after that frame's dust-wall step) the wall is drawn in 100 frames and
// refills and protects in the 99 frames after the first.
TEST_F(DustWallTest, WallLivesAHundredFramesAndRefillsInNinetyNine) {
  right.ship.shields = 0;
  right.ship.dustWallTimer = 100;
  drawDustWalls(io.console, random, duel);  // frame N
  int framesDrawn = 1;
  int framesProtected = 0;
  for (int frame = 1; frame <= 120; ++frame) {
    place(left, 19, 40);
    applyDustWalls(duel);
    framesProtected += left.pool[19].empty() ? 1 : 0;
    const std::uint32_t stateBefore = random.state();
    drawDustWalls(io.console, random, duel);
    framesDrawn += random.state() != stateBefore ? 1 : 0;
  }
  EXPECT_EQ(framesDrawn, 100);
  EXPECT_EQ(framesProtected, 99);
  EXPECT_EQ(right.ship.shields, 99);
  EXPECT_EQ(right.ship.dustWallTimer, 0);
}

}  // namespace
}  // namespace skyrazor
