#pragma once

// A scripted run with a watch on it: at the end of every battle frame the
// battle's promises are checked, and every call the game makes on the
// keyboard, the display or the clock is counted, so that a loop that keeps
// asking without the clock moving or any input being taken is caught
// instead of spinning for ever.

#include <cstdint>
#include <string>
#include <vector>

#include "battle/promises.h"
#include "console/seam.h"
#include "platform/scripted/scripted_platform.h"

namespace skyrazor::testing {

// What the watch saw go wrong; ends the run.
struct WatchAlarm {
  std::string what;
};

class WatchfulPlatform final : public Display, public Keyboard, public Clock {
 public:
  // Calls without progress before a loop counts as spinning. A battle frame
  // makes about five; a read makes two.
  static constexpr int kSpinLimit = 10000;

  // `frameCap`: the run ends (as a scripted run ends) after this many battle
  // frames in all, so that a run's cost stays bounded; 0 for no cap.
  explicit WatchfulPlatform(ScriptedPlatform& run, std::int64_t frameCap = 0)
      : run_(run), frameCap_(frameCap) {}

  // The duel whose promises are checked after every frame.
  void watch(const Duel& duel) { duel_ = &duel; }

  // The run's second keyboard under the same watch, for a script with
  // `keyboards 2`; null without one.
  Keyboard* secondKeyboard() { return run_.hasSecondKeyboard() ? &secondKeyboard_ : nullptr; }

  std::int64_t frames() const { return frames_; }

  void present() override {
    noteCall();
    run_.present();
  }

  void frameEnded(int frameNumber) override {
    noteCall();
    run_.frameEnded(frameNumber);
    ++frames_;
    if (duel_ == nullptr) {
      throw WatchAlarm{"a battle frame ended with no duel watched"};
    }
    std::vector<std::string> broken = brokenBattlePromises(*duel_);
    if (!broken.empty()) {
      std::string what = "after frame " + std::to_string(frameNumber) + " at " +
                         std::to_string(run_.elapsedMs()) + " ms:";
      for (const std::string& promise : broken) {
        what += "\n  " + promise;
      }
      throw WatchAlarm{what};
    }
    if (frameCap_ > 0 && frames_ >= frameCap_) {
      throw SessionEnded{};
    }
  }

  unsigned char readKey() override {
    noteCall();
    unsigned char key = run_.readKey();
    progress();
    return key;
  }
  bool keyWaiting() override {
    noteCall();
    return run_.keyWaiting();
  }
  unsigned char takeWaitingKey() override {
    noteCall();
    unsigned char key = run_.takeWaitingKey();
    progress();
    return key;
  }
  std::string pullLine() override {
    noteCall();
    std::string line = run_.pullLine();
    progress();
    return line;
  }

  void sleep(int milliseconds) override {
    noteCall();
    const std::int64_t before = run_.elapsedMs();
    run_.sleep(milliseconds);
    if (run_.elapsedMs() != before) {
      progress();
    }
  }
  std::int64_t nowMs() override {
    noteCall();
    return run_.nowMs();
  }

 private:
  // Pilot 2's keyboard, which the game must read only while it has said a
  // read is coming: a keyboard from afar drops keys at any other time.
  class WatchedKeyboard final : public Keyboard {
   public:
    WatchedKeyboard(WatchfulPlatform& watch, Keyboard& keyboard)
        : watch_(watch), keyboard_(keyboard) {}
    unsigned char readKey() override {
      noteRead();
      unsigned char key = keyboard_.readKey();
      watch_.progress();
      return key;
    }
    bool keyWaiting() override {
      noteRead();
      return keyboard_.keyWaiting();
    }
    unsigned char takeWaitingKey() override {
      noteRead();
      unsigned char key = keyboard_.takeWaitingKey();
      watch_.progress();
      return key;
    }
    std::string pullLine() override {
      noteRead();
      std::string line = keyboard_.pullLine();
      watch_.progress();
      return line;
    }
    void expectKeys(bool expected) override {
      expected_ = expected;
      keyboard_.expectKeys(expected);
    }
    bool attended() override { return keyboard_.attended(); }

   private:
    void noteRead() {
      watch_.noteCall();
      if (!expected_) {
        throw WatchAlarm{"pilot 2's keyboard was read when no read of it was expected"};
      }
    }

    WatchfulPlatform& watch_;
    Keyboard& keyboard_;
    bool expected_ = false;
  };

  void noteCall() {
    if (++callsWithoutProgress_ > kSpinLimit) {
      throw WatchAlarm{"a loop spins: " + std::to_string(kSpinLimit) +
                       " calls on the keyboard, display and clock at " +
                       std::to_string(run_.elapsedMs()) +
                       " ms without the clock moving or any input taken"};
    }
  }
  void progress() { callsWithoutProgress_ = 0; }

  ScriptedPlatform& run_;
  const Duel* duel_ = nullptr;
  std::int64_t frameCap_;
  std::int64_t frames_ = 0;
  int callsWithoutProgress_ = 0;
  WatchedKeyboard secondKeyboard_{*this, run_.secondKeyboard()};
};

}  // namespace skyrazor::testing
