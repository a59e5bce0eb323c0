#include <gtest/gtest.h>

#include <random>

#include "rollback/battle_snapshot.h"
#include "rollback/frame_pacer.h"
#include "rollback/predicted_battle.h"
#include "rollback/snapshot_bytes.h"
#include "support/duel_self_check.h"

namespace skyrazor {
namespace {

FrameKey pressed(char key) {
  return {true, static_cast<unsigned char>(key)};
}

BattleSnapshot startedDuel(std::uint32_t seed) {
  std::mt19937 dice(seed);
  return testing::randomDuelStart(dice);
}

// The soak's self-check, small: late keys force corrections in almost
// every battle, and both terminals still end on the battle played straight.
TEST(PredictedBattle, EndsOnTheStraightBattleWhateverTheCorrections) {
  std::uint32_t corrections = 0;
  std::uint32_t deepest = 0;
  for (std::uint32_t seed = 1; seed <= 12; ++seed) {
    const testing::DuelSelfCheck check = testing::playDuelSelfCheck(seed, 4000);
    ASSERT_TRUE(check.faults.empty()) << "battle " << seed << ": " << check.faults.front();
    corrections += check.corrections;
    deepest = std::max(deepest, check.deepestCorrection);
  }
  EXPECT_GT(corrections, 100u);
  EXPECT_GE(deepest, 8u);
}

TEST(PredictedBattle, PlaysTheOwnKeyAtOnceAndWaitsWhenTheOtherFallsTooFarBehind) {
  BattleSnapshot start = startedDuel(7);
  start.duel.right().ship.row = 7;
  PredictedBattle right(start, Side::Right, 3);
  right.playOwnFrame(pressed('p'));
  EXPECT_EQ(right.shown().duel.pilots[1].ship.row, 6);
  EXPECT_EQ(right.finalFrames(), 0u);
  right.playOwnFrame({});
  right.playOwnFrame({});
  EXPECT_FALSE(right.mayPlayOn()) << "three frames ahead of the other pilot's keys";

  // A gap in the other's keys is refused; the keys in order make frames final.
  EXPECT_FALSE(right.takeOtherKeys(2, {FrameKey{}}));
  ASSERT_TRUE(right.takeOtherKeys(1, {FrameKey{}, pressed('s')}));
  EXPECT_TRUE(right.mayPlayOn());
  EXPECT_EQ(right.finalFrames(), 2u);
  EXPECT_EQ(right.figures().corrections, 1u);
  EXPECT_EQ(right.figures().deepestCorrection, 2u);
  EXPECT_EQ(right.takeFinalChecksums().size(), 2u);
}

TEST(PredictedBattle, RepairsFromTheHostsBattleAndPlaysItsOwnKeysAgain) {
  const BattleSnapshot start = startedDuel(11);
  BattleSnapshot host = start;
  PredictedBattle left(start, Side::Left, 8);
  for (char key : {'e', 'e', 's'}) {
    left.playOwnFrame(pressed(key));
    playFrame(host, {pressed(key), FrameKey{}});
  }
  // The host had pilot 1's first key and none of pilot 2's; its battle after
  // one frame is the truth, whatever this terminal made of it.
  BattleSnapshot hostAfterOne = start;
  playFrame(hostAfterOne, {pressed('e'), FrameKey{}});
  hostAfterOne.duel.left().ship.shields -= 1;
  EXPECT_FALSE(left.repair(hostAfterOne)) << "before pilot 2's key of frame 1 came here";
  ASSERT_TRUE(left.takeOtherKeys(1, {FrameKey{}}));
  ASSERT_TRUE(left.repair(hostAfterOne));
  EXPECT_EQ(left.figures().repairs, 1u);
  EXPECT_EQ(left.shown().frame, 3u);
  EXPECT_EQ(left.shown().duel.pilots[0].ship.row, host.duel.left().ship.row);
  EXPECT_EQ(left.shown().duel.pilots[0].ship.shields, hostAfterOne.duel.left().ship.shields);
}

TEST(SnapshotBytes, RoundTripsABattleUnderWayAndRefusesWhatTheGameCouldNotReach) {
  BattleSnapshot battle = startedDuel(3);
  for (char key : {'a', 'w', 'a', 'k', 'e'}) {
    playFrame(battle, {pressed(key), pressed('k')});
  }
  const std::optional<std::string> bytes = snapshotBytes(battle);
  ASSERT_TRUE(bytes);
  const std::optional<BattleSnapshot> back = snapshotFromBytes(*bytes);
  ASSERT_TRUE(back);
  EXPECT_EQ(checksumOf(*back), checksumOf(battle));
  EXPECT_EQ(back->name2, battle.name2);

  EXPECT_FALSE(snapshotFromBytes(bytes->substr(0, bytes->size() - 1)));
  EXPECT_FALSE(snapshotFromBytes(*bytes + "x"));
  BattleSnapshot wild = battle;
  wild.duel.left().ship.nextSlot = wild.duel.left().config.ammoLimit + 1;
  EXPECT_FALSE(snapshotFromBytes(*snapshotBytes(wild))) << "a ring slot past the ring";
  wild = battle;
  wild.duel.right().pool[4].symbol = 'Q';
  EXPECT_FALSE(snapshotFromBytes(*snapshotBytes(wild)));
  wild = battle;
  wild.name1.assign(kLongestHandedName + 1, 'n');
  EXPECT_FALSE(snapshotBytes(wild)) << "too long a name is not handed over";
}

TEST(FramePacer, EasesOffOnlyWhenAWholeFrameAheadAndStartsAfreshAfterAWait) {
  FramePacer pacer(50, 1000);
  EXPECT_EQ(pacer.dueMs(3), 1150);
  // The other played frame 8, and its keys took 100 ms: it is at frame 10.
  pacer.keepInStep(10, 8, 100);
  EXPECT_EQ(pacer.dueMs(11), 1550) << "in step: no easing";
  pacer.keepInStep(11, 8, 100);
  const std::int64_t eased = pacer.dueMs(11) - 1550;
  EXPECT_GT(eased, 0);
  EXPECT_LT(eased, 50) << "a fraction of a frame";
  pacer.played(4, 1000 + eased + 4 * 50 + 400);
  EXPECT_EQ(pacer.dueMs(5), 1000 + eased + 4 * 50 + 400 + 50);
}

}  // namespace
}  // namespace skyrazor
