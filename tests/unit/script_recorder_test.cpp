#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "console/screen.h"
#include "console/seam.h"
#include "platform/live/key_clock.h"
#include "platform/live/live_keyboard.h"
#include "platform/scripted/recorded_session.h"
#include "platform/scripted/script.h"
#include "platform/scripted/script_recorder.h"
#include "support/fake_platform.h"

namespace skyrazor {
namespace {

// A wall clock that waiting moves, and keys typed at given wall times; it
// shows nothing.
class TypingTerminal : public KeySource, public Display {
 public:
  void present() override {}
  explicit TypingTerminal(std::int64_t start) : wall(start) {}
  std::int64_t wall;
  std::map<std::int64_t, std::string> typedAt;

  std::int64_t wallMs() override { return wall; }
  void waitUntil(std::int64_t deadlineMs) override { wall = std::max(wall, deadlineMs); }
  bool waitForInput() override {
    if (typedAt.empty()) {
      throw SessionEnded{0};
    }
    wall = std::max(wall, typedAt.begin()->first);
    return true;
  }
  void takeTyped(std::string& bytes, bool) override {
    while (!typedAt.empty() && typedAt.begin()->first <= wall) {
      bytes += typedAt.begin()->second;
      typedAt.erase(typedAt.begin());
    }
  }
};

Script parsed(const std::string& text) {
  std::variant<Script, ScriptError> result = parseScript(text);
  EXPECT_TRUE(std::holds_alternative<Script>(result)) << text;
  return std::holds_alternative<Script>(result) ? std::get<Script>(result) : Script{};
}

TEST(ScriptRecorderTest, EscapedTextParsesBackToTheSameBytes) {
  std::string everyByte;
  for (int byte = 0; byte < 256; ++byte) {
    everyByte += static_cast<char>(byte);
  }
  for (const std::string& bytes : {everyByte, std::string(" "), std::string("  a b  "),
                                   std::string("\\n"), std::string("x\\")}) {
    Script script = parsed("key " + escapeScriptText(bytes) + "\n");
    std::string back;
    for (const ScriptedByte& input : script.input) {
      back += static_cast<char>(input.byte);
    }
    EXPECT_EQ(back, bytes);
  }
  EXPECT_EQ(escapeScriptText(" a b "), "\\sa b\\s");
}

// A live session recorded at the seam: the title waits for a key, a prompt
// takes a line typed with a Backspace, a battle sleeps its frames and both
// pilots' phases take the two keys typed in one frame, and the player leaves
// halfway through a sleep.
TEST(ScriptRecorderTest, RecordsTheKeysAsTheGameTookThemOnItsClock) {
  TypingTerminal terminal(1'700'000'000'250);  // a quarter into a second
  terminal.typedAt = {{1'700'000'001'000, "x"},
                      {1'700'000'002'000, "Alx\b"},
                      {1'700'000'002'500, "ice\n"},
                      {1'700'000'003'120, "ea"}};
  std::ostringstream file;
  ScriptRecorder recorder(file);
  Screen screen(80, 25);
  LiveKeyboard live(terminal, terminal, screen, KeyClock::kCtrlD);
  RecordedClock clock(live, recorder, 1);
  RecordedKeyboard keys(live, live, recorder);

  EXPECT_EQ(keys.readKey(), 'x');
  EXPECT_EQ(keys.pullLine(), "Alice\n");
  std::string taken;
  for (int frame = 0; frame < 20; ++frame) {
    clock.sleep(50);
    for (int phase = 0; phase < 2; ++phase) {
      if (keys.keyWaiting()) {
        taken += static_cast<char>(keys.takeWaitingKey());
      }
    }
  }
  EXPECT_EQ(taken, "ea");
  terminal.typedAt.clear();
  std::int64_t lastSleepStart = clock.nowMs();
  clock.sleep(50);  // the sleep the player leaves in: its frame is not shown
  recorder.finish();

  // The game clock runs whole seconds behind the wall clock's quarter.
  EXPECT_EQ(file.str(),
            "clock 1700000000\n"
            "wait 750\nkey x\n"
            "wait 1500\ntype Alice\n"
            "wait 650\nkey e\nkey a\n"
            "wait " +
                std::to_string(lastSleepStart - 1'700'000'002'900) + "\n");

  // Played back, the keys arrive when the game took them in.
  Script script = parsed(file.str());
  EXPECT_EQ(script.startMs, 1'700'000'000'000);
  ASSERT_EQ(script.input.size(), 9U);
  EXPECT_EQ(script.input[0].arrivalMs, 1'700'000'000'750);
  EXPECT_EQ(script.input[6].arrivalMs, 1'700'000'002'250);
  EXPECT_EQ(script.input[7].arrivalMs, 1'700'000'002'900);
  EXPECT_EQ(script.endMs, lastSleepStart);
}

TEST(ScriptRecorderTest, AnEmptyLineAndTheEndOfInputKey) {
  TypingTerminal terminal(1'700'000'000'000);
  terminal.typedAt = {{1'700'000'000'400, "\n"}, {1'700'000'000'900, "\x04"}};
  std::ostringstream file;
  ScriptRecorder recorder(file);
  Screen screen(80, 25);
  LiveKeyboard live(terminal, terminal, screen, KeyClock::kCtrlD);
  RecordedClock clock(live, recorder, 1);
  RecordedKeyboard keys(live, live, recorder);
  EXPECT_EQ(keys.pullLine(), "\n");
  EXPECT_THROW(keys.readKey(), SessionEnded);
  recorder.finish();
  recorder.finish();
  // Ctrl-D ends the session; a replay ends at that key read for want of input.
  EXPECT_EQ(file.str(), "clock 1700000000\nwait 400\nkey \\n\n");
}

// Two keyboards: the second one's keys and lines are written as key2 and
// type2 after `keyboards 2`, and parse back onto the second keyboard.
TEST(ScriptRecorderTest, TheSecondKeyboardIsRecordedAsKey2AndType2) {
  std::ostringstream file;
  ScriptRecorder recorder(file);
  recorder.start(1'700'000'000'000, 2);
  recorder.line("Bob\n", 1'700'000'000'100, KeyboardSeat::Second);
  recorder.key('a', 1'700'000'000'200);
  recorder.key('\n', 1'700'000'000'200, KeyboardSeat::Second);
  EXPECT_EQ(file.str(),
            "clock 1700000000\nkeyboards 2\nwait 100\ntype2 Bob\nwait 100\nkey a\nkey2 \\n\n");
  Script script = parsed(file.str());
  EXPECT_EQ(script.keyboards, 2);
  EXPECT_EQ(script.input.size(), 1U);
  EXPECT_EQ(script.secondInput.size(), 5U);
}

// Whether someone is at pilot 2's keyboard, each time the game asks: written
// where the answer changes, so that a replay asking at the same game times
// has the same answers.
TEST(ScriptRecorderTest, WhoIsAtTheSecondKeyboardReplaysAsAnswered) {
  struct SeatAtHost final : testing::FakePlatform {
    using FakePlatform::FakePlatform;
    bool attended() override { return there; }
    bool there = true;
  };
  Screen screen(80, 25);
  SeatAtHost seat(screen);
  seat.clockMs = 1'700'000'000'000;
  std::ostringstream file;
  ScriptRecorder recorder(file);
  RecordedClock clock(seat, recorder, 2);
  RecordedKeyboard first(seat, clock, recorder, KeyboardSeat::First);
  RecordedKeyboard second(seat, clock, recorder, KeyboardSeat::Second);
  const std::vector<std::pair<std::int64_t, bool>> asked = {
      {100, true}, {200, false}, {300, false}, {400, true}};
  for (const auto& [afterMs, there] : asked) {
    seat.clockMs = 1'700'000'000'000 + afterMs;
    seat.there = there;
    EXPECT_EQ(second.attended(), there);
    EXPECT_EQ(first.attended(), there);  // the first keyboard's answer is not written
  }
  EXPECT_EQ(file.str(),
            "clock 1700000000\nkeyboards 2\nwait 200\nkeyboard2 away\nwait 200\nkeyboard2 here\n");
  Script script = parsed(file.str());
  for (const auto& [afterMs, there] : asked) {
    EXPECT_EQ(secondKeyboardAttended(script, 1'700'000'000'000 + afterMs), there) << afterMs;
  }
}

// A full disk: the first failed write is told once, with its reason, and the
// recording stays failed; the game is not stopped by it.
TEST(ScriptRecorderTest, AFailedWriteIsToldOnce) {
  std::ostringstream file;
  ScriptRecorder recorder(file);
  std::vector<std::string> told;
  recorder.onFailure([&told](const std::string& why) { told.push_back(why); });
  recorder.start(1'700'000'000'000);
  EXPECT_FALSE(recorder.failed());
  file.setstate(std::ios::badbit);
  recorder.key('a', 1'700'000'000'100);
  recorder.key('b', 1'700'000'000'200);
  recorder.finish();
  EXPECT_TRUE(recorder.failed());
  ASSERT_EQ(told.size(), 1U);
  EXPECT_EQ(told[0], recorder.failure());
  EXPECT_FALSE(told[0].empty());
}

}  // namespace
}  // namespace skyrazor
