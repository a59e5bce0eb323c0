#pragma once

#include <cstdint>
#include <ostream>

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

 private:
  void dump(std::string_view kind);
  std::int64_t elapsedMs() const { return clockMs_ - script_.startMs; }

  Screen& screen_;
  Script script_;
  DumpOptions dumps_;
  std::int64_t limitMs_;
  std::ostream& out_;
  std::size_t nextInput_ = 0;
  std::int64_t clockMs_;
};

}  // namespace skyrazor
