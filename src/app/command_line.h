#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/scripted_platform.h"

namespace skyrazor {

struct ScriptedRunOptions {
  std::string scriptPath;  // "-" reads the script from standard input
  int columns = 80;
  int rows = 25;
  DumpOptions dumps;
  std::int64_t limitMs = 3600000;
};

struct CommandLine {
  enum class Mode { Play, Help, Version, Scripted, Error };
  Mode mode = Mode::Play;
  ScriptedRunOptions scripted;
  std::string error;  // for Mode::Error: what is wrong, in one line
};

CommandLine parseCommandLine(const std::vector<std::string>& arguments);

// The text of --help.
const char* usageText();

}  // namespace skyrazor
