#include "rollback/frame_pacer.h"

#include <algorithm>

namespace skyrazor {
namespace {

// The share of a frame a terminal ahead waits longer each frame.
constexpr std::int32_t kEaseDivisor = 4;

}  // namespace

FramePacer::FramePacer(std::int32_t periodMs, std::int64_t battleBeganMs)
    : periodMs_(std::max(periodMs, 1)), startMs_(battleBeganMs) {}

std::int64_t FramePacer::dueMs(std::uint32_t frame) const {
  return startMs_ + static_cast<std::int64_t>(frame) * periodMs_;
}

void FramePacer::played(std::uint32_t frame, std::int64_t nowMs) {
  if (nowMs - dueMs(frame) > kCatchUpLimitMs) {
    startMs_ = nowMs - static_cast<std::int64_t>(frame) * periodMs_;
  }
}

void FramePacer::keepInStep(std::uint32_t playedFrames, std::uint32_t otherFrames,
                            std::int64_t keysAgeMs) {
  const std::int64_t otherNowTimesPeriod =
      static_cast<std::int64_t>(otherFrames) * periodMs_ + std::max<std::int64_t>(keysAgeMs, 0);
  const std::int64_t aheadTimesPeriod =
      static_cast<std::int64_t>(playedFrames) * periodMs_ - otherNowTimesPeriod;
  if (aheadTimesPeriod >= periodMs_) {
    startMs_ += std::max(periodMs_ / kEaseDivisor, 1);
  }
}

}  // namespace skyrazor
