// The network game's figures, all on loopback (127.0.0.1):
//
// - bytes on the wire per battle frame (screen messages with their framing)
//   for one peer, beside the bytes the terminal is written for the same
//   frames and the changed-cell minimum. The battles are scripted: played
//   headless in this process for the pictures the host would publish, and
//   replayed (--replay) by the real program in a pseudo-terminal for the
//   terminal's bytes;
// - the joined pilot's key-to-screen time: a live host game in this process
//   (a HostServer, the live keyboard with the server as its second seat over
//   keys fed at wall-clock times, the game on a thread of its own) and a
//   JoinClient flying the right ship, from sendKeys to the first picture in
//   which it has moved;
// - the host's frame period (between frame ends) with the pilot and 16
//   watchers (14 clients, one raw socket that counts what it is sent and one
//   that never reads), with the pilot alone and with no peers at all;
// - the host's CPU time per watcher. The watchers run in a child process
//   (this program again, with --watchers), so that this process's CPU time is
//   the host's game, its network thread and the pilot's client; the network
//   thread's own CPU time comes from its scheduler statistics.
//
//   skyrazor_network_figures PATH/TO/skyrazor
//
// Exits 1 when something could not be measured; a missed goal is reported,
// not an error.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "console/cp437.h"
#include "console/screen.h"
#include "console/seam.h"
#include "picture_text.h"
#include "platform/live/inbox_key_source.h"
#include "platform/live/key_clock.h"
#include "platform/live/live_keyboard.h"
#include "platform/network/boost_asio.h"
#include "platform/network/join_client.h"
#include "platform/network/screen_updates.h"
#include "platform/network/wire_format.h"
#include "platform/scripted/script.h"
#include "platform/scripted/scripted_platform.h"
#include "server/host_server.h"
#include "shell/game_session.h"
#include "statistics.h"

namespace {

using namespace skyrazor;
using SteadyClock = std::chrono::steady_clock;
using Milliseconds = std::chrono::duration<double, std::milli>;

constexpr int kColumns = 80;
constexpr int kRows = 25;
constexpr int kGameSpeed = 50;  // the standard speed
constexpr char kJoinCode[] = "BENCH";
constexpr int kWatchers = 16;
constexpr auto kTextTimeout = std::chrono::seconds(20);
// Writes to the terminal closer together than this belong to one update.
constexpr auto kUpdateGap = std::chrono::milliseconds(2);

struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

using skyrazor::bench::maximum;
using skyrazor::bench::median;
using skyrazor::bench::percentile;
using skyrazor::bench::showsText;

const char* verdict(bool met) {
  return met ? "met" : "MISSED";
}

// --- Scripted battles ----------------------------------------------------------

// A two-person battle at one keyboard in which both pilots fire in every
// frame, as in the terminal's figures: with machine bolts throughout, or
// with each pilot taking the next weapon every 20 frames (pilot 2 ten frames
// after pilot 1), so that every weapon flies.
std::string firingBattleScript(bool everyWeapon, int frames) {
  std::string script = "key x\nkey 3\ntype Alice Bob\nwait " + std::to_string(70 * 90) + "\n";
  for (int frame = 0; frame < frames; ++frame) {
    const bool nextWeapon1 = everyWeapon && frame % 20 == 0;
    const bool nextWeapon2 = everyWeapon && frame % 20 == 10;
    script += std::string("key ") + (nextWeapon1 ? 'w' : 'a') + (nextWeapon2 ? 'o' : 'k') +
              "\nwait " + std::to_string(kGameSpeed) + "\n";
  }
  return script;
}

// Keeps the picture of every frame of the first battle, as the host
// publishes it at the next frame's pause: cursor top left, hidden.
class FrameKeeper final : public Display {
 public:
  explicit FrameKeeper(const Screen& screen) : screen_(screen) {}
  void present() override {}
  void frameEnded(int frameNumber) override {
    if (frameNumber != static_cast<int>(frames.size()) + 1) {
      return;  // a later battle
    }
    frames.push_back(screen_);
    frames.back().placeCursor(0, 0);
    frames.back().setCursorShape(false, screen_.cursorSizePercent());
  }
  std::vector<Screen> frames;

