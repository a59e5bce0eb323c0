#include "app/joined_duel.h"

#include <algorithm>
#include <utility>

#include "rollback/snapshot_bytes.h"

namespace skyrazor {

std::optional<JoinedDuel> JoinedDuel::begin(const network::BattleStart& start, std::int64_t nowMs,
                                            std::int64_t ownDelayMs) {
  std::optional<BattleSnapshot> battle = snapshotFromBytes(start.state);
  if (!battle || battle->frame != start.frame) {
    return std::nullopt;
  }
  const Side own = start.ship == 0 ? Side::Left : Side::Right;
  // The host began the battle as long ago as its message took to get here:
  // frames are due when they are due there.
  const std::int64_t hostBeganMs =
      nowMs - ownDelayMs - static_cast<std::int64_t>(start.frame) * battle->gameSpeed;
  return JoinedDuel(std::move(*battle), own, start.correctionFrames, hostBeganMs);
}

JoinedDuel::JoinedDuel(BattleSnapshot start, Side own, std::uint32_t correctionFrames,
                       std::int64_t startMs)
    : battle_(start, own, correctionFrames), pacer_(start.gameSpeed, startMs) {}

bool JoinedDuel::takeOtherKeys(const network::FrameKeys& keys, std::int64_t nowMs) {
  const std::uint32_t corrections = battle_.figures().corrections;
  if (!battle_.takeOtherKeys(keys.firstFrame, keys.keys)) {
    return false;
  }
  viewChanged_ = viewChanged_ || battle_.figures().corrections != corrections;
  otherFrame_ = battle_.otherKnownFrames();
  otherArrivedMs_ = nowMs;
  otherAgeMs_ = keys.delayMs;
  otherHeard_ = true;
  return true;
}

bool JoinedDuel::repair(const network::BattleRepair& repair) {
  std::optional<BattleSnapshot> battle = snapshotFromBytes(repair.state);
  if (!battle || battle->frame != repair.frame || !battle_.repair(*battle)) {
    return false;
  }
  viewChanged_ = true;
  return true;
}

void JoinedDuel::keyTyped(unsigned char key) {
  if (typed_.size() < kMostTypedAhead) {
    typed_.push_back(key);
  }
}

std::optional<std::int64_t> JoinedDuel::nextFrameDue() const {
  if (!battle_.mayPlayOn()) {
    return std::nullopt;
  }
  return pacer_.dueMs(battle_.playedFrames() + 1);
}

JoinedDuel::ToSend JoinedDuel::playDueFrames(std::int64_t nowMs, std::int64_t ownDelayMs) {
  ToSend toSend;
  for (std::optional<std::int64_t> due = nextFrameDue(); due && *due <= nowMs;
       due = nextFrameDue()) {
    FrameKey key;
    if (!typed_.empty()) {
      key = {true, typed_.front()};
      typed_.pop_front();
    }
    battle_.playOwnFrame(key);
    const std::uint32_t frame = battle_.playedFrames();
    if (toSend.keys.empty() || toSend.keys.back().keys.size() >= network::kMostFramesPerMessage) {
      toSend.keys.push_back(
          {frame, static_cast<std::uint16_t>(std::clamp<std::int64_t>(ownDelayMs, 0, 0xFFFF)), {}});
    }
    toSend.keys.back().keys.push_back(key);
    pacer_.played(frame, nowMs);
    if (otherHeard_) {
      pacer_.keepInStep(frame, otherFrame_, otherAgeMs_ + ownDelayMs + (nowMs - otherArrivedMs_));
    }
    viewChanged_ = true;
  }
  toSend.checksums = takeChecksums();
  return toSend;
}

std::vector<network::FrameChecksums> JoinedDuel::takeChecksums() {
  std::vector<network::FrameChecksums> messages;
  for (const auto& [frame, checksum] : battle_.takeFinalChecksums()) {
    if (messages.empty() || messages.back().checksums.size() >= network::kMostFramesPerMessage ||
        messages.back().firstFrame + messages.back().checksums.size() != frame) {
      messages.push_back({frame, {}});
    }
    messages.back().checksums.push_back(checksum);
  }
  return messages;
}

bool JoinedDuel::takeViewChanged() {
  return std::exchange(viewChanged_, false);
}

}  // namespace skyrazor
