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
  wakeAWaitForInput();
}

void InboxKeySource::close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  changed_.notify_all();
}

std::int64_t InboxKeySource::wallMs() {
  return wallClock_.nowMs();
}

// A timed wait (a battle frame's, most often) sleeps to its deadline: keys
// and news that come meanwhile are taken in after it, so they do not wake
// it, and a room's game thread wakes once a frame rather than for every key
// and round trip as well. Only closing ends it early.
void InboxKeySource::waitUntil(std::int64_t deadlineMs) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, std::chrono::milliseconds(deadlineMs - wallMs()),
                    [this] { return closed_; });
  if (closed_) {
    throw SessionEnded{0};
  }
}

void InboxKeySource::waitForNews(std::int64_t deadlineMs) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, std::chrono::milliseconds(deadlineMs - wallMs()),
                    [this] { return closed_ || news_; });
  if (closed_) {
    throw SessionEnded{0};
  }
  news_ = false;
}

bool InboxKeySource::waitForInput() {
  std::unique_lock lock(mutex_);
  waitingForInput_ = true;
  changed_.wait(lock, [this] { return closed_ || woken_ || !keys_.empty(); });
  waitingForInput_ = false;
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
  news_ = true;
  changed_.notify_all();
}

// Under the lock.
void InboxKeySource::wakeAWaitForInput() {
  if (waitingForInput_) {
    changed_.notify_all();
  }
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
