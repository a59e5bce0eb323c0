// What the game tells of itself as plain facts (for a server's lobby), seen
// by a display of its own beside a scripted run of a whole session.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "console/screen.h"
#include "console/seam.h"
#include "platform/scripted/script.h"
#include "platform/scripted/scripted_platform.h"
#include "shell/game_session.h"

namespace skyrazor {
namespace {

using Activity = GameFacts::Activity;

// Sees nothing of the picture, only the facts.
class FactsRecorder final : public Display {
 public:
  void present() override {}
  void tellFacts(const GameFacts& facts) override { told.push_back(facts); }
  std::vector<GameFacts> told;
};

std::vector<GameFacts> factsToldWhilePlaying(const std::string& scriptText) {
  Screen screen(80, 25);
  std::ostringstream dumps;
  ScriptedPlatform run(screen, std::get<Script>(parseScript(scriptText)), DumpOptions{}, 0, dumps);
  FactsRecorder recorder;
  Displays displays;
  displays.add(run);
  displays.add(recorder);
  playGameSession({screen, displays, run, nullptr, run});
  return recorder.told;
}

// The options give pilot 1 five hit points and a laser that kills at once,
// pilot 2 one hit point, at 10 ms a frame: a two-person battle, then one
// against EasyKI. Then an arcade run taken up by a password (Ace, 3 wins),
// whose battle on the standard ships Ace wins with the laser. Pilot 1's
// firing keys are more than the last two battles need; the title and the
// main menu (which waits for a digit) eat those left over.
std::string threeBattles() {
  std::string script =
      "clock 1700000000\n"
      "key x\nkey 4\ntype 10 5 1 10 10 0 0 120 3 20 9 39\n"
      "key x\nkey 3\ntype Alice Bob\n"
      "key w w a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a a\\s\n"
      "wait 12000\n"
      "key x\nkey 2\ntype Carol\ntype 1\n";
  script += "key ww" + std::string(400, 'a') + "\nwait 30000\n";
  script += "key x\nkey 1\nkey 1\ntype CJBAFAADAAAAce\n";
  script += "key ww" + std::string(2000, 'a') + "\nwait 200000\n";
  return script;
}

TEST(GameFactsTest, BattlesAndTheArcadeRunAreToldAsTheyChangeAndTheMenusBetween) {
  const std::vector<GameFacts> expected = {
      // From the first frame of the two-person battle: both names, both
      // ships' hit points, and pilot 2's last one lost.
      {Activity::TwoPersonBattle, "Alice", "Bob", 5, 1, 0, 0},
      {Activity::TwoPersonBattle, "Alice", "Bob", 5, 0, 0, 0},
      // Its result shows at the menus.
      {},
      {Activity::ComputerBattle, "Carol", "EasyKI", 5, 1, 1, 0},
      {Activity::ComputerBattle, "Carol", "EasyKI", 5, 0, 1, 0},
      {},
      // The run is under way from the accepted password on, before its
      // battle; in the battle its opponent (level 7 here) and both ships.
      {Activity::ArcadeRun, "Ace", "", 0, 0, 0, 3},
      {Activity::ArcadeRun, "Ace", "Zapnoid", 3, 3, 7, 3},
      {Activity::ArcadeRun, "Ace", "Zapnoid", 3, 2, 7, 3},
      {Activity::ArcadeRun, "Ace", "Zapnoid", 3, 1, 7, 3},
      {Activity::ArcadeRun, "Ace", "Zapnoid", 3, 0, 7, 3},
      // The win counted while the result shows; back at the title, the menus.
      {Activity::ArcadeRun, "Ace", "", 0, 0, 0, 4},
      {},
  };
  EXPECT_EQ(factsToldWhilePlaying(threeBattles()), expected);
}

}  // namespace
}  // namespace skyrazor
