#include "battle/promises.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace skyrazor {
namespace {

Duel readyDuel() {
  Duel duel;
  applyDefaultSet(duel);
  rearmShips(duel);
  resetBattleCounters(duel);
  resetPools(duel);
  return duel;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line + "\n";
  }
  return text;
}

TEST(BattlePromisesTest, AFreshDuelKeepsThemAll) {
  EXPECT_EQ(joined(brokenBattlePromises(readyDuel())), "");
}

struct Edge {
  const char* what;
  std::function<void(Duel&)> change;
};

// The edges of what a battle may do: none of these is a broken promise.
TEST(BattlePromisesTest, TheBattlesOwnExtremesAreKept) {
  const std::vector<Edge> edges = {
      {"ship on the top row", [](Duel& d) { d.left().ship.row = 3; }},
      {"ship on the bottom row", [](Duel& d) { d.right().ship.row = 11; }},
      {"no hit points left", [](Duel& d) { d.left().ship.hp = 0; }},
      {"shields one refill step over the top",
       [](Duel& d) {
         d.right().config.shieldMax = 1000;
         d.right().ship.shields = 1011;
       }},
      {"rocket launched behind the left ship",
       [](Duel& d) {
         d.left().pool[19] = Projectile{symbol::kRocket, 2, 7};
       }},
      {"rocket launched behind the right ship",
       [](Duel& d) {
         d.right().pool[19] = Projectile{symbol::kRocket, 41, 3};
       }},
      {"the whole ring of 40 filled",
       [](Duel& d) {
         d.left().config.ammoLimit = 39;
         d.left().ship.nextSlot = 0;
         d.left().pool[39] = Projectile{symbol::kLaser, 6, 11};
       }},
      {"a fresh dust wall and the last regeneration tick",
       [](Duel& d) {
         d.left().ship.dustWallTimer = 100;
         d.regenTick = 19;
       }},
  };
  for (const Edge& edge : edges) {
    Duel duel = readyDuel();
    edge.change(duel);
    EXPECT_EQ(joined(brokenBattlePromises(duel)), "") << edge.what;
  }
}

struct Breach {
  std::function<void(Duel&)> change;
  const char* expected;  // the one line reported
};

TEST(BattlePromisesTest, EachBrokenPromiseIsNamedWithItsPilotAndSlot) {
  const std::vector<Breach> breaches = {
      {[](Duel& d) { d.left().ship.row = 2; }, "pilot 1: ship outside rows 3..11"},
      {[](Duel& d) { d.right().ship.row = 12; }, "pilot 2: ship outside rows 3..11"},
      {[](Duel& d) { d.right().ship.col = 39; }, "pilot 2: ship left its column"},
      {[](Duel& d) { d.left().ship.hp = -1; }, "pilot 1: hit points outside 0..hpConfig"},
      {[](Duel& d) { d.left().ship.hp = 4; }, "pilot 1: hit points outside 0..hpConfig"},
      {[](Duel& d) { d.right().ship.shields = -1; }, "pilot 2: shields below 0"},
      {[](Duel& d) { d.right().ship.shields = 102; },
       "pilot 2: shields above shieldMax and one refill step"},
      {[](Duel& d) { d.left().ship.weaponType = 6; }, "pilot 1: weapon outside 1..5"},
      {[](Duel& d) { d.left().ship.dustWallTimer = 101; },
       "pilot 1: dust wall timer outside 0..100"},
      {[](Duel& d) { d.left().ship.nextSlot = 20; }, "pilot 1: nextSlot outside 0..ammoLimit"},
      {[](Duel& d) { d.right().ship.nextSlot = -1; }, "pilot 2: nextSlot outside 0..ammoLimit"},
      {[](Duel& d) {
         d.right().pool[20] = Projectile{symbol::kBomb, 20, 7};
       },
       "pilot 2: slot 20 above ammoLimit is filled"},
      {[](Duel& d) { d.left().pool[5].row = 11; },
       "pilot 1: slot 5 is empty but not parked at (3, 20)"},
      {[](Duel& d) {
         d.left().pool[0] = Projectile{symbol::kIon, 20, 12};
       },
       "pilot 1: slot 0 flies outside rows 3..11"},
      {[](Duel& d) {
         d.right().pool[3] = Projectile{symbol::kMachineBolt, 42, 5};
       },
       "pilot 2: slot 3 flies outside columns 2..41"},
      {[](Duel& d) { d.regenTick = 20; }, "both pilots: regeneration tick outside 0..19"},
  };
  for (const Breach& breach : breaches) {
    Duel duel = readyDuel();
    breach.change(duel);
    EXPECT_EQ(joined(brokenBattlePromises(duel)), std::string(breach.expected) + "\n");
  }
}

}  // namespace
}  // namespace skyrazor
