#pragma once

#include <cstdint>

namespace skyrazor {

// When a pilot's terminal plays its battle frames: one every game-speed
// milliseconds on the wall clock, as the one-terminal game does, from the
// moment the host's battle began. Two terminals keep in step: one that
// finds itself ahead of the other eases off by a fraction of a frame, so
// that neither pilot sees the other's moves later than the other sees theirs.
class FramePacer {
 public:
  // A frame due this far in the past starts a new schedule rather than
  // hurrying through the frames missed (a wait for the other's keys).
  static constexpr std::int64_t kCatchUpLimitMs = 100;

  // `battleBeganMs`: when the host's battle began, on this terminal's wall clock.
  FramePacer(std::int32_t periodMs, std::int64_t battleBeganMs);

  // When frame `frame` (counted from 1) is due.
  std::int64_t dueMs(std::uint32_t frame) const;
  // Called as frame `frame` is played at `nowMs`.
  void played(std::uint32_t frame, std::int64_t nowMs);
  // How far ahead of the other terminal this one runs, in frames: the frames
  // it played less those the other has played by now, which is the other's
  // last frame heard of and the frames played since its keys set out
  // (`keysAgeMs`: their journey from the other pilot to this terminal).
  // Eases off when a whole frame or more ahead.
  void keepInStep(std::uint32_t playedFrames, std::uint32_t otherFrames, std::int64_t keysAgeMs);

 private:
  std::int32_t periodMs_;
  std::int64_t startMs_;
};

}  // namespace skyrazor
