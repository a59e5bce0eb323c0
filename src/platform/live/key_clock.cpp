#include "platform/live/key_clock.h"

#include <algorithm>
#include <stdexcept>

#include "console/seam.h"

namespace skyrazor {

SteadyWallClock::SteadyWallClock()
    : steadyStart_(std::chrono::steady_clock::now()),
      wallStartMs_(std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count()) {}

std::int64_t SteadyWallClock::nowMs() const {
  auto elapsed = std::chrono::steady_clock::now() - steadyStart_;
  return wallStartMs_ + std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
}

KeyClock::KeyClock(KeySource& source, unsigned char endOfInputKey)
    : source_(source), endOfInputKey_(endOfInputKey) {
  std::int64_t wall = source_.wallMs();
  clockMs_ = wall - wall % 1000;
  wallOffsetMs_ = wall - clockMs_;
  lagMs_ = wallOffsetMs_;
}

void KeyClock::sleep(int milliseconds) {
  clockMs_ += std::max(milliseconds, 0);
  std::int64_t deadline = clockMs_ + lagMs_;
  std::int64_t wall = source_.wallMs();
  if (wall - deadline > kCatchUpLimitMs) {
    lagMs_ = wall - clockMs_;
  }
  while (wall < deadline) {
    source_.waitUntil(deadline);
    wall = source_.wallMs();
  }
  takeIn(false);
}

std::optional<std::int64_t> KeyClock::nextKeyStampMs() const {
  if (keys_.empty()) {
    return std::nullopt;
  }
  return keys_.front().stampMs;
}

unsigned char KeyClock::takeWaitingKey() {
  if (keys_.empty()) {
    throw std::logic_error("takeWaitingKey without a waiting key");
  }
  return popKey().byte;
}

unsigned char KeyClock::readKey() {
  return waitForKey().byte;
}

KeyClock::StampedKey KeyClock::waitForKey() {
  while (keys_.empty()) {
    source_.waitForInput();
    clockMs_ = std::max(clockMs_, source_.wallMs() - wallOffsetMs_);
    lagMs_ = wallOffsetMs_;
    takeIn(true);
  }
  StampedKey key = popKey();
  if (key.byte == endOfInputKey_) {
    throw SessionEnded{0};
  }
  return key;
}

KeyClock::StampedKey KeyClock::popKey() {
  StampedKey key = keys_.front();
  keys_.pop_front();
  return key;
}

void KeyClock::takeIn(bool afterWait) {
  std::string typed;
  source_.takeTyped(typed, afterWait);
  for (char byte : typed) {
    keys_.push_back({static_cast<unsigned char>(byte), clockMs_});
  }
}

}  // namespace skyrazor