 private:
  const Screen& screen_;
};

std::vector<Screen> playHeadless(const std::string& text) {
  std::variant<Script, ScriptError> parsed = parseScript(text);
  if (!std::holds_alternative<Script>(parsed)) {
    throw Failure("a battle script does not parse: " + std::get<ScriptError>(parsed).message);
  }
  Screen screen(kColumns, kRows);
  std::ostringstream noDumps;
  ScriptedPlatform platform(screen, std::move(std::get<Script>(parsed)), DumpOptions{}, 0, noDumps);
  FrameKeeper keeper(screen);
  Displays displays;
  displays.add(platform);
  displays.add(keeper);
  playGameSession({screen, displays, platform, nullptr, platform});
  return std::move(keeper.frames);
}

// The screen messages that bring one peer from each frame to the next, in
// bytes on the wire; the first frame is what the peer already holds.
std::vector<double> wireBytesPerFrame(const std::vector<Screen>& frames) {
  network::PeerPicture peer;
  std::vector<network::Message> messages;
  network::appendScreenUpdates(frames.front(), peer, messages);
  std::vector<double> bytes;
  for (std::size_t frame = 1; frame < frames.size(); ++frame) {
    messages.clear();
    network::appendScreenUpdates(frames[frame], peer, messages);
    std::string wire;
    for (const network::Message& message : messages) {
      network::encodeMessage(message, wire);
    }
    bytes.push_back(static_cast<double>(wire.size()));
  }
  return bytes;
}

// The minimum a terminal must be sent, counted as the terminal figures count
// it: only the changed cells, each placed (ESC [ row ; column H) only where
// the cursor is not already, or the cells between rewritten when that is
// shorter; a five-byte colour change where a visible glyph's colour differs;
// each glyph in UTF-8; the cursor put back top left at the end.
double placementBytes(int row, int column) {
  return static_cast<double>(4 + std::to_string(row + 1).size() +
                             std::to_string(column + 1).size());
}

double changedCellsBytes(const Screen& before, const Screen& after) {
  auto glyph = [](const Screen& screen, int column, int row) {
    return cp437ToUtf8(screen.cell(column, row).byte);
  };
  auto colorOf = [](const Screen& screen, int column, int row) {
    return screen.cell(column, row).attribute & 0x0F;
  };
  double bytes = 0.0;
  int color = -1;
  int cursorRow = -1;
  int cursorColumn = -1;
  auto needsColor = [&](int column, int row) {
    return glyph(after, column, row) != " " && colorOf(after, column, row) != color;
  };
  for (int row = 0; row < kRows; ++row) {
    for (int column = 0; column < kColumns; ++column) {
      if (glyph(before, column, row) == glyph(after, column, row) &&
          colorOf(before, column, row) == colorOf(after, column, row)) {
        continue;
      }
      if (row != cursorRow || column != cursorColumn) {
        double move = placementBytes(row, column);
        if (row == cursorRow && column > cursorColumn) {
          double bridge = 0.0;
          bool sameColor = true;
          for (int between = cursorColumn; between < column; ++between) {
            bridge += static_cast<double>(glyph(after, between, row).size());
            sameColor = sameColor && !needsColor(between, row);
          }
          if (sameColor) {
            move = std::min(move, bridge);
          }
        }
        bytes += move;
      }
      if (needsColor(column, row)) {
        bytes += 5.0;
        color = colorOf(after, column, row);
      }
      bytes += static_cast<double>(glyph(after, column, row).size());
      cursorRow = row;
      cursorColumn = column + 1;
    }
  }
  return bytes + 3.0;
}

// --- The real program in a pseudo-terminal -------------------------------------------

struct Chunk {
  SteadyClock::time_point at;
  std::size_t bytes;
};

class ProgramInTerminal {
 public:
  ProgramInTerminal(const std::string& binary, const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(binary.c_str()));
    for (const std::string& argument : arguments) {
      argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    winsize size{};
    size.ws_col = kColumns;
    size.ws_row = kRows;
    pid_ = forkpty(&master_, nullptr, nullptr, &size);
    if (pid_ < 0) {
      throw Failure("forkpty failed: " + std::string(std::strerror(errno)));
    }
    if (pid_ == 0) {
      setenv("TERM", "xterm-256color", 1);
      setenv("LANG", "C.UTF-8", 1);
      setenv("LC_ALL", "C.UTF-8", 1);
      execv(binary.c_str(), argv.data());
      _exit(127);
    }
    reader_ = std::thread([this] { readAll(); });
  }
  ~ProgramInTerminal() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    close(master_);
    reader_.join();
  }
  ProgramInTerminal(const ProgramInTerminal&) = delete;
  ProgramInTerminal& operator=(const ProgramInTerminal&) = delete;

  // Waits until `text` has been written; the arrival of the read that
  // completed it.
  SteadyClock::time_point waitFor(const std::string& text) {
    std::unique_lock lock(mutex_);
    std::size_t found = std::string::npos;
    const bool seen = arrived_.wait_for(lock, kTextTimeout, [&] {
      found = transcript_.find(text);
      return found != std::string::npos || closed_;
    });
    if (!seen || found == std::string::npos) {
      throw Failure("'" + text + "' never appeared on the terminal");
    }
    std::size_t end = 0;
    for (const Chunk& chunk : chunks_) {
      end += chunk.bytes;
      if (end >= found + text.size()) {
        return chunk.at;
      }
    }
    return chunks_.back().at;
  }

  void type(const std::string& keys) {
    if (write(master_, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size())) {
      throw Failure("cannot write keys to the terminal");
    }
  }

  // The updates (reads close together) from `from` on, in bytes.
  std::vector<double> updatesFrom(SteadyClock::time_point from) {
    std::lock_guard lock(mutex_);
    std::vector<double> updates;
    SteadyClock::time_point last{};
    for (const Chunk& chunk : chunks_) {
      if (chunk.at < from) {
        continue;
      }
      if (updates.empty() || chunk.at - last > kUpdateGap) {
        updates.push_back(0.0);
      }
      updates.back() += static_cast<double>(chunk.bytes);
      last = chunk.at;
    }
    return updates;
  }

