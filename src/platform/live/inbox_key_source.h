#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/live/key_clock.h"

namespace skyrazor {

// The keys and time of a live session that has no terminal of its own (a
// game on a server, or measured by a benchmark): keys are handed in from another thread (the
// network's), a wait for input sleeps on a condition variable until the next
// keys or a wake, a timed wait until its deadline, and closing the inbox ends
// the session at once.
class InboxKeySource final : public KeySource {
 public:
  // The most keys kept for the game to take; more are dropped.
  static constexpr std::size_t kMostHeldKeys = 1024;

  // Hands in keys typed elsewhere; safe from any thread. Keys beyond what it
  // holds are dropped without waking the game.
  void handIn(const std::string& bytes);
  // Ends the session: every wait from now on throws SessionEnded.
  void close();

  std::int64_t wallMs() override;
  void waitUntil(std::int64_t deadlineMs) override;
  // Ends at the deadline, on a wake or when closed.
  void waitForNews(std::int64_t deadlineMs) override;
  bool waitForInput() override;
  void wake() override;
  void takeTyped(std::string& bytes, bool afterWait) override;
  void checkEnded() override;
  void typingLine(bool typing) override { typing_ = typing; }

  // Whether the game reads a typed line now (so that the cursor shows); on
  // the game's thread only.
  bool typing() const { return typing_; }

 private:
  void wakeAWaitForInput();

  SteadyWallClock wallClock_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string keys_;
  bool woken_ = false;
  bool news_ = false;  // a wake that a wait for news has not yet seen
  bool waitingForInput_ = false;
  bool closed_ = false;
  bool typing_ = false;
};

}  // namespace skyrazor
