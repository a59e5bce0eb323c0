#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace skyrazor {

// One byte of scripted input and the virtual time (ms) at which it arrives.
struct ScriptedByte {
  unsigned char byte = 0;
  std::int64_t arrivalMs = 0;
};

// From the virtual time `fromMs` on, whether someone is at the second
// keyboard (a `keyboard2` line).
struct KeyboardPresence {
  std::int64_t fromMs = 0;
  bool attended = true;
};

// A parsed script: the virtual clock's start, every input byte of each
// keyboard in order, when someone is at the second keyboard, and the script
// time after its last line (trailing waits included).
struct Script {
  std::int64_t startMs = std::int64_t{1000000000} * 1000;
  int keyboards = 1;
  std::vector<ScriptedByte> input;
  std::vector<ScriptedByte> secondInput;  // with keyboards 2
  // In script order; before the first (or with none), someone is there.
  std::vector<KeyboardPresence> secondPresence;
  std::int64_t endMs = std::int64_t{1000000000} * 1000;
};

// Whether someone is at the second keyboard at virtual time `nowMs`.
bool secondKeyboardAttended(const Script& script, std::int64_t nowMs);

struct ScriptError {
  int line = 0;
  std::string message;
};

std::variant<Script, ScriptError> parseScript(std::string_view text);

}  // namespace skyrazor
