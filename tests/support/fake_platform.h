#pragma once

#include <deque>
#include <initializer_list>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/screen.h"
#include "console/seam.h"

namespace skyrazor::testing {

// A platform for unit tests: keys and typed lines come from queues, sleeps
// are recorded, and running out of input ends the session as it would at a
// real console whose input has closed.
class FakePlatform : public Display, public Keyboard, public Clock {
 public:
  std::deque<unsigned char> keys;      // for readKey and the battle's key test
  std::deque<std::string> typedLines;  // each pulled whole, '\n' added when missing
  std::vector<int> sleeps;
  std::vector<int> endedFrames;
  int presents = 0;
  std::int64_t clockMs = std::int64_t{1000000000} * 1000;

  explicit FakePlatform(Screen& screen) : screen_(screen) {}

  void present() override { ++presents; }
  void frameEnded(int frameNumber) override { endedFrames.push_back(frameNumber); }

  unsigned char readKey() override {
    if (keys.empty()) {
      throw SessionEnded{};
    }
    unsigned char key = keys.front();
    keys.pop_front();
    return key;
  }
  bool keyWaiting() override { return !keys.empty(); }
  unsigned char takeWaitingKey() override { return readKey(); }
  std::string pullLine() override {
    if (typedLines.empty()) {
      throw SessionEnded{};
    }
    std::string line = typedLines.front();
    typedLines.pop_front();
    if (line.empty() || line.back() != '\n') {
      line += '\n';
    }
    screen_.write(line);
    return line;
  }

  void sleep(int milliseconds) override {
    sleeps.push_back(milliseconds);
    clockMs += milliseconds;
  }
  std::int64_t nowMs() override { return clockMs; }

 private:
  Screen& screen_;
};

// A console on an 80x25 screen with a fake platform behind it.
struct FakeConsole {
  Screen screen{80, 25};
  FakePlatform platform{screen};
  Console console{screen, platform, platform, platform};

  // Lines the player will type, in order.
  void type(std::initializer_list<std::string> lines) {
    for (const std::string& line : lines) {
      platform.typedLines.push_back(line);
    }
  }

  // How many screen rows show `text` somewhere.
  int rowsContaining(const std::string& text) const {
    int count = 0;
    for (int screenRow = 1; screenRow <= screen.rows(); ++screenRow) {
      count += row(screenRow).find(text) != std::string::npos ? 1 : 0;
    }
    return count;
  }

  // The text of one screen row (1-based, as the game counts), trailing blanks removed.
  std::string row(int row) const {
    std::string text;
    for (int column = 0; column < screen.columns(); ++column) {
      text += static_cast<char>(screen.cell(column, row - 1).byte);
    }
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
  }
  // The byte and foreground colour at a 1-based cell.
  unsigned char byteAt(int column, int row) const { return screen.cell(column - 1, row - 1).byte; }
  int colorAt(int column, int row) const {
    return screen.cell(column - 1, row - 1).attribute & 0x0F;
  }
};

}  // namespace skyrazor::testing
