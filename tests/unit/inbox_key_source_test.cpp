#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "console/seam.h"
#include "platform/live/inbox_key_source.h"

namespace skyrazor {
namespace {

// A game without a terminal waits on keys handed in from another thread.
TEST(InboxKeySource, WaitsEndOnKeysOnAWakeOrWhenClosedAndSleepsOnlyWhenClosed) {
  InboxKeySource source;
  std::thread network([&source] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    source.handIn("ab");
  });
  EXPECT_TRUE(source.waitForInput());
  network.join();
  std::string keys;
  source.takeTyped(keys, true);
  EXPECT_EQ(keys, "ab");

  source.wake();
  EXPECT_FALSE(source.waitForInput());  // woken, nothing typed

  // Keys and wakes that arrive during a sleep wait for its end; the keys are
  // there for the next wait for input.
  const std::int64_t deadline = source.wallMs() + 60;
  std::thread typist([&source] {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    source.handIn("c");
    source.wake();
  });
  source.waitUntil(deadline);
  typist.join();
  EXPECT_GE(source.wallMs(), deadline);
  EXPECT_TRUE(source.waitForInput());
  keys.clear();
  source.takeTyped(keys, true);
  EXPECT_EQ(keys, "c");

  // A wait for news, though, ends on a wake (a duel's keys have come).
  const std::int64_t newsDeadline = source.wallMs() + 10000;
  std::thread messenger([&source] {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    source.wake();
  });
  source.waitForNews(newsDeadline);
  messenger.join();
  EXPECT_LT(source.wallMs(), newsDeadline - 5000);

  // Closing ends a sleep at once.
  const std::int64_t longDeadline = source.wallMs() + 10000;
  std::thread closer([&source] {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    source.close();
  });
  EXPECT_THROW(source.waitUntil(longDeadline), SessionEnded);
  closer.join();
  EXPECT_LT(source.wallMs(), longDeadline - 5000);
  EXPECT_THROW(source.waitForInput(), SessionEnded);
  EXPECT_THROW(source.checkEnded(), SessionEnded);
}

}  // namespace
}  // namespace skyrazor
