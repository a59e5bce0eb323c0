#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <variant>

#include "console/screen.h"
#include "console/seam.h"
#include "platform/scripted/replay_platform.h"
#include "platform/scripted/script.h"
#include "support/fake_platform.h"

namespace skyrazor {
namespace {

using testing::FakePlatform;

Script parsed(const std::string& text) {
  return std::get<Script>(parseScript(text));
}

int totalSleptMs(const FakePlatform& live) {
  return std::accumulate(live.sleeps.begin(), live.sleeps.end(), 0);
}

// The live side: its display, its keyboard (only to stop) and its clock.
struct ReplayOnFake {
  explicit ReplayOnFake(const std::string& script, double speed)
      : replay(screen, parsed(script), speed, live, live, live) {}
  Screen screen{80, 25};
  FakePlatform live{screen};
  ReplayPlatform replay;
};

TEST(ReplayPlatformTest, LetsTheScriptsTimePassForRealAtItsSpeedAndEndsWithIt) {
  ReplayOnFake run("key x\nwait 1000\ntype Ace\nwait 500\n", 2);
  EXPECT_EQ(run.replay.readKey(), 'x');
  EXPECT_EQ(totalSleptMs(run.live), 0);
  EXPECT_EQ(run.replay.pullLine(), "Ace\n");  // the line is due 1000 ms later
  EXPECT_EQ(run.screen.cell(0, 0).byte, 'A');
  EXPECT_EQ(totalSleptMs(run.live), 500);
  for (int slept : run.live.sleeps) {
    EXPECT_LE(slept, ReplayPlatform::kSliceMs);
  }
  run.replay.sleep(400);
  EXPECT_EQ(run.replay.nowSeconds(), 1000000001);
  EXPECT_FALSE(run.replay.scriptEnded());
  // Past the script's end: the replay is over, after its time has passed.
  EXPECT_THROW(run.replay.sleep(400), SessionEnded);
  EXPECT_EQ(totalSleptMs(run.live), 900);
  EXPECT_TRUE(run.replay.scriptEnded());

  run.live.keys.push_back(' ');
  run.replay.showEnd();
  EXPECT_TRUE(run.live.keys.empty());
  EXPECT_GT(run.live.presents, 0);
  std::string bottomRow;
  for (int column = 0; column < 32; ++column) {
    bottomRow += static_cast<char>(run.screen.cell(column, 24).byte);
  }
  EXPECT_EQ(bottomRow, "End of the replay: press any key");
}

TEST(ReplayPlatformTest, AKeyStopsItAndTheScriptHasNotEnded) {
  ReplayOnFake run("key x\nwait 1000\nkey y\n", 0.5);
  run.live.keys.push_back('q');
  EXPECT_EQ(run.replay.readKey(), 'x');  // no time passes before it
  EXPECT_THROW(run.replay.readKey(), SessionEnded);
  EXPECT_EQ(totalSleptMs(run.live), 0);
  EXPECT_FALSE(run.replay.scriptEnded());
}

TEST(ReplayPlatformTest, SlowSpeedStretchesTimeAndInputRunningOutEndsTheScript) {
  ReplayOnFake run("key x\nwait 30\nkey y\n", 0.5);
  run.replay.readKey();
  run.replay.readKey();
  EXPECT_EQ(totalSleptMs(run.live), 60);
  EXPECT_THROW(run.replay.readKey(), SessionEnded);
  EXPECT_TRUE(run.replay.scriptEnded());
}

}  // namespace
}  // namespace skyrazor
