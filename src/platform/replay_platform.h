#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "console/screen.h"
#include "console/seam.h"
#include "platform/script.h"
#include "platform/scripted_platform.h"

namespace skyrazor {

// Plays a script on a live display: the game's input and clock are the
// script's (exactly as in a scripted run), while the time the script lets
// pass also passes for real, `speed` times faster. The live keyboard only
// stops the replay: any key ends it (Ctrl-C and the like end the live
// session as always).
class ReplayPlatform final : public Display, public Keyboard, public Clock {
 public:
  ReplayPlatform(Screen& screen, Script script, double speed, Display& liveDisplay,
                 Keyboard& liveKeys, Clock& liveClock);

  void present() override { liveDisplay_.present(); }

  unsigned char readKey() override;
  bool keyWaiting() override;
  unsigned char takeWaitingKey() override;
  std::string pullLine() override;

  void sleep(int milliseconds) override;
  std::int64_t nowSeconds() override { return scripted_.nowSeconds(); }

  // Whether the session ended because the script did (not a key).
  bool scriptEnded() const { return scriptEnded_ && !stopped_; }
  // Says on the bottom row that the replay is over and waits for a key.
  void showEnd();

  // Real milliseconds a slice of waiting lasts at most, between looks at the
  // keyboard.
  static constexpr int kSliceMs = 20;

 private:
  void passTime(std::int64_t fromMs, std::int64_t toMs);
  template <typename Step>
  auto played(Step step);

  Screen& screen_;
  Display& liveDisplay_;
  Keyboard& liveKeys_;
  Clock& liveClock_;
  double speed_;
  double owedMs_ = 0;  // real time still to let pass
  bool scriptEnded_ = false;
  bool stopped_ = false;  // by a key, or by the live session ending
  std::ostream noDumps_{nullptr};
  ScriptedPlatform scripted_;
};

}  // namespace skyrazor
