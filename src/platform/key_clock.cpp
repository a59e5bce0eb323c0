#include "platform/key_clock.h"

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
    : source_(source), endOfInputKey_(endOfInputKey), clockMs_(source.wallMs()) {}

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
  unsigned char byte = keys_.front().byte;
  keys_.pop_front();
  return byte;
}

unsigned char KeyClock::readKey() {
  while (keys_.empty()) {
    source_.waitForInput();
    clockMs_ = std::max(clockMs_, source_.wallMs());
    lagMs_ = 0;
    takeIn(true);
  }
  unsigned char byte = takeWaitingKey();
  if (byte == endOfInputKey_) {
    throw SessionEnded{0};
  }
  return byte;
}

void KeyClock::takeIn(bool afterWait) {
  std::string typed;
  source_.takeTyped(typed, afterWait);
  for (char byte : typed) {
    keys_.push_back({static_cast<unsigned char>(byte), clockMs_});
  }
}

}  // namespace skyrazor
