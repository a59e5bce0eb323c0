#pragma once

#include <cstdint>
#include <string>

#include "console/screen.h"
#include "console/seam.h"
#include "platform/live/key_clock.h"
#include "platform/live/line_editor.h"

namespace skyrazor {

// The keyboard and the game clock of a live session, over any backend's keys
// and time (a KeySource): the one place where typed lines are edited and
// echoed key by key, and where every use first asks the backend whether the
// session is over. A backend itself is only keys, time and presenting.
class LiveKeyboard final : public Keyboard, public Clock {
 public:
  // `display` shows the echo of a line as it is typed; `endOfInputKey` is the
  // key that ends the input at a key read (Ctrl-D on a terminal, Ctrl-Z in a
  // Windows console).
  LiveKeyboard(KeySource& source, Display& display, Screen& screen, unsigned char endOfInputKey);

  unsigned char readKey() override;
  bool keyWaiting() override;
  unsigned char takeWaitingKey() override;
  std::string pullLine() override;

  void sleep(int milliseconds) override;
  std::int64_t nowMs() override;

 private:
  KeySource& source_;
  Display& display_;
  KeyClock keys_;
  LineEditor editor_;
};

}  // namespace skyrazor
