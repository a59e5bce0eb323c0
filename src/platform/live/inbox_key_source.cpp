#include "platform/live/inbox_key_source.h"

#include <chrono>

#include "console/seam.h"

namespace skyrazor {

void InboxKeySource::handIn(const std::string& bytes) {
  std::lock_guard lock(mutex_);
  if (keys_.size() >= kMostHeldKeys) {
    return;
  }
  keys_ += bytes.substr(0, kMostHeldKeys - keys_.size());
  changed_.notify_all();
}

void InboxKeySource::close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  changed_.notify_all();
}

std::int64_t InboxKeySource::wallMs() {
  return wallClock_.nowMs();
}

void InboxKeySource::waitUntil(std::int64_t deadlineMs) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, std::chrono::milliseconds(deadlineMs - wallMs()),
                    [this] { return closed_ || woken_; });
  woken_ = false;
  if (closed_) {
    throw SessionEnded{0};
  }
}

bool InboxKeySource::waitForInput() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return closed_ || woken_ || !keys_.empty(); });
  if (closed_) {
    throw SessionEnded{0};
  }
  const bool typed = !keys_.empty();
  woken_ = false;
  return typed;
}

void InboxKeySource::wake() {
  std::lock_guard lock(mutex_);
  woken_ = true;
  changed_.notify_all();
}

void InboxKeySource::takeTyped(std::string& bytes, bool) {
  std::lock_guard lock(mutex_);
  bytes += keys_;
  keys_.clear();
}

void InboxKeySource::checkEnded() {
  std::lock_guard lock(mutex_);
  if (closed_) {
    throw SessionEnded{0};
  }
}

}  // namespace skyrazor