 private:
  void readAll() {
    std::array<char, 65536> buffer{};
    for (;;) {
      const ssize_t count = read(master_, buffer.data(), buffer.size());
      const SteadyClock::time_point at = SteadyClock::now();
      if (count < 0 && errno == EINTR) {
        continue;
      }
      std::lock_guard lock(mutex_);
      if (count <= 0) {
        closed_ = true;
        arrived_.notify_all();
        return;
      }
      chunks_.push_back({at, static_cast<std::size_t>(count)});
      transcript_.append(buffer.data(), static_cast<std::size_t>(count));
      arrived_.notify_all();
    }
  }

  int master_ = -1;
  pid_t pid_ = -1;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::string transcript_;
  std::vector<Chunk> chunks_;
  bool closed_ = false;
};

// The bytes the terminal is written for each frame of a scripted battle,
// replayed twice as fast as it was played (25 ms a frame).
std::vector<double> terminalBytesPerFrame(const std::string& binary, const std::string& script,
                                          std::size_t frames) {
  char path[] = "/tmp/skyrazor-network-figures-XXXXXX";
  const int descriptor = mkstemp(path);
  if (descriptor < 0 ||
      write(descriptor, script.data(), script.size()) != static_cast<ssize_t>(script.size())) {
    throw Failure("cannot write a temporary script");
  }
  close(descriptor);
  std::vector<double> updates;
  {
    ProgramInTerminal replay(binary, {"--replay", path, "--speed", "2"});
    const SteadyClock::time_point battle = replay.waitFor("Alice: Shields(");
    replay.waitFor("End of the replay");
    updates = replay.updatesFrom(battle);
    replay.type("x");
  }
  unlink(path);
  // The first update turns the countdown screen into the arena (the first
  // frame); each one after it is the next frame.
  if (updates.size() < frames + 1) {
    throw Failure("the replay showed " + std::to_string(updates.size()) + " updates for " +
                  std::to_string(frames) + " frames");
  }
  return std::vector<double>(updates.begin() + 1,
                             updates.begin() + 1 + static_cast<std::ptrdiff_t>(frames));
}

// --- A live host game in this process --------------------------------------------------

// The ships fly in the arena's first and last columns (0-based here).
constexpr int kLeftShipColumn = 2;
constexpr int kRightShipColumn = 39;

// The row (0-based) of a ship's marker in a picture, if it shows.
std::optional<int> shipRow(const Screen& picture, int column, unsigned char marker) {
  for (int row = 2; row <= 10; ++row) {
    if (picture.cell(column, row).byte == marker) {
      return row;
    }
  }
  return std::nullopt;
}
std::optional<int> rightShipRow(const Screen& picture) {
  return shipRow(picture, kRightShipColumn, '<');
}

// What the host's screen shows (until the battle, for driving the game),
// when it was presented, when pilot 1's ship moved and when each battle
// frame ended.
class HostProbe final : public Display {
 public:
  explicit HostProbe(const Screen& screen) : screen_(screen) {}

  void present() override {
    const SteadyClock::time_point now = SteadyClock::now();
    std::lock_guard lock(mutex_);
    presents_.push_back(now);
    const std::optional<int> leftRow = shipRow(screen_, kLeftShipColumn, '>');
    if (leftRow && leftShipRow_ && *leftRow != *leftShipRow_) {
      leftShipMoves_.push_back(now);
    }
    leftShipRow_ = leftRow;
    if (copying_) {
      shown_ = screen_;
      changed_.notify_all();
    }
  }
  void frameEnded(int) override {
    const SteadyClock::time_point now = SteadyClock::now();
    std::lock_guard lock(mutex_);
    frameEnds_.push_back(now);
  }

  void waitFor(const std::string& text) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, kTextTimeout, [&] { return showsText(shown_, text); })) {
      throw Failure("the host never showed '" + text + "'");
    }
  }
  void stopCopying() {
    std::lock_guard lock(mutex_);
    copying_ = false;
  }
  // The last present at or before `moment`.
  std::optional<SteadyClock::time_point> lastPresentBefore(SteadyClock::time_point moment) {
    std::lock_guard lock(mutex_);
    auto after = std::upper_bound(presents_.begin(), presents_.end(), moment);
    if (after == presents_.begin()) {
      return std::nullopt;
    }
    return *std::prev(after);
  }
  // The presents in which the left ship had moved.
  std::vector<SteadyClock::time_point> leftShipMoves() {
    std::lock_guard lock(mutex_);
    return leftShipMoves_;
  }
  std::size_t frameCount() {
    std::lock_guard lock(mutex_);
    return frameEnds_.size();
  }
  // The periods between the frame ends from frame `first` up to `last`.
  std::vector<double> periods(std::size_t first, std::size_t last) {
    std::lock_guard lock(mutex_);
    std::vector<double> periods;
    for (std::size_t frame = first + 1; frame < last && frame < frameEnds_.size(); ++frame) {
      periods.push_back(Milliseconds(frameEnds_[frame] - frameEnds_[frame - 1]).count());
    }
    return periods;
  }

 private:
  const Screen& screen_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool copying_ = true;
  Screen shown_{kColumns, kRows};
  std::vector<SteadyClock::time_point> frameEnds_;
  std::vector<SteadyClock::time_point> presents_;
  std::optional<int> leftShipRow_;
  std::vector<SteadyClock::time_point> leftShipMoves_;
};

