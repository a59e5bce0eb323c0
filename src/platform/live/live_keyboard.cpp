#include "platform/live/live_keyboard.h"

namespace skyrazor {

LiveKeyboard::LiveKeyboard(KeySource& source, Display& display, Screen& screen,
                           unsigned char endOfInputKey)
    : source_(source), display_(display), keys_(source, endOfInputKey), editor_(screen) {}

unsigned char LiveKeyboard::readKey() {
  source_.checkEnded();
  return keys_.readKey();
}

bool LiveKeyboard::keyWaiting() {
  source_.checkEnded();
  return keys_.keyWaiting();
}

unsigned char LiveKeyboard::takeWaitingKey() {
  source_.checkEnded();
  return keys_.takeWaitingKey();
}

std::string LiveKeyboard::pullLine() {
  source_.checkEnded();
  source_.typingLine(true);
  try {
    std::string line = readTypedLine(editor_, keys_, [this] { display_.present(); });
    source_.typingLine(false);
    return line;
  } catch (...) {
    source_.typingLine(false);
    throw;
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
