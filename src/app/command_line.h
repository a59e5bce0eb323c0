#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/scripted/scripted_platform.h"

namespace skyrazor {

struct ScriptedRunOptions {
  std::string scriptPath;  // "-" reads the script from standard input
  int columns = 80;
  int rows = 25;
  DumpOptions dumps;
  std::int64_t limitMs = 3600000;
};

struct ReplayOptions {
  std::string scriptPath;
  double speed = 1.0;  // 2 plays twice as fast, 0.5 at half speed
};

struct CommandLine {
  enum class Mode { Play, Help, Version, Scripted, Replay, Error };
  Mode mode = Mode::Play;
  std::string recordPath;  // for Mode::Play: where to record the session, if anywhere
  ScriptedRunOptions scripted;
  ReplayOptions replay;
  std::string error;  // for Mode::Error: what is wrong, in one line
};

CommandLine parseCommandLine(const std::vector<std::string>& arguments);

// The text of --help.
const char* usageText();

}  // namespace skyrazor