// Every picture presented goes to the joined terminals, as at a real host.
class PublishedDisplay final : public Display {
 public:
  PublishedDisplay(network::HostServer& server, const Screen& screen, const InboxKeySource& keys)
      : server_(server), screen_(screen), keys_(keys) {}
  void present() override { server_.publish(screen_, keys_.typing()); }

 private:
  network::HostServer& server_;
  const Screen& screen_;
  const InboxKeySource& keys_;
};

std::set<std::string> threadsOfThisProcess() {
  std::set<std::string> threads;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    threads.insert(entry.path().filename().string());
  }
  return threads;
}

// The CPU time one thread of this process has used, in ms (its scheduler
// statistics), or -1 where the kernel does not keep them.
double threadCpuMs(const std::string& thread) {
  std::ifstream stats("/proc/self/task/" + thread + "/schedstat");
  double nanoseconds = -1.0;
  if (!(stats >> nanoseconds)) {
    return -1.0;
  }
  return nanoseconds / 1e6;
}

double processCpuMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto ms = [](const timeval& time) {
    return static_cast<double>(time.tv_sec) * 1000.0 + static_cast<double>(time.tv_usec) / 1000.0;
  };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// The host as `skyrazor --host` wires it, with this process's keys and time
// for the terminal's.
class HostGame {
 public:
  HostGame()
      : probe_(screen_),
        published_(server_, screen_, keys_),
        keyboard_(keys_, displays_, screen_, KeyClock::kCtrlD, &server_) {
    server_.onNews([this] { keys_.wake(); });
    displays_.add(probe_);
    displays_.add(published_);
    game_ = std::thread([this] {
      playGameSession({screen_, displays_, keyboard_, keyboard_.secondKeyboard(), keyboard_});
    });
  }
  ~HostGame() {
    keys_.close();
    game_.join();
    server_.onNews(nullptr);
  }
  HostGame(const HostGame&) = delete;
  HostGame& operator=(const HostGame&) = delete;

  std::uint16_t port() const { return server_.port(); }
  network::HostStatus status() const { return server_.status(); }
  InboxKeySource& keys() { return keys_; }
  HostProbe& probe() { return probe_; }
  const std::string& networkThread() const { return networkThread_; }

 private:
  static network::HostOptions hostOptions() {
    network::HostOptions options;
    options.address = "127.0.0.1";
    options.port = 0;
    options.joinCode = kJoinCode;
    return options;
  }
  static std::string threadAdded(const std::set<std::string>& before) {
    for (const std::string& thread : threadsOfThisProcess()) {
      if (before.count(thread) == 0) {
        return thread;
      }
    }
    return {};
  }

  Screen screen_{kColumns, kRows};
  InboxKeySource keys_;
  // The server starts one thread, its network's: the one that is new.
  std::set<std::string> threadsBefore_ = threadsOfThisProcess();
  network::HostServer server_{hostOptions()};
  std::string networkThread_ = threadAdded(threadsBefore_);
  HostProbe probe_;
  PublishedDisplay published_;
  Displays displays_;
  LiveKeyboard keyboard_;
  std::thread game_;
};

// Pilot 2 at a joined terminal, woken by the client when its picture changes.
class JoinedPilot {
 public:
  explicit JoinedPilot(std::uint16_t port) : client_(joinOptions(port)) {
    client_.onNews([this] {
      std::lock_guard lock(mutex_);
      news_ = true;
      changed_.notify_all();
    });
    if (client_.awaitAnswer().phase != network::JoinState::Phase::Joined) {
      throw Failure("pilot 2 could not join: " + client_.state().endReason);
    }
  }
  ~JoinedPilot() { client_.onNews(nullptr); }
  JoinedPilot(const JoinedPilot&) = delete;
  JoinedPilot& operator=(const JoinedPilot&) = delete;

  void press(const std::string& keys) { client_.sendKeys(keys); }

  // Waits for a picture that `wanted` accepts, up to `deadline`.
  bool waitForPicture(const std::function<bool(const Screen&)>& wanted,
                      SteadyClock::time_point deadline) {
    for (;;) {
      if (client_.takePicture(picture_)) {
        if (wanted(picture_)) {
          return true;
        }
        continue;
      }
      std::unique_lock lock(mutex_);
      if (!changed_.wait_until(lock, deadline, [this] { return news_; })) {
        return false;
      }
      news_ = false;
    }
  }
  void waitForText(const std::string& text) {
    auto shows = [&text](const Screen& picture) { return showsText(picture, text); };
    if (!shows(picture_) && !waitForPicture(shows, SteadyClock::now() + kTextTimeout)) {
      throw Failure("pilot 2 never saw '" + text + "'");
    }
  }
  const Screen& picture() {
    client_.takePicture(picture_);
    return picture_;
  }

