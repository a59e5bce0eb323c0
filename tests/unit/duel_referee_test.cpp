#include "server/duel_referee.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "battle/frame_loop.h"
#include "rollback/battle_snapshot.h"
#include "rollback/snapshot_bytes.h"
#include "support/duel_self_check.h"

namespace skyrazor::network {
namespace {

constexpr std::int64_t kLinkDelayMs = 100;  // each way: a 200 ms round trip

// Pilot 2's terminal at the far end of a slow link, and the host's own
// pilot: both press random keys, pilot 2's reach the game a round trip after
// the frame they were played in. Time is the test's own: a wait jumps to its
// deadline.
class FarPilot final : public DuelTerminals, public KeySource, public HostPilot {
 public:
  explicit FarPilot(std::uint32_t seed) : dice_(seed) {}

  // DuelTerminals
  bool beginDuel(std::uint16_t correctionFrames, std::uint32_t, const std::string&) override {
    correctionFrames_ = correctionFrames;
    beganMs_ = nowMs_;
    return true;
  }
  void sendFrameKeys(int ship, const FrameKeys& keys) override {
    EXPECT_EQ(ship, 1);
    hostKeysSent_ += keys.keys.size();
  }
  void sendRepair(int ship, const BattleRepair& repair) override {
    repairs_.emplace_back(ship, repair.frame);
  }
  void endDuel(std::uint32_t frames) override { endedAfter_ = frames; }
  DuelNews takeDuelNews() override {
    if (rushing_) {  // a terminal that sends a second of keys at once
      rushing_ = false;
      DuelNews rush;
      rush.keys[1].push_back({1, 0, std::vector<FrameKey>(20)});
      return rush;
    }
    DuelNews news;
    // Pilot 2 plays frame n when it is due at its end, and its key takes the
    // link's delay to come.
    while (pilot2Played_ < 200 && beganMs_ + (pilot2Played_ + 1) * 50 + kLinkDelayMs <= nowMs_) {
      ++pilot2Played_;
      const FrameKey key = testing::randomKey(dice_);
      pilot2Keys_[pilot2Played_] = key;
      news.keys[1].push_back({pilot2Played_, kLinkDelayMs, {key}});
    }
    news.checksums[1] = std::move(checksums_);
    checksums_.clear();
    return news;
  }

  // KeySource
  std::int64_t wallMs() override { return nowMs_; }
  void waitUntil(std::int64_t deadlineMs) override { nowMs_ = std::max(nowMs_ + 1, deadlineMs); }
  bool waitForInput() override { return false; }
  void takeTyped(std::string&, bool) override {}

  // HostPilot
  FrameKey takeKey() override {
    const FrameKey key = testing::randomKey(dice_);
    hostKeys_[++hostPlayed_] = key;
    return key;
  }
  void show(const Screen&) override { ++shown_; }
  void duelOver() override {}

  void claimChecksum(std::uint32_t frame, std::uint32_t checksum) {
    checksums_.push_back({frame, {checksum}});
  }

