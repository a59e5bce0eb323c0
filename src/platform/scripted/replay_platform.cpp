#include "platform/scripted/replay_platform.h"

#include <algorithm>
#include <string_view>
#include <utility>

namespace skyrazor {

ReplayPlatform::ReplayPlatform(Screen& screen, Script script, double speed, Display& liveDisplay,
                               Keyboard& liveKeys, Clock& liveClock)
    : screen_(screen),
      liveDisplay_(liveDisplay),
      liveKeys_(liveKeys),
      liveClock_(liveClock),
      speed_(speed),
      // A recording ends with a wait up to the moment its session ended:
      // the replay stops there.
      scripted_(screen, std::move(script), DumpOptions{}, 0, noDumps_) {
  scripted_.paceWith([this](std::int64_t fromMs, std::int64_t toMs) { passTime(fromMs, toMs); });
}

void ReplayPlatform::sleep(int milliseconds) {
  played([this, milliseconds] { scripted_.sleep(milliseconds); });
}

void ReplayPlatform::passTime(std::int64_t fromMs, std::int64_t toMs) {
  owedMs_ += static_cast<double>(toMs - fromMs) / speed_;
  try {
    for (;;) {
      if (liveKeys_.keyWaiting()) {
        throw SessionEnded{0};
      }
      if (owedMs_ < 1) {
        return;
      }
      int slice = static_cast<int>(std::min<double>(owedMs_, kSliceMs));
      liveClock_.sleep(slice);
      owedMs_ -= slice;
    }
  } catch (const SessionEnded&) {
    stopped_ = true;
    throw;
  }
}

void ReplayPlatform::showEnd() {
  static constexpr std::string_view kMessage = "End of the replay: press any key";
  int row = screen_.rows() - 1;
  screen_.blankCells(0, row, screen_.columns());
  screen_.placeCursor(0, row);
  // Short of the last column, so the screen does not scroll.
  screen_.write(kMessage.substr(
      0, std::min<std::size_t>(kMessage.size(),
                               static_cast<std::size_t>(std::max(screen_.columns() - 1, 0)))));
  liveDisplay_.present();
  liveKeys_.readKey();
}

}  // namespace skyrazor
