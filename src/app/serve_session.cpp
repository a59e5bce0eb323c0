#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>

#include "app/network_sessions.h"
#include "app/network_status.h"
#include "console/screen.h"
#include "platform/live/inbox_key_source.h"
#include "platform/live/live_keyboard.h"
#include "platform/network/network_error.h"
#include "platform/scripted/printable_text.h"
#include "platform/scripted/recorded_session.h"
#include "platform/scripted/script_recorder.h"
#include "server/game_server.h"
#include "server/host_server.h"
#include "shell/game_session.h"

namespace skyrazor {
namespace {

using network::Room;

// The server's log: one line per event on standard error, each with the UTC
// time it happened. Rooms' games write to it from their own threads.
class EventLog {
 public:
  void write(const std::string& line) {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    std::array<char, 32> stamp{};
    std::strftime(stamp.data(), stamp.size(), "%Y-%m-%dT%H:%M:%SZ", &utc);
    std::lock_guard lock(mutex_);
    std::cerr << stamp.data() << ' ' << line << '\n' << std::flush;
  }

 private:
  std::mutex mutex_;
};

// How evenly a room's battles ran: the time between one battle frame's end
// and the next's, counted in tenths of a millisecond up to a fifth of a
// second (longer ones counted together), so that a room that plays for days
// keeps the same few kilobytes.
class FramePeriods {
 public:
  void frameEnded(int frameNumber) {
    const auto now = std::chrono::steady_clock::now();
    if (lastFrame_ && frameNumber == *lastFrame_ + 1) {
      const double ms = std::chrono::duration<double, std::milli>(now - lastEnd_).count();
      longestMs_ = std::max(longestMs_, ms);
      const auto tenths = static_cast<std::size_t>(ms * 10.0);
      counts_[std::min(tenths, counts_.size() - 1)] += 1;
      total_ += 1;
    }
    lastFrame_ = frameNumber;
    lastEnd_ = now;
  }

  std::string summary() const {
    if (total_ == 0) {
      return "no battle frames";
    }
    std::array<char, 160> text{};
    std::snprintf(text.data(), text.size(),
                  "%llu battle frames; period median %.1f ms, p99 %.1f ms, max %.1f ms",
                  static_cast<unsigned long long>(total_ + 1), percentileMs(0.5),
                  percentileMs(0.99), longestMs_);
    return text.data();
  }

 private:
  // The upper edge of the tenth in which that share of the periods ends.
  double percentileMs(double share) const {
    const auto wanted = static_cast<std::uint64_t>(share * static_cast<double>(total_ - 1)) + 1;
    std::uint64_t seen = 0;
    for (std::size_t tenths = 0; tenths < counts_.size(); ++tenths) {
      seen += counts_[tenths];
      if (seen >= wanted) {
        return std::min(static_cast<double>(tenths + 1) / 10.0, longestMs_);
      }
    }
    return longestMs_;
  }

  std::array<std::uint32_t, 2000> counts_{};
  std::uint64_t total_ = 0;
  double longestMs_ = 0.0;
  std::optional<int> lastFrame_;
  std::chrono::steady_clock::time_point lastEnd_;
};

// What a room's game presents goes to the room's terminals; its battle
// frames are timed.
class RoomDisplay final : public Display {
 public:
  RoomDisplay(Room& room, const Screen& screen) : room_(room), screen_(screen) {}
  void present() override { room_.publish(screen_, room_.firstKeys().typing()); }
  void frameEnded(int frameNumber) override { periods_.frameEnded(frameNumber); }
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

class RoomGames {
 public:
  RoomGames(const ServeOptions& serve, EventLog& log) : serve_(serve), log_(log) {}

  // The whole game for one room, on the room's own thread. Nothing that goes
  // wrong in it may take the server down: it ends that room only.
  std::string play(Room& room) {
    try {
      return serve_.recordDirectory.empty() ? playUnrecorded(room) : playRecorded(room);
    } catch (const std::exception& failure) {
      log_.write("room " + room.name() + ": its game failed (" + failure.what() + ")");
    } catch (...) {
      log_.write("room " + room.name() + ": its game failed");
    }
    return "";
  }

 private:
  std::string playUnrecorded(Room& room) {
    Screen screen(80, 25);
    RoomDisplay display(room, screen);
    LiveKeyboard keyboard(room.firstKeys(), display, screen, KeyClock::kCtrlD, &room);
    playGameSession({screen, display, keyboard, keyboard.secondKeyboard(), keyboard});
    return display.periods().summary();
  }

  std::string playRecorded(Room& room) {
    const std::optional<std::filesystem::path> path =
        recordingPath(serve_.recordDirectory, room.name());
    std::ofstream file;
    if (path) {
      file.open(*path, std::ios::binary | std::ios::trunc);
    }
    if (!file) {
      log_.write("room " + room.name() + ": cannot write its recording in '" +
                 printableFileName(serve_.recordDirectory) + "'; it plays unrecorded");
      return playUnrecorded(room);
    }
    Screen screen(80, 25);
    RoomDisplay display(room, screen);
    LiveKeyboard keyboard(room.firstKeys(), display, screen, KeyClock::kCtrlD, &room);
    ScriptRecorder recorder(file);
    RecordedClock clock(keyboard, recorder, 2);
    RecordedKeyboard first(keyboard, keyboard, recorder, KeyboardSeat::First);
    RecordedKeyboard second(*keyboard.secondKeyboard(), keyboard, recorder, KeyboardSeat::Second);
    playGameSession({screen, display, first, &second, clock});
    recorder.finish();
    const std::string recording = printableFileName(path->string());
    if (recorder.failed()) {
      log_.write("room " + room.name() + ": cannot write its recording '" + recording +
                 "': " + recorder.failure());
    } else {
      log_.write("room " + room.name() + ": recorded in '" + recording + "'");
    }
    return display.periods().summary();
  }

  const ServeOptions& serve_;
  EventLog& log_;
};

bool prepareRecordDirectory(const std::string& directory) {
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  return std::filesystem::is_directory(directory, error) && !error;
}

}  // namespace

int serveRooms(const NetworkOptions& network, const ServeOptions& serve) {
  if (!serve.recordDirectory.empty() && !prepareRecordDirectory(serve.recordDirectory)) {
    std::cerr << "skyrazor: cannot write recordings in '"
              << printableFileName(serve.recordDirectory) << "'\n";
    return 2;
  }
  EventLog log;
  RoomGames games(serve, log);
  network::ServerOptions options;
  options.address = network.address;
  options.port = network.port;
  options.mostPerAddress = serve.mostPerAddress;
  options.mostRooms = serve.mostRooms;
  options.localSocket = serve.sshSocket;
  std::unique_ptr<network::GameServer> server;
  try {
    server = std::make_unique<network::GameServer>(
        options, [&games](Room& room) { return games.play(room); },
        [&log](const std::string& line) { log.write(line); });
  } catch (const network::NetworkError& error) {
    std::cerr << "skyrazor: " << error.what() << "\n";
    return 1;
  }
  const std::string where =
      network.address.empty() ? "every address" : endpointText(network.address, server->port());
  log.write("serving on " +
            (network.address.empty() ? "port " + std::to_string(server->port()) + " of " + where
                                     : where) +
            (serve.sshSocket.empty() ? "" : ", and for ssh on " + serve.sshSocket));
  server->serveUntilStopped();
  server.reset();
  log.write("stopped");
  return 0;
}

}  // namespace skyrazor