 private:
  static network::JoinOptions joinOptions(std::uint16_t port) {
    network::JoinOptions options;
    options.host = "127.0.0.1";
    options.port = port;
    options.role = network::Role::Pilot;
    options.joinCode = kJoinCode;
    return options;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  bool news_ = false;
  Screen picture_{kColumns, kRows};
  network::JoinClient client_;  // last: it goes first, and wakes the above
};

// Pilot 1 at the host's keyboard flies up and down without firing, a key
// every 250 to 350 ms of wall time, so that the battle goes on.
class PilotOneFlying {
 public:
  explicit PilotOneFlying(InboxKeySource& keys)
      : thread_([this, &keys] {
          const char pattern[] = {'e', 'e', 's', 's'};
          std::mt19937 random(1209);
          std::uniform_int_distribution<int> gap(250'000, 350'000);
          auto next = SteadyClock::now();
          std::unique_lock lock(mutex_);
          for (int press = 0;; ++press) {
            next += std::chrono::microseconds(gap(random));
            if (stopped_.wait_until(lock, next, [this] { return stop_; })) {
              return;
            }
            pressedAt_.push_back(SteadyClock::now());
            keys.handIn(std::string(1, pattern[press % 4]));
          }
        }) {}
  ~PilotOneFlying() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
      stopped_.notify_all();
    }
    thread_.join();
  }
  PilotOneFlying(const PilotOneFlying&) = delete;
  PilotOneFlying& operator=(const PilotOneFlying&) = delete;

  // For each move of the left ship the host presented, the time since the
  // key that made it.
  std::vector<double> keyToPresentMs(const std::vector<SteadyClock::time_point>& moves) {
    std::lock_guard lock(mutex_);
    std::vector<double> latencies;
    for (const SteadyClock::time_point& move : moves) {
      auto after = std::upper_bound(pressedAt_.begin(), pressedAt_.end(), move);
      if (after != pressedAt_.begin()) {
        latencies.push_back(Milliseconds(move - *std::prev(after)).count());
      }
    }
    return latencies;
  }

 private:
  std::mutex mutex_;
  std::condition_variable stopped_;
  bool stop_ = false;
  std::vector<SteadyClock::time_point> pressedAt_;
  std::thread thread_;  // last: it starts once the above are ready
};

// Pilot 2 moves the right ship up or down at random moments (0 to two frame
// periods after the last move showed) and times each press from sendKeys to
// the first picture in which the ship has moved.
struct Presses {
  std::vector<double> latenciesMs;
  // Of each: from the host's present of the picture to pilot 2's having it.
  std::vector<double> networkMs;
  int unseen = 0;  // moves that never showed within a second
};

void pressAtRandom(JoinedPilot& pilot, HostProbe& host, std::mt19937& random, Presses& presses) {
  std::uniform_int_distribution<int> pause(0, 2 * kGameSpeed * 1000);
  std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
  const std::optional<int> row = rightShipRow(pilot.picture());
  if (!row) {
    throw Failure("pilot 2's picture shows no right ship");
  }
  // Up or down at random, never against the arena's edge.
  const bool up = *row == 10 || (*row > 2 && (random() & 1) != 0);
  const int wanted = up ? *row - 1 : *row + 1;
  const SteadyClock::time_point pressed = SteadyClock::now();
  pilot.press(up ? "p" : "l");
  const bool seen = pilot.waitForPicture(
      [wanted](const Screen& picture) { return rightShipRow(picture) == wanted; },
      pressed + std::chrono::seconds(1));
  const SteadyClock::time_point shown = SteadyClock::now();
  if (seen) {
    presses.latenciesMs.push_back(Milliseconds(shown - pressed).count());
    if (std::optional<SteadyClock::time_point> presented = host.lastPresentBefore(shown)) {
      presses.networkMs.push_back(Milliseconds(shown - *presented).count());
    }
  } else if (++presses.unseen > 10) {
    throw Failure("pilot 2's moves stopped showing");
  }
}

// --- The watchers, in a child process ---------------------------------------------------

// A watcher on a socket of its own, speaking the wire format directly: the
// hello, then a ping every second so that the host keeps it seated.
class RawWatcher {
 public:
  RawWatcher(asio::io_context& io, std::uint16_t port, bool stalled) : socket_(io) {
    socket_.open(asio::ip::tcp::v4());
    if (stalled) {
      // It never reads, and its receive buffer is as small as the kernel allows.
      socket_.set_option(asio::socket_base::receive_buffer_size(1));
    }
    socket_.connect({asio::ip::make_address("127.0.0.1"), port});
    send(network::Hello{network::kProtocolVersion, network::Role::Watcher, kJoinCode, "",
                        network::RoomWanted::Named, ""});
  }
  void ping() {
    send(network::Ping{static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::now().time_since_epoch())
            .count())});
  }
  int descriptor() { return socket_.native_handle(); }
  // Reads what has arrived; how many bytes.
  std::size_t readWaiting() {
    std::array<char, 65536> buffer{};
    boost::system::error_code error;
    return socket_.read_some(asio::buffer(buffer), error);
  }

 private:
  void send(const network::Message& message) {
    std::string bytes;
    network::encodeMessage(message, bytes);
    boost::system::error_code ignored;
    asio::write(socket_, asio::buffer(bytes), ignored);
  }
  asio::ip::tcp::socket socket_;
};

