#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "console/screen.h"
#include "console/seam.h"
#include "platform/scripted/script.h"
#include "platform/scripted/scripted_platform.h"

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

  unsigned char readKey() override { return firstKeyboard_.readKey(); }
  bool keyWaiting() override { return firstKeyboard_.keyWaiting(); }
  unsigned char takeWaitingKey() override { return firstKeyboard_.takeWaitingKey(); }
  std::string pullLine() override { return firstKeyboard_.pullLine(); }

  // The second keyboard, for a recording of a session with two.
  bool hasSecondKeyboard() const { return scripted_.hasSecondKeyboard(); }
  Keyboard& secondKeyboard() { return secondKeyboard_; }

  void sleep(int milliseconds) override;
  std::int64_t nowMs() override { return scripted_.nowMs(); }

  // Whether the session ended because the script did (not a key).
  bool scriptEnded() const { return scriptEnded_ && !stopped_; }
  // Says on the bottom row that the replay is over and waits for a key.
  void showEnd();

  // Real milliseconds a slice of waiting lasts at most, between looks at the
  // keyboard.
  static constexpr int kSliceMs = 20;

 private:
  // One of the script's keyboards, noting when the script runs out.
  class ReplayedKeyboard final : public Keyboard {
   public:
    ReplayedKeyboard(ReplayPlatform& replay, Keyboard& scripted)
        : replay_(replay), scripted_(scripted) {}
    unsigned char readKey() override {
      return replay_.played([this] { return scripted_.readKey(); });
    }
    bool keyWaiting() override {
      return replay_.played([this] { return scripted_.keyWaiting(); });
    }
    unsigned char takeWaitingKey() override {
      return replay_.played([this] { return scripted_.takeWaitingKey(); });
    }
    std::string pullLine() override {
      return replay_.played([this] { return scripted_.pullLine(); });
    }
    bool attended() override { return scripted_.attended(); }

   private:
    ReplayPlatform& replay_;
    Keyboard& scripted_;
  };

  void passTime(std::int64_t fromMs, std::int64_t toMs);
  // Runs one step of the scripted input or clock, noting when the script ends.
  template <typename Step>
  auto played(Step step) -> decltype(step()) {
    try {
      return step();
    } catch (const SessionEnded&) {
      scriptEnded_ = true;
      throw;
    }
  }

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
  ReplayedKeyboard firstKeyboard_{*this, scripted_};
  ReplayedKeyboard secondKeyboard_{*this, scripted_.secondKeyboard()};
};

}  // namespace skyrazor
