#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "app/command_line.h"
#include "app/live_platform.h"
#include "app/network_sessions.h"
#include "app/recording_news.h"
#include "console/screen.h"
#include "platform/live/live_keyboard.h"
#include "platform/live/standard_streams.h"
#include "platform/scripted/printable_text.h"
#include "platform/scripted/recorded_session.h"
#include "platform/scripted/replay_platform.h"
#include "platform/scripted/script.h"
#include "platform/scripted/script_recorder.h"
#include "platform/scripted/scripted_platform.h"
#include "shell/game_session.h"

namespace {

using namespace skyrazor;

// Plays until the session ends: Ctrl-C or another ending signal (status 128
// plus the signal's number; on Windows the status of a program Ctrl-C ended)
// or the end of input (status 0). The terminal is given back when `terminal`
// goes out of scope, before anything is printed. With a recorder, the session
// is recorded as it goes.
int playOnTerminal(ScriptRecorder* recorder) {
  Screen screen(80, 25);
  try {
    LivePlatform terminal(screen);
    LiveKeyboard keyboard(terminal, terminal, screen, LivePlatform::kEndOfInputKey);
    if (recorder == nullptr) {
      return playGameSession({screen, terminal, keyboard, nullptr, keyboard});
    }
    RecordedClock clock(keyboard, *recorder, 1);
    RecordedKeyboard recordedKeyboard(keyboard, keyboard, *recorder);
    RecordingNews news(*recorder, terminal);
    return playGameSession({screen, terminal, recordedKeyboard, nullptr, clock});
  } catch (const TerminalUnavailable& unavailable) {
    std::cerr << "skyrazor: " << unavailable.what() << "\n";
    return 1;
  }
}

// Plays with `play` (on the terminal, or hosting) and records the session
// into `path` when one is given.
int playRecorded(const std::string& path, const std::function<int(ScriptRecorder*)>& play) {
  if (path.empty()) {
    return play(nullptr);
  }
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) {
    std::cerr << "skyrazor: cannot write the recording '" << printableFileName(path) << "'\n";
    return 2;
  }
  ScriptRecorder recorder(file);
  int exitStatus = play(&recorder);
  recorder.finish();
  if (recorder.failed()) {
    std::cerr << "skyrazor: cannot write the recording '" << printableFileName(path)
              << "': " << recorder.failure() << "\n";
    return 2;
  }
  return exitStatus;
}

bool readScriptText(const std::string& path, std::string& text) {
  if (path == "-") {
    text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    return true;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return false;
  }
  try {
    text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  } catch (const std::ios_base::failure&) {
    return false;  // a directory, or a read error part way through
  }
  return !file.bad();
}

// The script at `path`, or the status to exit with when it cannot be had.
std::variant<Script, int> loadScript(const std::string& path) {
  std::string text;
  if (!readScriptText(path, text)) {
    std::cerr << "skyrazor: cannot read script '" << printableFileName(path) << "'\n";
    return 2;
  }
  std::variant<Script, ScriptError> parsed = parseScript(text);
  if (const ScriptError* error = std::get_if<ScriptError>(&parsed)) {
    std::cerr << "skyrazor: " << error->line << ": " << error->message << "\n";
    return 2;
  }
  return std::move(std::get<Script>(parsed));
}

// Plays a script on the terminal at its own pace. A key stops it; at its
// end the bottom row says so and a key leaves.
int replayOnTerminal(const ReplayOptions& options) {
  std::variant<Script, int> script = loadScript(options.scriptPath);
  if (const int* status = std::get_if<int>(&script)) {
    return *status;
  }
  Screen screen(80, 25);
  try {
    LivePlatform terminal(screen);
    LiveKeyboard keyboard(terminal, terminal, screen, LivePlatform::kEndOfInputKey);
    ReplayPlatform replay(screen, std::move(std::get<Script>(script)), options.speed, terminal,
                          keyboard, keyboard);
    Keyboard* secondKeyboard = replay.hasSecondKeyboard() ? &replay.secondKeyboard() : nullptr;
    int exitStatus = playGameSession({screen, replay, replay, secondKeyboard, replay});
    if (replay.scriptEnded()) {
      try {
        replay.showEnd();
      } catch (const SessionEnded& ended) {
        exitStatus = ended.exitStatus;
      }
    }
    return exitStatus;
  } catch (const TerminalUnavailable& unavailable) {
    std::cerr << "skyrazor: " << unavailable.what() << "\n";
    return 1;
  }
}

int playScripted(const ScriptedRunOptions& options) {
  std::variant<Script, int> script = loadScript(options.scriptPath);
  if (const int* status = std::get_if<int>(&script)) {
    return *status;
  }
  Screen screen(options.columns, options.rows);
  ScriptedPlatform platform(screen, std::move(std::get<Script>(script)), options.dumps,
                            options.limitMs, std::cout);
  Keyboard* secondKeyboard = platform.hasSecondKeyboard() ? &platform.secondKeyboard() : nullptr;
  playGameSession({screen, platform, platform, secondKeyboard, platform});
  platform.dumpEnd();
  std::cout.flush();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  useBinaryStandardStreams();
  std::vector<std::string> arguments(argv + 1, argv + argc);
  CommandLine commandLine = parseCommandLine(arguments);
  switch (commandLine.mode) {
    case CommandLine::Mode::Help:
      std::cout << usageText();
      return 0;
    case CommandLine::Mode::Version:
      std::cout << "skyrazor " << SKYRAZOR_VERSION << "\n";
      return 0;
    case CommandLine::Mode::Error:
      std::cerr << "skyrazor: " << commandLine.error << "\n";
      return 2;
    case CommandLine::Mode::Scripted:
      return playScripted(commandLine.scripted);
    case CommandLine::Mode::Replay:
      return replayOnTerminal(commandLine.replay);
    case CommandLine::Mode::Host:
      return playRecorded(commandLine.recordPath, [&](ScriptRecorder* recorder) {
        return hostOnTerminal(commandLine.network, recorder);
      });
    case CommandLine::Mode::Serve:
      return serveRooms(commandLine.network, commandLine.serve);
    case CommandLine::Mode::Join:
    case CommandLine::Mode::Watch:
      return joinOnTerminal(commandLine.network, commandLine.mode == CommandLine::Mode::Join);
    case CommandLine::Mode::Play:
      break;
  }
  return playRecorded(commandLine.recordPath, playOnTerminal);
}
