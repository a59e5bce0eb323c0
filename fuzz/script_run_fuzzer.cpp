// Arbitrary bytes as the script of a scripted run: the parser first, and
// every script it takes is played through the whole program on a small
// screen with a short --limit, the battle's promises checked after every
// frame and a watch for loops that spin. Any broken promise, spin, crash or
// sanitizer report ends the process, which is what the fuzzer looks for.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <streambuf>
#include <string_view>
#include <variant>

#include "console/console.h"
#include "platform/scripted/script.h"
#include "platform/scripted/scripted_platform.h"
#include "shell/game.h"
#include "shell/game_session.h"
#include "support/watchful_platform.h"

namespace {

using namespace skyrazor;

constexpr std::int64_t kLimitMs = 1000;
// Enough for a battle or two; a script whose waits outlast this ends here.
constexpr std::int64_t kFrameCap = 800;

struct ScreenSize {
  int columns;
  int rows;
};
// Down to a single cell, and never larger than the game's usual 80x25.
constexpr ScreenSize kScreens[] = {{1, 1}, {20, 8}, {41, 13}, {80, 25}};

class DiscardingBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type character) override { return character; }
  std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::variant<Script, ScriptError> parsed =
      parseScript(std::string_view(reinterpret_cast<const char*>(data), size));
  if (std::holds_alternative<ScriptError>(parsed)) {
    return 0;
  }
  // The screen and the dumps follow from the input's length, so that one
  // input always plays the same way.
  const ScreenSize screenSize = kScreens[size % 4];
  // Dumps of every sleep and frame only where the screen is small.
  const bool small = screenSize.columns * screenSize.rows <= 20 * 8;
  const DumpOptions dumps{true, small, small && (size / 4) % 2 == 0, (size / 8) % 2 == 0};

  DiscardingBuffer discarded;
  std::ostream out(&discarded);
  Screen screen(screenSize.columns, screenSize.rows);
  ScriptedPlatform run(screen, std::move(std::get<Script>(parsed)), dumps, kLimitMs, out);
  testing::WatchfulPlatform watch(run, kFrameCap);
  try {
    playGameSession({screen, watch, watch, watch.secondKeyboard(), watch},
                    [&watch](Game& game) { watch.watch(game.duel); });
    run.dumpEnd();
  } catch (const testing::WatchAlarm& alarm) {
    std::fprintf(stderr, "watch: %s\n", alarm.what.c_str());
    std::abort();
  }
  return 0;
}
