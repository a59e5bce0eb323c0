#pragma once

// Random two-person battles played at both pilots' terminals with the other
// pilot's keys arriving 1 to 8 frames late, so that every key pressed forces
// a correction, and played straight with the same keys. Every frame a
// terminal counts final must be the straight battle's frame, and both must
// end on the straight battle's last frame. Shared by the soak's self-check and the tests.

#include <algorithm>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "rollback/battle_snapshot.h"
#include "rollback/predicted_battle.h"
#include "rollback/snapshot_bytes.h"

namespace skyrazor::testing {

struct DuelSelfCheck {
  std::uint32_t frames = 0;
  std::uint32_t corrections = 0;
  std::uint32_t deepestCorrection = 0;
  std::vector<std::string> faults;  // empty when both terminals kept to the battle
};

// A battle set up as a two-person match is, with ships of random settings.
inline BattleSnapshot randomDuelStart(std::mt19937& dice) {
  BattleSnapshot battle;
  constexpr std::int32_t kAmmoLimits[] = {9, 19, 29, 39};
  for (Pilot& pilot : battle.duel.pilots) {
    pilot.config.hpConfig = static_cast<std::int32_t>(1 + dice() % 3);
    pilot.config.shieldMax = static_cast<std::int32_t>(10 + dice() % 200);
    pilot.config.regenRate = static_cast<std::int32_t>(dice() % 4);
    pilot.config.weaponStrength = static_cast<std::int32_t>(3 + dice() % 60);
    pilot.config.ammoLimit = kAmmoLimits[dice() % 4];
  }
  rearmShips(battle.duel);
  for (Pilot& pilot : battle.duel.pilots) {
    pilot.ship.row = static_cast<std::int32_t>(arena::kTopRow + dice() % 9);
    pilot.ship.nextSlot = pilot.config.ammoLimit;
  }
  battle.duel.left().ship.col = arena::kLeftColumn;
  battle.duel.right().ship.col = arena::kRightColumn;
  resetBattleCounters(battle.duel);
  resetPools(battle.duel);
  battle.name1 = "Ann";
  battle.name2 = "Bob";
  battle.gameSpeed = 50;
  battle.key = '3';
  battle.randomState = dice();
  return battle;
}

// A pilot at a keyboard of their own: either letter set, or often nothing.
inline FrameKey randomKey(std::mt19937& dice) {
  static constexpr char kChoices[] = "eswapolkEx";
  const std::uint32_t roll = dice() % 24;
  if (roll >= 10) {
    return {};
  }
  return {true, static_cast<unsigned char>(kChoices[roll])};
}

// One terminal of the self-check: its own keys at once, the other's late.
class LateTerminal {
 public:
  LateTerminal(const BattleSnapshot& start, Side own, std::uint32_t seed)
      : battle_(start, own, 8), dice_(seed) {}

  PredictedBattle& battle() { return battle_; }
  const std::vector<FrameKey>& played() const { return played_; }

  // At tick `tick`: takes in the other terminal's keys that have arrived,
  // then plays its next frame if it may, and says which key it played.
  std::optional<FrameKey> tick(std::uint32_t tick, std::mt19937& keyDice) {
    while (!inFlight_.empty() && inFlight_.front().arrival <= tick) {
      battle_.takeOtherKeys(battle_.otherKnownFrames() + 1, {inFlight_.front().key});
      inFlight_.pop_front();
    }
    if (!battle_.mayPlayOn()) {
      return std::nullopt;
    }
    const FrameKey key = randomKey(keyDice);
    battle_.playOwnFrame(key);
    played_.push_back(key);
    return key;
  }
  // The other terminal played `key` at `tick`: it arrives here 1 to 8 ticks
  // later, never overtaking an earlier one.
  void send(std::uint32_t tick, FrameKey key) {
    lastArrival_ = std::max(static_cast<std::uint32_t>(tick + 1 + dice_() % 8), lastArrival_);
    inFlight_.push_back({lastArrival_, key});
  }
  bool keysInFlight() const { return !inFlight_.empty(); }

 private:
  struct Flying {
    std::uint32_t arrival;
    FrameKey key;
  };
  PredictedBattle battle_;
  std::mt19937 dice_;
  std::deque<Flying> inFlight_;
  std::vector<FrameKey> played_;
  std::uint32_t lastArrival_ = 0;
};

// The battle of the keys both terminals played, played straight: each
// frame's checksum, and its end.
class StraightBattle {
 public:
  explicit StraightBattle(const BattleSnapshot& start) : battle_(start) {}
  void catchUp(const std::vector<FrameKey>& left, const std::vector<FrameKey>& right) {
    while (battleGoesOn(battle_) && battle_.frame < std::min(left.size(), right.size())) {
      playFrame(battle_, {left[battle_.frame], right[battle_.frame]});
      checksums_.push_back(checksumOf(battle_));
    }
  }
  const BattleSnapshot& battle() const { return battle_; }
  const std::vector<std::uint32_t>& checksums() const { return checksums_; }

 private:
  BattleSnapshot battle_;
  std::vector<std::uint32_t> checksums_;
};

inline void compareFinal(DuelSelfCheck& check, const char* who, PredictedBattle& battle,
                         const std::vector<std::uint32_t>& straightChecksums) {
  for (const auto& [frame, checksum] : battle.takeFinalChecksums()) {
    if (frame == 0 || frame > straightChecksums.size() ||
        straightChecksums[frame - 1] != checksum) {
      check.faults.push_back(std::string(who) + " drifted at frame " + std::to_string(frame));
      return;
    }
  }
}

inline DuelSelfCheck playDuelSelfCheck(std::uint32_t seed, std::uint32_t tickCap) {
  std::mt19937 dice(seed);
  const BattleSnapshot start = randomDuelStart(dice);
  LateTerminal left(start, Side::Left, seed * 2 + 1);
  LateTerminal right(start, Side::Right, seed * 2 + 2);
  StraightBattle straight(start);
  DuelSelfCheck check;
  for (std::uint32_t tick = 1; tick <= tickCap; ++tick) {
    const std::optional<FrameKey> leftKey = left.tick(tick, dice);
    const std::optional<FrameKey> rightKey = right.tick(tick, dice);
    if (leftKey) {
      right.send(tick, *leftKey);
    }
    if (rightKey) {
      left.send(tick, *rightKey);
    }
    straight.catchUp(left.played(), right.played());
    compareFinal(check, "left", left.battle(), straight.checksums());
    compareFinal(check, "right", right.battle(), straight.checksums());
    if (!leftKey && !rightKey && !left.keysInFlight() && !right.keysInFlight()) {
      break;
    }
  }
  check.frames = straight.battle().frame;
  if (battleGoesOn(straight.battle())) {
    if (left.battle().mayPlayOn() || right.battle().mayPlayOn()) {
      return check;  // capped while still in step
    }
    check.faults.push_back("both terminals stopped while the battle went on, at frame " +
                           std::to_string(check.frames));
    return check;
  }
  for (PredictedBattle* battle : {&left.battle(), &right.battle()}) {
    if (battle->finalFrames() != straight.battle().frame ||
        checksumOf(battle->final()) != checksumOf(straight.battle()) ||
        checksumOf(battle->shown()) != checksumOf(straight.battle())) {
      check.faults.push_back("a terminal ended apart from the battle at frame " +
                             std::to_string(battle->finalFrames()));
    }
    check.corrections += battle->figures().corrections;
    check.deepestCorrection =
        std::max(check.deepestCorrection, battle->figures().deepestCorrection);
  }
  return check;
}

}  // namespace skyrazor::testing
