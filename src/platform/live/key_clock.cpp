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

KeyClock::KeyClock(KeySource& source, unsigned char endOfInputKey, SeatInbox* secondSeat)
    : source_(source), endOfInputKey_(endOfInputKey), secondSeat_(secondSeat) {
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

KeyClock::KeyQueue& KeyClock::queue(KeyboardSeat seat) {
  return seat == KeyboardSeat::Second ? secondKeys_ : firstKeys_;
}

const KeyClock::KeyQueue& KeyClock::queue(KeyboardSeat seat) const {
  return seat == KeyboardSeat::Second ? secondKeys_ : firstKeys_;
}

bool KeyClock::keyWaiting(KeyboardSeat seat) const {
  return !queue(seat).empty();
}

std::optional<std::int64_t> KeyClock::nextKeyStampMs(KeyboardSeat seat) const {
  if (queue(seat).empty()) {
    return std::nullopt;
  }
  return queue(seat).front().stampMs;
}

unsigned char KeyClock::takeWaitingKey(KeyboardSeat seat) {
  KeyQueue& keys = queue(seat);
  if (keys.empty()) {
    throw std::logic_error("takeWaitingKey without a waiting key");
  }
  unsigned char byte = keys.front().byte;
  keys.pop_front();
  return byte;
}

unsigned char KeyClock::readKey(KeyboardSeat seat) {
  return waitForKey(seat).byte;
}

void KeyClock::dropKeys(KeyboardSeat seat) {
  queue(seat).clear();
}

KeyClock::StampedKey KeyClock::waitForKey(KeyboardSeat seat) {
  KeyQueue& keys = queue(seat);
  while (keys.empty()) {
    bool typed = source_.waitForInput();
    clockMs_ = std::max(clockMs_, source_.wallMs() - wallOffsetMs_);
    lagMs_ = wallOffsetMs_;
    takeIn(typed);
  }
  StampedKey key = keys.front();
  keys.pop_front();
  if (seat == KeyboardSeat::First && key.byte == endOfInputKey_) {
    throw SessionEnded{0};
  }
  return key;
}

void KeyClock::takeIn(bool afterWait) {
  std::string typed;
  source_.takeTyped(typed, afterWait);
  queueTyped(typed, firstKeys_);
  if (secondSeat_ != nullptr) {
    typed.clear();
    secondSeat_->takeTyped(typed);
    queueTyped(typed, secondKeys_);
  }
}

void KeyClock::queueTyped(const std::string& typed, KeyQueue& keys) const {
  for (char byte : typed) {
    if (keys.size() < kMostWaitingKeys) {
      keys.push_back({static_cast<unsigned char>(byte), clockMs_});
    }
  }
}

}  // namespace skyrazor
