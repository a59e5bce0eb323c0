#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>

#include "console/console.h"

namespace skyrazor {

// Writes a live session as a script that a scripted run plays back exactly:
// `clock` with the session's start (and `keyboards 2` for a session with a
// second keyboard), each key the game took as `key` (`key2`) and each typed
// line as `type` (`type2`), at the game-clock time it was taken, with `wait`
// lines between, and `keyboard2 away` or `keyboard2 here` where the game
// found the second keyboard other than it last did. Every event is flushed
// at once, so the file survives the session being cut short; finish() adds
// the closing `wait` up to the moment the session ended, so that a replay
// with no extra time stops there.
class ScriptRecorder {
 public:
  explicit ScriptRecorder(std::ostream& out) : out_(out) {}

  // The game clock's start, in ms (a whole second), and how many keyboards
  // the session has.
  void start(std::int64_t clockMs, int keyboards = 1);
  void key(unsigned char byte, std::int64_t stampMs, KeyboardSeat seat = KeyboardSeat::First);
  // A finished line as the line editor returned it, its '\n' included.
  void line(std::string_view text, std::int64_t stampMs, KeyboardSeat seat = KeyboardSeat::First);
  // The game asked whether someone is at the second keyboard, and this was
  // the answer.
  void secondKeyboardAttended(bool attended, std::int64_t stampMs);
  // The game is about to wait (sleep, or wait for a key) at this game time:
  // whatever it shows from now on was drawn by then.
  void waitBegins(std::int64_t clockMs) { endMs_ = clockMs; }
  // The closing wait; called once, on the way out.
  void finish();

  // Whether a write has failed (a full disk, say), and why. The game plays on:
  // the player is told at once through `onFailure` and again on the way out.
  bool failed() const { return !failure_.empty(); }
  const std::string& failure() const { return failure_; }
  void onFailure(std::function<void(const std::string& why)> tell) { tell_ = std::move(tell); }

 private:
  void waitUntil(std::int64_t stampMs);
  // Flushes, and notes the first write that fails.
  void flush();

  std::ostream& out_;
  std::string failure_;
  std::function<void(const std::string&)> tell_;
  std::int64_t scriptMs_ = 0;  // the script time after the lines written so far
  std::int64_t endMs_ = 0;
  bool secondAttended_ = true;  // as a script has it before any `keyboard2`
  bool finished_ = false;
};

// TEXT of a `key` or `type` line that stands for exactly these bytes: control
// bytes, bytes above 0x7E and the backslash escaped, and a space at either end
// written as \s so it survives editors that trim lines.
std::string escapeScriptText(std::string_view bytes);

}  // namespace skyrazor