  std::mt19937 dice_;
  std::int64_t nowMs_ = 1'000'000;
  std::int64_t beganMs_ = 0;
  std::uint16_t correctionFrames_ = 0;
  std::uint32_t pilot2Played_ = 0;
  std::uint32_t hostPlayed_ = 0;
  std::map<std::uint32_t, FrameKey> pilot2Keys_;
  std::map<std::uint32_t, FrameKey> hostKeys_;
  std::size_t hostKeysSent_ = 0;
  std::vector<FrameChecksums> checksums_;
  std::vector<std::pair<int, std::uint32_t>> repairs_;
  std::uint32_t endedAfter_ = 0;
  int shown_ = 0;
  bool rushing_ = false;
};

// The game's own seams under the referee: a clock that only counts, and
// keyboards holding a key typed before the battle, which the duel drops, and
// never read in it.
class GameSeams final : public Display, public Clock, public Keyboard {
 public:
  void present() override {}
  void sleep(int milliseconds) override { nowMs_ += milliseconds; }
  std::int64_t nowMs() override { return nowMs_; }
  unsigned char readKey() override { return 0; }
  bool keyWaiting() override {
    EXPECT_FALSE(inDuel_) << "a live keyboard was read in a duel";
    return typedBefore_ > 0;
  }
  unsigned char takeWaitingKey() override {
    --typedBefore_;
    return 'k';
  }
  std::string pullLine() override { return "\n"; }
  std::int64_t nowMs_ = 0;
  int typedBefore_ = 2;
  bool inDuel_ = false;
};

// The game's battle from a start, played on the referee's clock and
// keyboards, and the referee told it has begun.
struct RefereedBattle {
  RefereedBattle(const BattleSnapshot& start, FarPilot& far, GameSeams& seams)
      : referee(far, far, seams, seams, seams, &far,
                [this](const std::string& line) { log.push_back(line); }),
        screen(start.screen),
        console(screen, seams, referee.firstKeyboard(), &referee.secondKeyboard(), referee.clock()),
        duel(start.duel),
        settings{start.name1, start.name2, start.gameSpeed, 0, start.key} {
    random.seed(start.randomState);
    referee.battleBegins(console, random, settings, duel);
  }
  std::vector<std::string> log;
  DuelReferee referee;
  Screen screen;
  Console console;
  Random random;
  Duel duel;
  BattleSettings settings;
};

TEST(DuelReferee, TheGameTakesEachPilotsKeysInTheFramesTheirTerminalsPlayedThem) {
  std::mt19937 dice(5);
  BattleSnapshot start = testing::randomDuelStart(dice);
  for (Pilot& pilot : start.duel.pilots) {
    pilot.config.hpConfig = 50;  // a battle that lasts the test's frames
    pilot.ship.hp = 50;
  }
  FarPilot far(9);
  GameSeams seams;
  RefereedBattle game(start, far, seams);
  DuelReferee& referee = game.referee;
  ASSERT_TRUE(referee.inDuel());
  seams.inDuel_ = true;
  EXPECT_EQ(seams.typedBefore_, 0);
  EXPECT_EQ(far.correctionFrames_, 8);

  BattleSnapshot straight = start;
  for (std::uint32_t frame = 1; frame <= 120; ++frame) {
    runBattleFrame(game.console, game.random, game.settings, game.duel);
    referee.frameDone(static_cast<int>(frame));
    ASSERT_TRUE(far.hostKeys_.count(frame) && far.pilot2Keys_.count(frame));
    playFrame(straight, {far.hostKeys_[frame], far.pilot2Keys_[frame]});
    BattleSnapshot played = snapshotOf(game.screen, game.random.state(), game.settings, game.duel);
    played.frame = frame;
    ASSERT_EQ(checksumOf(played), checksumOf(straight)) << "frame " << frame;
    if (frame == 60) {
      far.claimChecksum(59, checksumOf(straight) + 1);
    }
  }
  // The host's pilot played ahead of the game, never by more than a
  // correction reaches, and each frame's key went to pilot 2 at once.
  EXPECT_GT(far.hostPlayed_, 120u);
  EXPECT_LE(far.hostPlayed_, 120u + 8u);
  EXPECT_EQ(far.hostKeysSent_, far.hostPlayed_);
  EXPECT_GT(far.shown_, 120);
  // The game's clock moved a frame's pause a frame, whatever the waits.
  EXPECT_EQ(seams.nowMs_, 120 * start.gameSpeed);
  ASSERT_EQ(far.repairs_.size(), 1u) << "the terminal that claimed a wrong frame is repaired";
  EXPECT_EQ(far.repairs_.front().first, 1);

  referee.battleEnded(120);
  EXPECT_FALSE(referee.inDuel());
  EXPECT_EQ(far.endedAfter_, 120u);
  EXPECT_NE(game.log.back().find("frames=120"), std::string::npos) << game.log.back();
  EXPECT_NE(game.log.back().find("repairs=1"), std::string::npos) << game.log.back();
}

// A pilot's terminal plays no further ahead of the other's keys than a
// correction reaches: one whose keys come further ahead ends the game.duel, and
// the battle goes on as any network game's.
TEST(DuelReferee, GivesTheDuelUpWhenATerminalRunsFarAhead) {
  std::mt19937 dice(3);
  const BattleSnapshot start = testing::randomDuelStart(dice);
  FarPilot far(4);
  far.rushing_ = true;
  GameSeams seams;
  seams.typedBefore_ = 0;
  RefereedBattle game(start, far, seams);
  ASSERT_TRUE(game.referee.inDuel());
  game.referee.clock().sleep(start.gameSpeed);
  EXPECT_FALSE(game.referee.inDuel());
  EXPECT_EQ(far.endedAfter_, 1u);
  EXPECT_NE(game.log[game.log.size() - 2].find("ran too far ahead"), std::string::npos);
}

}  // namespace
}  // namespace skyrazor::network
