#pragma once

#include <cstdint>
#include <string>

#include "console/console.h"
#include "console/seam.h"
#include "platform/scripted/script_recorder.h"

namespace skyrazor {

// Recording happens at the seam, above any backend: these wrappers pass every
// call on to the keyboard and clock they wrap and write down what the game
// took, at the game-clock time it took it. A scripted run of the recording
// then gives the game the same keys at the same game times.

// The game clock of a recorded session. Each sleep is a moment where the
// game has drawn what it shows; the recording's closing wait reaches the last
// such moment.
class RecordedClock final : public Clock {
 public:
  // Writes the recording's start: the clock's time now, and the keyboards.
  RecordedClock(Clock& clock, ScriptRecorder& recorder, int keyboards);

  void sleep(int milliseconds) override;
  std::int64_t nowMs() override { return clock_.nowMs(); }

 private:
  Clock& clock_;
  ScriptRecorder& recorder_;
};

// One keyboard of a recorded session: the keys the game reads or takes, and
// each typed line as its editor gave it (its raw keys are not recorded).
class RecordedKeyboard final : public Keyboard {
 public:
  RecordedKeyboard(Keyboard& keyboard, Clock& clock, ScriptRecorder& recorder,
                   KeyboardSeat seat = KeyboardSeat::First);

  unsigned char readKey() override;
  bool keyWaiting() override { return keyboard_.keyWaiting(); }
  unsigned char takeWaitingKey() override;
  std::string pullLine() override;
  void expectKeys(bool expected) override { keyboard_.expectKeys(expected); }
  // Pilot 2's keyboard has the answer written down, as the replay will ask.
  bool attended() override;

 private:
  Keyboard& keyboard_;
  Clock& clock_;
  ScriptRecorder& recorder_;
  KeyboardSeat seat_;
};

}  // namespace skyrazor
