#pragma once

#include <functional>
#include <string>

#include "console/screen.h"
#include "platform/live/key_clock.h"

namespace skyrazor {

// The line editing a console does for typed input, over the screen model:
// each typed character is echoed at the cursor, Backspace takes back the last
// one (never past the start of the line), Enter ends the line. Other control
// keys do nothing.
class LineEditor {
 public:
  // A line holds at most `longestLine` characters; more are ignored, as a
  // full input field ignores them.
  explicit LineEditor(Screen& screen, std::size_t longestLine = std::string::npos)
      : screen_(screen), longestLine_(longestLine) {}

  // Takes one typed byte (a code-page-437 byte; '\n' or '\r' for Enter,
  // 0x08 or 0x7F for Backspace). Returns true once the line is complete.
  bool type(unsigned char byte);

  // The completed line through its '\n'; the editor starts a new line.
  std::string takeLine();

 private:
  void eraseLastEcho();

  Screen& screen_;
  std::size_t longestLine_;
  std::string line_;
};

// Reads one typed line from one keyboard of a live session, key by key
// through the editor, and returns it through its '\n'. `showEcho` is called before each wait for
// a key that has not been taken in yet, so the player sees the echo so far.
std::string readTypedLine(LineEditor& editor, KeyClock& keys, KeyboardSeat seat,
                          const std::function<void()>& showEcho);

}  // namespace skyrazor
