#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "battle/hand_over.h"
#include "console/seam.h"
#include "platform/live/key_clock.h"
#include "platform/network/wire_format.h"
#include "rollback/battle_snapshot.h"
#include "rollback/frame_pacer.h"
#include "rollback/predicted_battle.h"
#include "server/room.h"
#include "server/server_counters.h"

namespace skyrazor::network {

// The host's own pilot, who flies the left ship at the host's terminal.
class HostPilot {
 public:
  virtual ~HostPilot() = default;
  // The host's next key, if one was typed: one is taken a frame.
  virtual FrameKey takeKey() = 0;
  // Shows the battle as the host's pilot sees it.
  virtual void show(const Screen& view) = 0;
  // The battle is over: the game's own picture shows again.
  virtual void duelOver() = 0;
};

// Keeps the final game of a two-person battle whose pilots play it at their
// own terminals. The game itself runs as ever, one frame behind the other
// until both pilots' keys for a frame are in: its clock waits for them at the
// frame's pause, and its keyboards give each pilot's phase the key that
// pilot's terminal played in that frame. So its recording, its picture for
// watchers and its result are those of the one battle both pilots played.
//
// At a host, the host's own pilot plays here too, at once, in a battle of
// their own shown on the host's terminal while the game waits. Each final
// frame's checksum is compared with the pilots' terminals'; one that drifted
// is sent the game's state. When a pilot's terminal leaves, or sends no keys
// for a while, the duel is given up and the battle goes on as any network
// game's.
class DuelReferee final : public BattleHandOver {
 public:
  using EventLog = std::function<void(const std::string&)>;
  // A pilot's terminal silent this long while the game waits for its keys
  // ends the duel.
  static constexpr std::int64_t kSilentPilotMs = 5000;

  // `clock`, `first` and `second`: the game's own; the game is given this
  // referee's in their place. `waits`: the session's waits, woken when the
  // terminals send news. `hostPilot`: null at a server.
  // `counters`: a server's, which counts duels and repairs; null at a host.
  DuelReferee(DuelTerminals& terminals, KeySource& waits, Clock& clock, Keyboard& first,
              Keyboard& second, HostPilot* hostPilot, EventLog log,
              ServerCounters* counters = nullptr);
  DuelReferee(const DuelReferee&) = delete;
  DuelReferee& operator=(const DuelReferee&) = delete;
  ~DuelReferee() override;

  Clock& clock();
  Keyboard& firstKeyboard();
  Keyboard& secondKeyboard();
  bool inDuel() const { return inDuel_; }

  void battleBegins(const Console& console, const Random& random, const BattleSettings& settings,
                    const Duel& duel) override;
  void frameDone(int frame) override;
  void battleEnded(int frames) override;

 private:
  class RefereeClock;
  class RefereeKeyboard;
  struct KnownFrame {
    std::array<std::optional<FrameKey>, 2> ships;
    std::array<bool, 2> taken{};
  };
  struct HeardOf {
    std::uint32_t frame = 0;
    std::int64_t arrivedMs = 0;
    std::int64_t delayMs = 0;
  };

  void sleep(int milliseconds);
  bool keyWaiting(int ship);
  unsigned char takeWaitingKey(int ship);
  void waitForFinal(std::uint32_t frame);
  bool isFinal(std::uint32_t frame) const;
  void absorbNews();
  void takeKeys(int ship, const FrameKeys& keys);
  void compareChecksums(int ship, const FrameChecksums& checksums);
  void compareChecksum(int ship, std::uint32_t frame, std::uint32_t checksum);
  void abandon(const std::string& why);
  void finish(std::uint32_t frames);
  void playHostFrames();
  KnownFrame& frameAt(std::uint32_t frame);
  BattleSnapshot gameNow() const;
  DuelFigures figuresNow(std::uint32_t frames) const;

  DuelTerminals& terminals_;
  KeySource& waits_;
  Clock& clock_;
  Keyboard& first_;
  Keyboard& second_;
  HostPilot* hostPilot_;
  EventLog log_;
  ServerCounters* counters_;
  std::unique_ptr<RefereeClock> refereeClock_;
  std::unique_ptr<RefereeKeyboard> refereeFirst_;
  std::unique_ptr<RefereeKeyboard> refereeSecond_;

  bool inDuel_ = false;
  // The game's battle, while it runs, to checksum and to repair from.
  const Console* console_ = nullptr;
  const Random* random_ = nullptr;
  const BattleSettings* settings_ = nullptr;
  const Duel* duel_ = nullptr;
  std::uint32_t playing_ = 0;  // the game's frame under way
  std::uint32_t firstKnownFrame_ = 1;
  std::deque<KnownFrame> frames_;
  std::array<std::uint32_t, 2> known_{};  // frames each ship's keys are in for
  std::array<std::uint32_t, 2> repairedUpTo_{};
  std::int64_t lastProgressMs_ = 0;                                // when a frame last became final
  std::deque<std::pair<std::uint32_t, std::uint32_t>> checksums_;  // the game's, by frame
  // The terminals' checksums of frames the game has yet to play.
  std::array<std::deque<std::pair<std::uint32_t, std::uint32_t>>, 2> earlyChecksums_;
  std::uint32_t correctionFrames_ = 1;
  BattleSnapshot lastFrame_;
  std::uint32_t repairs_ = 0;
  // The host's own pilot's battle.
  std::optional<PredictedBattle> hostView_;
  std::optional<FramePacer> pacer_;
  HeardOf otherHeard_;
};

}  // namespace skyrazor::network
