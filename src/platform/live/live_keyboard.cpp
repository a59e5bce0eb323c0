#include "platform/live/live_keyboard.h"

namespace skyrazor {
namespace {

// A line typed at a keyboard from afar (pilot 2's name) is cut at this
// length: longer than any name the picture has room for.
constexpr std::size_t kLongestLineFromAfar = 64;

}  // namespace

LiveSeatKeyboard::LiveSeatKeyboard(KeySource& source, Display& display, Screen& screen,
                                   KeyClock& keys, KeyboardSeat seat, SeatInbox* inbox)
    : source_(source),
      display_(display),
      keys_(keys),
      seat_(seat),
      inbox_(inbox),
      editor_(screen) {}

unsigned char LiveSeatKeyboard::readKey() {
  source_.checkEnded();
  return keys_.readKey(seat_);
}

bool LiveSeatKeyboard::keyWaiting() {
  source_.checkEnded();
  return keys_.keyWaiting(seat_);
}

unsigned char LiveSeatKeyboard::takeWaitingKey() {
  source_.checkEnded();
  return keys_.takeWaitingKey(seat_);
}

std::string LiveSeatKeyboard::pullLine() {
  source_.checkEnded();
  source_.typingLine(true);
  try {
    std::string line = readTypedLine(editor_, keys_, seat_, [this] { display_.present(); });
    source_.typingLine(false);
    return line;
  } catch (...) {
    source_.typingLine(false);
    throw;
  }
}

void LiveSeatKeyboard::expectKeys(bool expected) {
  if (inbox_ != nullptr) {
    inbox_->expectKeys(expected);
  }
  if (!expected) {
    keys_.dropKeys(seat_);
  }
}

LiveKeyboard::LiveKeyboard(KeySource& source, Display& display, Screen& screen,
                           unsigned char endOfInputKey, SeatInbox* secondSeat)
    : source_(source),
      keys_(source, endOfInputKey, secondSeat),
      first_(source, display, screen, keys_, KeyboardSeat::First) {
  if (secondSeat != nullptr) {
    second_.emplace(source, display, screen, keys_, KeyboardSeat::Second, secondSeat);
  }
}

void LiveKeyboard::sleep(int milliseconds) {
  source_.checkEnded();
  keys_.sleep(milliseconds);
}

std::int64_t LiveKeyboard::nowMs() {
  source_.checkEnded();
  return keys_.nowMs();
}

}  // namespace skyrazor
