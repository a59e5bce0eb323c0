#include "server/room_games.h"

#include <filesystem>
#include <fstream>
#include <optional>
#include <utility>

#include "console/screen.h"
#include "platform/live/live_keyboard.h"
#include "platform/scripted/printable_text.h"
#include "platform/scripted/recorded_session.h"
#include "platform/scripted/script_recorder.h"
#include "server/duel_referee.h"
#include "server/frame_periods.h"
#include "shell/game_session.h"

namespace skyrazor::network {
namespace {

// What a room's game presents goes to the room's terminals, and what it
// is doing to the lobby's row; its battle frames are timed.
class RoomDisplay final : public Display {
 public:
  RoomDisplay(Room& room, const Screen& screen) : room_(room), screen_(screen) {}
  void present() override { room_.publish(screen_, room_.firstKeys().typing()); }
  void frameEnded(int frameNumber) override {
    const std::optional<double> period = periods_.frameEnded(frameNumber);
    if (period && room_.counters() != nullptr) {
      room_.counters()->framePeriods.count(*period);
    }
  }
  void tellFacts(const GameFacts& facts) override { room_.tellFacts(facts); }
  const FramePeriods& periods() const { return periods_; }

 private:
  Room& room_;
  const Screen& screen_;
  FramePeriods periods_;
};

// A fresh file for one room session's recording: NAME.script, else
// NAME-2.script and so on, never over an earlier one.
std::optional<std::filesystem::path> recordingPath(const std::string& directory,
                                                   const std::string& room) {
  for (int number = 1; number < 10000; ++number) {
    std::filesystem::path path =
        std::filesystem::path(directory) /
        (room + (number == 1 ? "" : "-" + std::to_string(number)) + ".script");
    std::error_code error;
    if (!std::filesystem::exists(path, error) && !error) {
      return path;
    }
  }
  return std::nullopt;
}

}  // namespace

RoomGames::RoomGames(std::string recordDirectory, EventLog log)
    : recordDirectory_(std::move(recordDirectory)), log_(std::move(log)) {}

std::string RoomGames::play(Room& room) {
  try {
    return recordDirectory_.empty() ? playUnrecorded(room) : playRecorded(room);
  } catch (const std::exception& failure) {
    log_("room " + room.name() + ": its game failed (" + failure.what() + ")");
  } catch (...) {
    log_("room " + room.name() + ": its game failed");
  }
  return "";
}

std::string RoomGames::playUnrecorded(Room& room) {
  Screen screen(80, 25);
  RoomDisplay display(room, screen);
  LiveKeyboard keyboard(room.firstKeys(), display, screen, KeyClock::kCtrlD, &room);
  DuelReferee referee(room, room.firstKeys(), keyboard, keyboard, *keyboard.secondKeyboard(),
                      nullptr, roomLog(room), room.counters());
  playGameSession({screen, display, referee.firstKeyboard(), &referee.secondKeyboard(),
                   referee.clock(), &referee});
  return display.periods().summary();
}

DuelReferee::EventLog RoomGames::roomLog(const Room& room) const {
  return [this, &room](const std::string& line) { log_("room " + room.name() + ": " + line); };
}

std::string RoomGames::playRecorded(Room& room) {
  const std::optional<std::filesystem::path> path = recordingPath(recordDirectory_, room.name());
  std::ofstream file;
  if (path) {
    file.open(*path, std::ios::binary | std::ios::trunc);
  }
  if (!file) {
    log_("room " + room.name() + ": cannot write its recording in '" +
         printableFileName(recordDirectory_) + "'; it plays unrecorded");
    return playUnrecorded(room);
  }
  Screen screen(80, 25);
  RoomDisplay display(room, screen);
  LiveKeyboard keyboard(room.firstKeys(), display, screen, KeyClock::kCtrlD, &room);
  DuelReferee referee(room, room.firstKeys(), keyboard, keyboard, *keyboard.secondKeyboard(),
                      nullptr, roomLog(room), room.counters());
  ScriptRecorder recorder(file);
  RecordedClock clock(referee.clock(), recorder, 2);
  RecordedKeyboard first(referee.firstKeyboard(), clock, recorder, KeyboardSeat::First);
  RecordedKeyboard second(referee.secondKeyboard(), clock, recorder, KeyboardSeat::Second);
  playGameSession({screen, display, first, &second, clock, &referee});
  recorder.finish();
  const std::string recording = printableFileName(path->string());
  if (recorder.failed()) {
    log_("room " + room.name() + ": cannot write its recording '" + recording +
         "': " + recorder.failure());
  } else {
    log_("room " + room.name() + ": recorded in '" + recording + "'");
  }
  return display.periods().summary();
}

}  // namespace skyrazor::network
