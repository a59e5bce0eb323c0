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

// A parsed script: the virtual clock's start, every input byte of each
// keyboard in order, and the script time after its last line (trailing waits
// included).
struct Script {
  std::int64_t startMs = std::int64_t{1000000000} * 1000;
  int keyboards = 1;
  std::vector<ScriptedByte> input;
  std::vector<ScriptedByte> secondInput;  // with keyboards 2
  std::int64_t endMs = std::int64_t{1000000000} * 1000;
};

struct ScriptError {
  int line = 0;
  std::string message;
};

std::variant<Script, ScriptError> parseScript(std::string_view text);

}  // namespace skyrazor
