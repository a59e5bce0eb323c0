#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "console/seam.h"
#include "platform/live/key_clock.h"

namespace skyrazor {
namespace {

constexpr std::int64_t kStart = 1'700'000'000'000;

// A wall clock the test moves by hand (the game "computing") and keys typed at
// given wall times. Waiting moves the wall clock as real waiting would.
class FakeTerminal : public KeySource {
 public:
  std::int64_t wall = kStart;
  std::map<std::int64_t, std::string> typedAt;  // wall time -> keys typed then
  std::vector<std::int64_t> waitDeadlines;
  int earlyWakes = 0;  // waits that return before their deadline (a resize, say)
  std::vector<bool> takeCalls;

  void compute(std::int64_t milliseconds) { wall += milliseconds; }

  std::int64_t wallMs() override { return wall; }
  void waitUntil(std::int64_t deadlineMs) override {
    waitDeadlines.push_back(deadlineMs);
    if (earlyWakes > 0) {
      --earlyWakes;
      wall += 1;
      return;
    }
    wall = std::max(wall, deadlineMs);
  }
  bool waitForInput() override {
    auto next = typedAt.begin();
    if (next == typedAt.end()) {
      throw SessionEnded{0};  // input has ended
    }
    wall = std::max(wall, next->first);
    return true;
  }
  void takeTyped(std::string& bytes, bool afterWait) override {
    takeCalls.push_back(afterWait);
    while (!typedAt.empty() && typedAt.begin()->first <= wall) {
      bytes += typedAt.begin()->second;
      typedAt.erase(typedAt.begin());
    }
  }
};

TEST(LiveGameClock, StartsAtTheWallClock) {
  FakeTerminal terminal;
  KeyClock clock(terminal);
  EXPECT_EQ(clock.nowMs(), kStart);
}

TEST(LiveGameClock, SleepsAddExactlyTheirLengthAndKeepAnEvenSchedule) {
  FakeTerminal terminal;
  KeyClock clock(terminal);
  terminal.compute(7);
  clock.sleep(50);
  terminal.compute(3);
  clock.sleep(50);
  EXPECT_EQ(clock.nowMs(), kStart + 100);
  // The waits end 50 ms apart however long each frame computed.
  EXPECT_EQ(terminal.waitDeadlines, (std::vector<std::int64_t>{kStart + 50, kStart + 100}));
  EXPECT_EQ(terminal.wall, kStart + 100);
}

TEST(LiveGameClock, ALittleLateTheNextSleepCatchesUp) {
  FakeTerminal terminal;
  KeyClock clock(terminal);
  terminal.compute(80);  // 30 ms past the first deadline
  clock.sleep(50);
  EXPECT_TRUE(terminal.waitDeadlines.empty());
  clock.sleep(50);
  EXPECT_EQ(clock.nowMs(), kStart + 100);
  EXPECT_EQ(terminal.waitDeadlines, (std::vector<std::int64_t>{kStart + 100}));
}

TEST(LiveGameClock, FarBehindItStartsANewScheduleInsteadOfRushing) {
  FakeTerminal terminal;
  KeyClock clock(terminal);
  terminal.compute(500);
  clock.sleep(50);
  clock.sleep(50);
  clock.sleep(50);
  // The game clock still counts only the sleeps...
  EXPECT_EQ(clock.nowMs(), kStart + 150);
  // ...but the two later frames get their full pause from where the game was.
  EXPECT_EQ(terminal.waitDeadlines, (std::vector<std::int64_t>{kStart + 550, kStart + 600}));
}

TEST(LiveGameClock, AWaitThatWakesEarlyGoesOnToTheDeadline) {
  FakeTerminal terminal;
  KeyClock clock(terminal);
  terminal.earlyWakes = 2;
  clock.sleep(40);
  EXPECT_EQ(terminal.wall, kStart + 40);
  EXPECT_EQ(terminal.waitDeadlines.size(), 3u);
}

TEST(LiveGameClock, ANegativeSleepNeitherWaitsNorTurnsTheClockBack) {
  FakeTerminal terminal;
  KeyClock clock(terminal);
  clock.sleep(-20);
  EXPECT_EQ(clock.nowMs(), kStart);
  EXPECT_TRUE(terminal.waitDeadlines.empty());
}

TEST(LiveKeyTakeIn, KeysTypedWhileComputingWaitForTheClockToMove) {
  FakeTerminal terminal;
  KeyClock clock(terminal);
  terminal.typedAt[kStart + 5] = "ap";
  terminal.compute(10);
  EXPECT_FALSE(clock.keyWaiting());  // typed, but not yet taken in

  clock.sleep(50);
  ASSERT_TRUE(clock.keyWaiting());
  EXPECT_EQ(clock.nextKeyStampMs(), kStart + 50);  // the clock's new value, not the typing time
  EXPECT_EQ(clock.takeWaitingKey(), 'a');
  EXPECT_EQ(clock.nextKeyStampMs(), kStart + 50);
  EXPECT_EQ(clock.takeWaitingKey(), 'p');
  EXPECT_FALSE(clock.keyWaiting());
  EXPECT_EQ(terminal.takeCalls, std::vector<bool>{false});
}

TEST(LiveKeyTakeIn, KeysTypedDuringASleepAreTakenInAtItsEnd) {
  FakeTerminal terminal;
  KeyClock clock(terminal);
  terminal.typedAt[kStart + 20] = "s";
  clock.sleep(50);
  EXPECT_EQ(clock.nextKeyStampMs(), kStart + 50);
}

TEST(LiveKeyTakeIn, TakingAKeyThatIsNotThereIsAnError) {
  FakeTerminal terminal;
  KeyClock clock(terminal);
  EXPECT_EQ(clock.nextKeyStampMs(), std::nullopt);
  EXPECT_THROW(clock.takeWaitingKey(), std::logic_error);
}

TEST(LiveKeyRead, WaitingMovesTheClockToTheWallClockWhenTheKeyArrives) {
  FakeTerminal terminal;
  KeyClock clock(terminal);
  terminal.typedAt[kStart + 4000] = "xy";
  EXPECT_EQ(clock.readKey(), 'x');
  EXPECT_EQ(clock.nowMs(), kStart + 4000);
  EXPECT_EQ(terminal.takeCalls, std::vector<bool>{true});
  // 'y' came with it and was taken in at the same moment.
  EXPECT_EQ(clock.nextKeyStampMs(), kStart + 4000);
}

TEST(LiveKeyRead, AKeyAlreadyTakenInIsReadWithoutMovingTheClock) {
  FakeTerminal terminal;
  KeyClock clock(terminal);
  terminal.typedAt[kStart + 10] = "1";
  clock.sleep(50);
  terminal.compute(300);
  EXPECT_EQ(clock.readKey(), '1');
  EXPECT_EQ(clock.nowMs(), kStart + 50);
}

TEST(LiveKeyRead, KeysTypedWhileComputingArriveWhenTheReadBegins) {
  FakeTerminal terminal;
  KeyClock clock(terminal);
  terminal.typedAt[kStart + 100] = "2";
  terminal.compute(250);
  EXPECT_EQ(clock.readKey(), '2');
  EXPECT_EQ(clock.nowMs(), kStart + 250);
}

TEST(LiveKeyRead, TheClockNeverRunsBackwards) {
  FakeTerminal terminal;
  KeyClock clock(terminal);
  clock.sleep(1000);
  terminal.wall = kStart + 400;  // a wall clock that stepped back
  terminal.typedAt[kStart + 500] = "k";
  EXPECT_EQ(clock.readKey(), 'k');
  EXPECT_EQ(clock.nowMs(), kStart + 1000);
}

TEST(LiveKeyRead, AfterAWaitForAKeyTheNextSleepIsMeasuredFromItsArrival) {
  FakeTerminal terminal;
  KeyClock clock(terminal);
  terminal.compute(500);
  clock.sleep(50);  // far behind: a new schedule
  terminal.typedAt[kStart + 9000] = "a";
  clock.readKey();
  clock.sleep(50);
  EXPECT_EQ(terminal.waitDeadlines.back(), kStart + 9050);
  EXPECT_EQ(clock.nowMs(), kStart + 9050);
}

TEST(LiveKeyRead, TheEndOfInputKeyEndsTheSessionAtAReadButIsJustAKeyInBattle) {
  struct Case {
    const char* console;
    unsigned char endOfInputKey;
    unsigned char otherKey;
  };
  for (Case each : {Case{"terminal", KeyClock::kCtrlD, KeyClock::kCtrlZ},
                    Case{"Windows console", KeyClock::kCtrlZ, KeyClock::kCtrlD}}) {
    SCOPED_TRACE(each.console);
    FakeTerminal terminal;
    KeyClock clock(terminal, each.endOfInputKey);
    terminal.typedAt[kStart + 10] = {static_cast<char>(each.endOfInputKey),
                                     static_cast<char>(each.otherKey),
                                     static_cast<char>(each.endOfInputKey)};
    clock.sleep(20);
    EXPECT_EQ(clock.takeWaitingKey(), each.endOfInputKey);
    // The other console's end-of-input key is only a key.
    EXPECT_EQ(clock.readKey(), each.otherKey);
    try {
      clock.readKey();
      ADD_FAILURE() << "the end-of-input key at a key read did not end the session";
    } catch (const SessionEnded& ended) {
      EXPECT_EQ(ended.exitStatus, 0);
    }
  }
}

TEST(LiveKeyRead, TheEndOfInputEndsTheSession) {
  FakeTerminal terminal;
  KeyClock clock(terminal);
  EXPECT_THROW(clock.readKey(), SessionEnded);
}

// Pilot 2's keys from afar: they arrive at wall times and wake the wait for
// input, as the network does.
class FarKeyboard : public SeatInbox {
 public:
  explicit FarKeyboard(FakeTerminal& terminal) : terminal_(terminal) {}
  std::map<std::int64_t, std::string> arrivingAt;
  void takeTyped(std::string& bytes) override {
    while (!arrivingAt.empty() && arrivingAt.begin()->first <= terminal_.wall) {
      bytes += arrivingAt.begin()->second;
      arrivingAt.erase(arrivingAt.begin());
    }
  }

