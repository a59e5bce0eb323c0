#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "console/screen.h"
#include "platform/network/wire_format.h"
#include "rollback/frame_pacer.h"
#include "rollback/predicted_battle.h"

namespace skyrazor {

// A duel at a joined pilot's terminal: the battle the host handed over,
// played here frame by frame with this pilot's keys at once, the other
// pilot's as the host sends them. The terminal shows it instead of the
// host's picture until the host says the battle is over.
class JoinedDuel {
 public:
  // The most keys typed ahead of the frames that take them, one a frame.
  static constexpr std::size_t kMostTypedAhead = 64;

  // None when the host's state is not a battle this terminal can play.
  // `ownDelayMs`: how long the host's messages take to get here (half the
  // round trip).
  static std::optional<JoinedDuel> begin(const network::BattleStart& start, std::int64_t nowMs,
                                         std::int64_t ownDelayMs);

  // The other pilot's keys; false when they do not follow those before.
  bool takeOtherKeys(const network::FrameKeys& keys, std::int64_t nowMs);
  // The host's state, when this terminal had drifted; false when unsound.
  bool repair(const network::BattleRepair& repair);
  void keyTyped(unsigned char key);

  // When the next frame is due; none while the battle shown is over or the
  // other pilot's keys lag too far behind.
  std::optional<std::int64_t> nextFrameDue() const;
  // Plays the frames due by now; what to send the host: this pilot's keys,
  // and the checksums of frames that became final.
  struct ToSend {
    std::vector<network::FrameKeys> keys;
    std::vector<network::FrameChecksums> checksums;
  };
  ToSend playDueFrames(std::int64_t nowMs, std::int64_t ownDelayMs);

  const Screen& view() const { return battle_.shown().screen; }
  // Whether the view changed since the last call.
  bool takeViewChanged();
  const DuelFigures& figures() const { return battle_.figures(); }

 private:
  JoinedDuel(BattleSnapshot start, Side own, std::uint32_t correctionFrames, std::int64_t startMs);
  std::vector<network::FrameChecksums> takeChecksums();

  PredictedBattle battle_;
  FramePacer pacer_;
  std::deque<unsigned char> typed_;
  bool viewChanged_ = true;
  // The other pilot's last keys: their frame, when they came and how long
  // they had been on their way by then.
  std::uint32_t otherFrame_ = 0;
  std::int64_t otherArrivedMs_ = 0;
  std::int64_t otherAgeMs_ = 0;
  bool otherHeard_ = false;
};

}  // namespace skyrazor
