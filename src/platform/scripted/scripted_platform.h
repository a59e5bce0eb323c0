#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "console/screen.h"
#include "console/seam.h"
#include "platform/scripted/script.h"

namespace skyrazor {

// Which extra screen dumps a scripted run prints.
struct DumpOptions {
  bool reads = false;
  bool sleeps = false;
  bool frames = false;
  bool colors = false;
};

// The headless platform: virtual time, input from a script, and exact screen
// dumps on the given stream.
//
// The clock starts at the script's start and moves only when the game sleeps
// or waits for input that has not arrived yet. Key reads, the battle's key
// test and typed lines all take from one queue of scripted bytes per
// keyboard: the platform is the first keyboard, and a script with
// `keyboards 2` has a second one. The run ends (SessionEnded is thrown) when
// input is needed and none is left, or when a sleep carries the clock more
// than `limitMs` past the script's end; the caller then prints the closing
// dump with dumpEnd().
class ScriptedPlatform final : public Display, public Keyboard, public Clock {
 public:
  ScriptedPlatform(Screen& screen, Script script, DumpOptions dumps, std::int64_t limitMs,
                   std::ostream& out);
  ScriptedPlatform(const ScriptedPlatform&) = delete;
  ScriptedPlatform& operator=(const ScriptedPlatform&) = delete;

  void present() override {}
  void frameEnded(int frameNumber) override;

  unsigned char readKey() override { return firstKeyboard_.readKey(); }
  bool keyWaiting() override { return firstKeyboard_.keyWaiting(); }
  unsigned char takeWaitingKey() override { return firstKeyboard_.takeWaitingKey(); }
  std::string pullLine() override { return firstKeyboard_.pullLine(); }

  // The second keyboard, for a script with `keyboards 2`.
  bool hasSecondKeyboard() const { return script_.keyboards == 2; }
  Keyboard& secondKeyboard() { return secondKeyboard_; }

  void sleep(int milliseconds) override;
  std::int64_t nowMs() override { return clockMs_; }

  // The closing dump, printed once when the run ends.
  void dumpEnd();

  // Called each time the clock is about to move forward, with the time it
  // moves from and to (ms), so that a replay can let that time pass for real.
  void paceWith(std::function<void(std::int64_t fromMs, std::int64_t toMs)> pacer) {
    pacer_ = std::move(pacer);
  }

  // Virtual milliseconds since the start of the run.
  std::int64_t elapsedMs() const { return clockMs_ - script_.startMs; }

 private:
  // One keyboard's queue of scripted bytes, on the run's clock and dumps.
  class ScriptedKeyboard final : public Keyboard {
   public:
    // `second`: the keyboard that the script's `keyboard2` lines speak of.
    ScriptedKeyboard(ScriptedPlatform& run, const std::vector<ScriptedByte>& input, bool second)
        : run_(run), input_(input), second_(second) {}
    unsigned char readKey() override;
    bool keyWaiting() override;
    unsigned char takeWaitingKey() override;
    std::string pullLine() override;
    bool attended() override {
      return !second_ || secondKeyboardAttended(run_.script_, run_.clockMs_);
    }

   private:
    bool inputLeft() const { return next_ < input_.size(); }
    unsigned char take() { return input_[next_++].byte; }

    ScriptedPlatform& run_;
    const std::vector<ScriptedByte>& input_;
    bool second_;
    std::size_t next_ = 0;
  };

  // "@@ KIND MS" (or "@@ KIND N MS") and the screen, in one write.
  void dump(std::string_view kind, std::optional<std::int64_t> number = std::nullopt);
  void appendHeader(std::string_view kind, std::optional<std::int64_t> number);
  void appendScreen();
  void advanceTo(std::int64_t ms);

  Screen& screen_;
  Script script_;
  DumpOptions dumps_;
  std::int64_t limitMs_;
  std::ostream& out_;
  std::int64_t clockMs_;
  bool ended_ = false;
  std::string dumpText_;  // reused from dump to dump
  std::function<void(std::int64_t, std::int64_t)> pacer_;
  ScriptedKeyboard firstKeyboard_;
  ScriptedKeyboard secondKeyboard_;
};

}  // namespace skyrazor