// This program again as `--watchers PORT COUNT`: COUNT - 2 watching clients,
// one watcher that counts the bytes it is sent and one that never reads. It
// says "ready" once all are in; on "s" it starts counting, on "e" it says
// "bytes N" with the bytes counted since; it leaves when its input closes.
int runWatchers(std::uint16_t port, int count) {
  std::vector<std::unique_ptr<network::JoinClient>> watchers;
  for (int watcher = 0; watcher + 2 < count; ++watcher) {
    network::JoinOptions options;
    options.host = "127.0.0.1";
    options.port = port;
    options.role = network::Role::Watcher;
    options.joinCode = kJoinCode;
    watchers.push_back(std::make_unique<network::JoinClient>(options));
  }
  for (const auto& watcher : watchers) {
    if (watcher->awaitAnswer().phase != network::JoinState::Phase::Joined) {
      std::fprintf(stderr, "a watcher could not join: %s\n", watcher->state().endReason.c_str());
      return 1;
    }
  }
  asio::io_context io;
  RawWatcher counting(io, port, false);
  RawWatcher stalled(io, port, true);
  std::printf("ready\n");
  std::fflush(stdout);
  std::size_t counted = 0;
  auto nextPing = SteadyClock::now();
  for (;;) {
    const auto now = SteadyClock::now();
    if (now >= nextPing) {
      counting.ping();
      stalled.ping();
      nextPing = now + std::chrono::seconds(1);
    }
    std::array<pollfd, 2> ready{{{STDIN_FILENO, POLLIN, 0}, {counting.descriptor(), POLLIN, 0}}};
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextPing - now);
    if (poll(ready.data(), ready.size(), static_cast<int>(wait.count()) + 1) < 0) {
      continue;
    }
    if ((ready[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      counted += counting.readWaiting();
    }
    if ((ready[0].revents & (POLLIN | POLLHUP)) != 0) {
      char command = 0;
      if (read(STDIN_FILENO, &command, 1) <= 0) {
        break;
      }
      if (command == 's') {
        counted = 0;
      } else if (command == 'e') {
        std::printf("bytes %zu\n", counted);
        std::fflush(stdout);
      }
    }
  }
  return 0;
}

class WatcherProcess {
 public:
  WatcherProcess(std::uint16_t port, int count) {
    int toChild[2];
    int fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) {
      throw Failure("cannot make pipes for the watchers");
    }
    const std::string portText = std::to_string(port);
    const std::string countText = std::to_string(count);
    pid_ = fork();
    if (pid_ < 0) {
      throw Failure("cannot fork the watchers");
    }
    if (pid_ == 0) {
      dup2(toChild[0], STDIN_FILENO);
      dup2(fromChild[1], STDOUT_FILENO);
      close(toChild[0]);
      close(toChild[1]);
      close(fromChild[0]);
      close(fromChild[1]);
      execl("/proc/self/exe", "skyrazor_network_figures", "--watchers", portText.c_str(),
            countText.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    input_ = toChild[1];
    output_ = fromChild[0];
    pollfd ready{output_, POLLIN, 0};
    char line[16] = {};
    if (poll(&ready, 1, 20000) != 1 || read(output_, line, sizeof line - 1) <= 0 ||
        std::strncmp(line, "ready", 5) != 0) {
      throw Failure("the watchers did not get in");
    }
  }
  ~WatcherProcess() { leave(); }
  WatcherProcess(const WatcherProcess&) = delete;
  WatcherProcess& operator=(const WatcherProcess&) = delete;

  void startCounting() { command('s'); }
  // The bytes the counting watcher was sent since startCounting().
  std::size_t stopCounting() {
    command('e');
    pollfd ready{output_, POLLIN, 0};
    char line[64] = {};
    std::size_t bytes = 0;
    if (poll(&ready, 1, 5000) != 1 || read(output_, line, sizeof line - 1) <= 0 ||
        std::sscanf(line, "bytes %zu", &bytes) != 1) {
      throw Failure("the counting watcher did not answer");
    }
    return bytes;
  }

  // Closes its input and waits for it to end; its CPU time in ms.
  double leave() {
    if (pid_ <= 0) {
      return 0.0;
    }
    close(input_);
    close(output_);
    int status = 0;
    rusage usage{};
    wait4(pid_, &status, 0, &usage);
    pid_ = -1;
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
  }

 private:
  void command(char letter) {
    if (write(input_, &letter, 1) != 1) {
      throw Failure("the watchers are gone");
    }
  }

  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
};

// --- A stretch of battle ------------------------------------------------------------

struct Stretch {
  std::vector<double> periodsMs;
  double seconds = 0.0;
  double processCpuMs = 0.0;
  double networkThreadCpuMs = -1.0;
  Presses presses;
};

// Measures the host over a stretch of battle that lasts `seconds` or, with a
// pilot, at least `presses` presses.
Stretch measureStretch(HostGame& host, JoinedPilot* pilot, double seconds, int presses,
                       std::mt19937& random) {
  Stretch stretch;
  const std::size_t firstFrame = host.probe().frameCount();
  const double cpuBefore = processCpuMs();
  const double networkBefore = threadCpuMs(host.networkThread());
  const SteadyClock::time_point start = SteadyClock::now();
  const auto end = start + std::chrono::duration_cast<SteadyClock::duration>(
                               std::chrono::duration<double>(seconds));
  if (pilot != nullptr) {
    while (SteadyClock::now() < end ||
           static_cast<int>(stretch.presses.latenciesMs.size()) + stretch.presses.unseen <
               presses) {
      pressAtRandom(*pilot, host.probe(), random, stretch.presses);
    }
  } else {
    std::this_thread::sleep_until(end);
  }
  stretch.seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
  stretch.processCpuMs = processCpuMs() - cpuBefore;
  const double networkAfter = threadCpuMs(host.networkThread());
  if (networkBefore >= 0.0 && networkAfter >= 0.0) {
    stretch.networkThreadCpuMs = networkAfter - networkBefore;
  }
  stretch.periodsMs = host.probe().periods(firstFrame, host.probe().frameCount());
  return stretch;
}

void printPeriods(const char* what, const Stretch& stretch) {
  const double middle = median(stretch.periodsMs);
  const double p99 = percentile(stretch.periodsMs, 0.99);
  const bool met = std::abs(middle - kGameSpeed) <= 1.0 && std::abs(p99 - kGameSpeed) <= 3.0;
  std::printf("  %-34s median %6.2f ms, p99 %6.2f ms, max %6.2f ms over %zu frames (%s)\n", what,
              middle, p99, maximum(stretch.periodsMs), stretch.periodsMs.size(), verdict(met));
}

void printSpread(const char* what, const std::vector<double>& values) {
  std::printf("  %-40s min %6.2f  median %6.2f  p99 %6.2f  max %6.2f ms (%zu)", what,
              values.empty() ? 0.0 : *std::min_element(values.begin(), values.end()),
              median(values), percentile(values, 0.99), maximum(values), values.size());
}

void printLatencies(const char* what, const Presses& presses) {
  printSpread(what, presses.latenciesMs);
  if (presses.unseen > 0) {
    std::printf(", %d never shown", presses.unseen);
  }
  const bool met = presses.unseen == 0 && maximum(presses.latenciesMs) <= kGameSpeed + 5.0;
  std::printf(" %s\n", verdict(met));
}

void printCpu(const char* what, const Stretch& stretch) {
  std::printf("  %-34s %7.1f ms per second of battle (process)", what,
              stretch.processCpuMs / stretch.seconds);
  if (stretch.networkThreadCpuMs >= 0.0) {
    std::printf(", %6.1f ms per second (network thread)",
                stretch.networkThreadCpuMs / stretch.seconds);
  }
  std::printf("\n");
}

int measure(const std::string& binary) {
  // 1. Bytes per frame, over the same scripted battles.
  constexpr int kScriptFrames = 200;
  struct BattleBytes {
    const char* name;
    std::vector<double> wire;
    std::vector<double> terminal;
    std::vector<double> minimum;
  };
  std::vector<BattleBytes> battles{{"machine bolts", {}, {}, {}}, {"every weapon", {}, {}, {}}};
  BattleBytes all{"both", {}, {}, {}};
  for (BattleBytes& battle : battles) {
    const std::string script = firingBattleScript(&battle != &battles.front(), kScriptFrames);
    std::vector<Screen> frames = playHeadless(script);
    // The last frame never shows alone: the next picture is the result screen.
    if (frames.size() < 3) {
      throw Failure("a scripted battle had too few frames");
    }
    frames.pop_back();
    battle.wire = wireBytesPerFrame(frames);
    battle.terminal = terminalBytesPerFrame(binary, script, battle.wire.size());
    for (std::size_t frame = 1; frame < frames.size(); ++frame) {
      battle.minimum.push_back(changedCellsBytes(frames[frame - 1], frames[frame]));
    }
    all.wire.insert(all.wire.end(), battle.wire.begin(), battle.wire.end());
    all.terminal.insert(all.terminal.end(), battle.terminal.begin(), battle.terminal.end());
    all.minimum.insert(all.minimum.end(), battle.minimum.begin(), battle.minimum.end());
  }
  battles.push_back(all);

  // 2-4. A live host game: pilot 2 joins at the title, the game goes to a
  // two-person battle that nobody ends, and the stretches follow.
  std::mt19937 random(20261209);
  std::optional<HostGame> host;
  host.emplace();
  auto pilot = std::make_unique<JoinedPilot>(host->port());
  host->probe().waitFor("Skyrazor");
  host->keys().handIn("x");
  host->probe().waitFor("(5)Gallery");
  host->keys().handIn("3");
  host->probe().waitFor("Pilot#1:");
  host->keys().handIn("Alice\n");
  pilot->waitForText("Pilot#2:");
  pilot->press("Bob\n");
  host->probe().waitFor("Alice: Shields(");
  host->probe().stopCopying();
  Stretch pilotOnly;
  Stretch withWatchers;
  Stretch noPeers;
  network::HostStatus afterWatchers;
  double watcherProcessCpuMs = 0.0;
  double watcherBytes = 0.0;
  std::vector<double> pilotOneMs;
  {
    PilotOneFlying pilotOne(host->keys());
    std::this_thread::sleep_for(std::chrono::seconds(1));
    pilotOnly = measureStretch(*host, pilot.get(), 0.0, 300, random);
    {
      WatcherProcess watchers(host->port(), kWatchers);
      const auto deadline = SteadyClock::now() + std::chrono::seconds(10);
      while (host->status().watchers < kWatchers && SteadyClock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      if (host->status().watchers < kWatchers) {
        throw Failure("the host did not seat all the watchers");
      }
      std::this_thread::sleep_for(std::chrono::seconds(1));
      watchers.startCounting();
      withWatchers = measureStretch(*host, pilot.get(), 20.0, 0, random);
      watcherBytes = static_cast<double>(watchers.stopCounting());
      afterWatchers = host->status();
      watcherProcessCpuMs = watchers.leave();
    }
    pilot.reset();
    const auto deadline = SteadyClock::now() + std::chrono::seconds(10);
    while ((host->status().watchers > 0 || host->status().pilotJoined) &&
           SteadyClock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    noPeers = measureStretch(*host, nullptr, 15.0, 0, random);
    pilotOneMs = pilotOne.keyToPresentMs(host->probe().leftShipMoves());
  }
  host.reset();

  std::printf("Network figures on loopback, gameSpeed %d\n\n", kGameSpeed);
  std::printf(
      "Bytes per battle frame, both pilots firing in every frame (median / max; framing "
      "included on the wire):\n");
  std::printf("  %-14s %7s %16s %16s %18s\n", "battle", "frames", "wire, one peer", "terminal",
              "changed cells only");
  for (const BattleBytes& battle : battles) {
    std::printf("  %-14s %7zu %9.0f / %4.0f %9.0f / %4.0f %11.0f / %4.0f\n", battle.name,
                battle.wire.size(), median(battle.wire), maximum(battle.wire),
                median(battle.terminal), maximum(battle.terminal), median(battle.minimum),
                maximum(battle.minimum));
  }
  const bool bytesMet =
      median(all.wire) <= median(all.terminal) && maximum(all.wire) <= maximum(all.terminal);
  std::printf("  the wire within the terminal's bytes (median and max): %s\n\n", verdict(bytesMet));

  std::printf(
      "Key to screen (goal for pilot 2: within %d ms; a move shows in the frame after the one "
      "that takes the key):\n",
      kGameSpeed + 5);
  printLatencies("pilot 2 alone:", pilotOnly.presses);
  printLatencies("with 16 watchers:", withWatchers.presses);
  printSpread("of which the host's present to pilot 2:", pilotOnly.presses.networkMs);
  std::printf("\n");
  printSpread("pilot 1's key to the host's present:", pilotOneMs);
  std::printf("\n");
  std::printf("\nThe host's frame period (goal: median within 1 ms, p99 within 3 ms of %d):\n",
              kGameSpeed);
  printPeriods("pilot 2 and 16 watchers:", withWatchers);
  printPeriods("pilot 2 alone:", pilotOnly);
  printPeriods("no peers:", noPeers);
  std::printf("  after the watchers' stretch the host had %d watchers\n", afterWatchers.watchers);
  std::printf("  one watcher was sent %.0f bytes per second of battle (every message)\n",
              watcherBytes / withWatchers.seconds);

  std::printf(
      "\nThe host's CPU time (this process: the game, its network thread, pilot 2's "
      "client; the watchers run in a child):\n");
  printCpu("pilot 2 alone:", pilotOnly);
  printCpu("pilot 2 and 16 watchers:", withWatchers);
  printCpu("no peers:", noPeers);
  std::printf("  per watcher: %.2f ms per second of battle (process)",
              (withWatchers.processCpuMs / withWatchers.seconds -
               pilotOnly.processCpuMs / pilotOnly.seconds) /
                  kWatchers);
  if (withWatchers.networkThreadCpuMs >= 0.0 && pilotOnly.networkThreadCpuMs >= 0.0) {
    std::printf(", %.2f ms per second (network thread)",
                (withWatchers.networkThreadCpuMs / withWatchers.seconds -
                 pilotOnly.networkThreadCpuMs / pilotOnly.seconds) /
                    kWatchers);
  }
  std::printf("\n  the watchers' own process (%d clients, joining included): %.0f ms in all\n",
              kWatchers, watcherProcessCpuMs);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  if (argc == 4 && std::string(argv[1]) == "--watchers") {
    try {
      return runWatchers(static_cast<std::uint16_t>(std::atoi(argv[2])), std::atoi(argv[3]));
    } catch (const std::exception& failure) {
      std::fprintf(stderr, "watchers: %s\n", failure.what());
      return 1;
    }
  }
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s PATH/TO/skyrazor\n", argv[0]);
    return 2;
  }
  try {
    return measure(argv[1]);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "network figures: %s\n", failure.what());
    return 1;
  }
}
