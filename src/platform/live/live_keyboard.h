#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "console/screen.h"
#include "console/seam.h"
#include "platform/live/key_clock.h"
#include "platform/live/line_editor.h"

namespace skyrazor {

// One keyboard of a live session, read on the session's KeyClock: the one
// place where typed lines are edited and echoed key by key, and where every
// use first asks the backend whether the session is over.
class LiveSeatKeyboard final : public Keyboard {
 public:
  // `display` shows the echo of a line as it is typed; `inbox` is where the
  // seat's keys come from when not from the backend.
  LiveSeatKeyboard(KeySource& source, Display& display, Screen& screen, KeyClock& keys,
                   KeyboardSeat seat, SeatInbox* inbox = nullptr);

  unsigned char readKey() override;
  bool keyWaiting() override;
  unsigned char takeWaitingKey() override;
  std::string pullLine() override;
  void expectKeys(bool expected) override;
  bool attended() override { return inbox_ == nullptr || inbox_->seated(); }

 private:
  KeySource& source_;
  Display& display_;
  KeyClock& keys_;
  KeyboardSeat seat_;
  SeatInbox* inbox_;
  LineEditor editor_;
};

// The keyboard and the game clock of a live session, over any backend's keys
// and time (a KeySource), and pilot 2's keyboard when keys for a second seat
// come from elsewhere. A backend itself is only keys, time and presenting.
class LiveKeyboard final : public Keyboard, public Clock {
 public:
  // `endOfInputKey` is the key that ends the input at a key read (Ctrl-D on a
  // terminal, Ctrl-Z in a Windows console). With `secondSeat`, the session has
  // a second keyboard fed by it.
  LiveKeyboard(KeySource& source, Display& display, Screen& screen, unsigned char endOfInputKey,
               SeatInbox* secondSeat = nullptr);

  unsigned char readKey() override { return first_.readKey(); }
  bool keyWaiting() override { return first_.keyWaiting(); }
  unsigned char takeWaitingKey() override { return first_.takeWaitingKey(); }
  std::string pullLine() override { return first_.pullLine(); }

  void sleep(int milliseconds) override;
  std::int64_t nowMs() override;

  // Takes in what was typed so far, without waiting or moving the game
  // clock: for whoever reads keys between the game's waits.
  void takeInTyped() {
    source_.checkEnded();
    keys_.takeInTyped();
  }
  // Pilot 2's keyboard; null without a second seat.
  Keyboard* secondKeyboard() { return second_ ? &*second_ : nullptr; }

 private:
  KeySource& source_;
  KeyClock keys_;
  LiveSeatKeyboard first_;
  std::optional<LiveSeatKeyboard> second_;
};

}  // namespace skyrazor
