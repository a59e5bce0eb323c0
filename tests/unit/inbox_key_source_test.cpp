#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "console/seam.h"
#include "platform/live/inbox_key_source.h"

namespace skyrazor {
namespace {

// A game without a terminal waits on keys handed in from another thread.
TEST(InboxKeySource, WaitsEndOnKeysOnAWakeOrWhenClosedAndSleepsKeepTheirDeadline) {
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

  // Keys that arrive during a sleep wait for its end.
  const std::int64_t deadline = source.wallMs() + 60;
  std::thread typist([&source] {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    source.handIn("c");
  });
  source.waitUntil(deadline);
  typist.join();
  EXPECT_GE(source.wallMs(), deadline);

  source.close();
  EXPECT_THROW(source.waitForInput(), SessionEnded);
  EXPECT_THROW(source.checkEnded(), SessionEnded);
}

}  // namespace
}  // namespace skyrazor
