#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "console/screen.h"
#include "console/seam.h"
#include "platform/script.h"

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
// test and typed lines all take from the one queue of scripted bytes. The run
// ends (SessionEnded is thrown) when input is needed and none is left, or when
// a sleep carries the clock more than `limitMs` past the script's end; the
// caller then prints the closing dump with dumpEnd().
class ScriptedPlatform final : public Display, public Keyboard, public Clock {
 public:
  ScriptedPlatform(Screen& screen, Script script, DumpOptions dumps, std::int64_t limitMs,
                   std::ostream& out);

  void present() override {}
  void frameEnded(int frameNumber) override;

  unsigned char readKey() override;
  bool keyWaiting() override;
  unsigned char takeWaitingKey() override;
  std::string pullLine() override;

  void sleep(int milliseconds) override;
  std::int64_t nowSeconds() override;

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
  // "@@ KIND MS" (or "@@ KIND N MS") and the screen, in one write.
  void dump(std::string_view kind, std::optional<std::int64_t> number = std::nullopt);
  void appendHeader(std::string_view kind, std::optional<std::int64_t> number);
  void appendScreen();
  bool inputLeft() const { return nextInput_ < script_.input.size(); }
  unsigned char take();
  void advanceTo(std::int64_t ms);

  Screen& screen_;
  Script script_;
  DumpOptions dumps_;
  std::int64_t limitMs_;
  std::ostream& out_;
  std::size_t nextInput_ = 0;
  std::int64_t clockMs_;
  bool ended_ = false;
  std::string dumpText_;  // reused from dump to dump
  std::function<void(std::int64_t, std::int64_t)> pacer_;
};

}  // namespace skyrazor