 private:
  FakeTerminal& terminal_;
};

class TwoSeatTerminal : public FakeTerminal {
 public:
  FarKeyboard far{*this};
  bool waitForInput() override {
    if (!far.arrivingAt.empty() &&
        (typedAt.empty() || far.arrivingAt.begin()->first < typedAt.begin()->first)) {
      wall = std::max(wall, far.arrivingAt.begin()->first);
      return false;  // woken, nothing typed here
    }
    return FakeTerminal::waitForInput();
  }
};

TEST(LiveSecondSeat, KeysOfBothSeatsShareOneClockAndKeepTheirOwnQueues) {
  TwoSeatTerminal terminal;
  KeyClock clock(terminal, KeyClock::kCtrlD, &terminal.far);
  terminal.far.arrivingAt[kStart + 300] = "p\x04";
  terminal.typedAt[kStart + 500] = "e";
  // Waiting for pilot 2 takes pilot 1's keys in as they come, and the other way round.
  EXPECT_EQ(clock.readKey(KeyboardSeat::Second), 'p');
  EXPECT_EQ(clock.nowMs(), kStart + 300);
  EXPECT_FALSE(clock.keyWaiting(KeyboardSeat::First));
  // Only the first keyboard's end-of-input key ends the session.
  EXPECT_EQ(clock.readKey(KeyboardSeat::Second), 0x04);
  EXPECT_EQ(clock.readKey(KeyboardSeat::First), 'e');
  EXPECT_EQ(clock.nowMs(), kStart + 500);

  terminal.far.arrivingAt[kStart + 520] = "lo";
  clock.sleep(50);
  EXPECT_EQ(clock.nextKeyStampMs(KeyboardSeat::Second), kStart + 550);
  clock.dropKeys(KeyboardSeat::Second);
  EXPECT_FALSE(clock.keyWaiting(KeyboardSeat::Second));

  // A flood from afar fills the second keyboard's buffer and no more.
  terminal.far.arrivingAt[kStart + 560] = std::string(100000, 'l');
  clock.sleep(50);
  int waiting = 0;
  for (; clock.keyWaiting(KeyboardSeat::Second); ++waiting) {
    clock.takeWaitingKey(KeyboardSeat::Second);
  }
  EXPECT_EQ(waiting, static_cast<int>(KeyClock::kMostWaitingKeys));
}

}  // namespace
}  // namespace skyrazor
