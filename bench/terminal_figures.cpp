// The game's figures as a player's terminal sees them. Runs the real binary
// in a pseudo-terminal of 80x25, plays it by writing keys to the terminal and
// measures what the program writes back:
//
// - bytes per battle frame in a two-person battle with both pilots firing in
//   every frame, beside two references taken from the same session played
//   headless (--script, --dump-frames): a full redraw of every frame and the
//   minimum, an update of only the cells that changed;
// - the frame period against the game speed 10, 50 and 100 (set on the
//   options screen): median and 99th percentile;
// - CPU time used per second while the title, the main menu and a name
//   prompt wait for the player;
// - the time from start to the title on the screen, and peak memory.
//
//   skyrazor_terminal_figures PATH/TO/skyrazor [battle seconds]
//
// Exits 1 when the program could not be measured; a missed goal is reported,
// not an error.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>
#include "statistics.h"

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::duration<double, std::milli>;

constexpr int kColumns = 80;
constexpr int kRows = 25;
constexpr auto kTextTimeout = std::chrono::seconds(20);
// Writes closer together than this belong to one screen update.
constexpr auto kUpdateGap = std::chrono::milliseconds(2);
constexpr double kWaitingSeconds = 2.0;

struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// One read from the terminal: when it came and how many bytes.
struct Chunk {
  Clock::time_point at;
  std::size_t offset;  // where it starts in the transcript
  std::size_t bytes;
};

// The game in a pseudo-terminal, with a reader thread that keeps everything
// it writes, stamped with the time it arrived.
class GameInTerminal {
 public:
  explicit GameInTerminal(const std::string& binary) {
    winsize size{};
    size.ws_col = kColumns;
    size.ws_row = kRows;
    started_ = Clock::now();
    pid_ = forkpty(&master_, nullptr, nullptr, &size);
    if (pid_ < 0) {
      throw Failure("forkpty failed: " + std::string(std::strerror(errno)));
    }
    if (pid_ == 0) {
      setenv("TERM", "xterm-256color", 1);
      setenv("LANG", "C.UTF-8", 1);
      setenv("LC_ALL", "C.UTF-8", 1);
      execl(binary.c_str(), binary.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    reader_ = std::thread([this] { readAll(); });
  }

  ~GameInTerminal() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) {
      close(master_);
    }
    if (reader_.joinable()) {
      reader_.join();
    }
  }
  GameInTerminal(const GameInTerminal&) = delete;
  GameInTerminal& operator=(const GameInTerminal&) = delete;

  pid_t pid() const { return pid_; }
  Clock::time_point started() const { return started_; }

  void type(const std::string& keys) {
    std::size_t written = 0;
    while (written < keys.size()) {
      ssize_t count = write(master_, keys.data() + written, keys.size() - written);
      if (count < 0 && errno == EINTR) {
        continue;
      }
      if (count <= 0) {
        throw Failure("cannot write keys to the terminal");
      }
      written += static_cast<std::size_t>(count);
    }
  }

  // Waits until `text` has been written after `from` (a transcript offset);
  // returns the arrival time of the read that completed it.
  Clock::time_point waitFor(const std::string& text, std::size_t from = 0) {
    std::unique_lock<std::mutex> lock(mutex_);
    std::size_t found = std::string::npos;
    const bool seen = arrived_.wait_for(lock, kTextTimeout, [&] {
      found = transcript_.find(text, std::min(from, transcript_.size()));
      return found != std::string::npos || closed_;
    });
    if (!seen || found == std::string::npos) {
      throw Failure("'" + text + "' never appeared on the terminal");
    }
    const std::size_t end = found + text.size();
    for (const Chunk& chunk : chunks_) {
      if (chunk.offset + chunk.bytes >= end) {
        return chunk.at;
      }
    }
    return chunks_.back().at;
  }

  std::size_t transcriptSize() {
    std::lock_guard<std::mutex> lock(mutex_);
    return transcript_.size();
  }

  // The reads that arrived between two moments.
  std::vector<Chunk> chunksBetween(Clock::time_point from, Clock::time_point to) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Chunk> picked;
    for (const Chunk& chunk : chunks_) {
      if (chunk.at >= from && chunk.at < to) {
        picked.push_back(chunk);
      }
    }
    return picked;
  }

  // CPU time (user and system) the game has used so far, in milliseconds.
  double cpuMs() const {
    clockid_t clock{};
    timespec used{};
    if (clock_getcpuclockid(pid_, &clock) != 0 || clock_gettime(clock, &used) != 0) {
      throw Failure("cannot read the game's CPU clock");
    }
    return static_cast<double>(used.tv_sec) * 1000.0 + static_cast<double>(used.tv_nsec) / 1e6;
  }

  // The peak resident memory of the game since it started, in kilobytes
  // (VmHWM). The child's ru_maxrss would not do: it also counts the pages of
  // this process that the child held between fork and exec.
  long peakMemoryKb() const {
    std::FILE* status = std::fopen(("/proc/" + std::to_string(pid_) + "/status").c_str(), "r");
    if (status == nullptr) {
      throw Failure("cannot read the game's memory figures");
    }
    long peak = -1;
    std::array<char, 256> line{};
    while (std::fgets(line.data(), static_cast<int>(line.size()), status) != nullptr) {
      if (std::sscanf(line.data(), "VmHWM: %ld kB", &peak) == 1) {
        break;
      }
    }
    std::fclose(status);
    if (peak < 0) {
      throw Failure("no VmHWM in the game's status");
    }
    return peak;
  }

  // Ctrl-C through the terminal, then waits for the end; returns the peak
  // resident memory in kilobytes.
  long endWithCtrlC() {
    const long peak = peakMemoryKb();
    type("\x03");
    int status = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    for (;;) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        return peak;
      }
      if (Clock::now() > deadline) {
        throw Failure("the game did not end on Ctrl-C");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

 private:
  void readAll() {
    std::array<char, 65536> buffer{};
    for (;;) {
      ssize_t count = read(master_, buffer.data(), buffer.size());
      const Clock::time_point at = Clock::now();
      if (count < 0 && errno == EINTR) {
        continue;
      }
      std::lock_guard<std::mutex> lock(mutex_);
      if (count <= 0) {
        closed_ = true;
        arrived_.notify_all();
        return;
      }
      chunks_.push_back({at, transcript_.size(), static_cast<std::size_t>(count)});
      transcript_.append(buffer.data(), static_cast<std::size_t>(count));
      arrived_.notify_all();
    }
  }

  int master_ = -1;
  pid_t pid_ = -1;
  bool reaped_ = false;
  Clock::time_point started_;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::string transcript_;
  std::vector<Chunk> chunks_;
  bool closed_ = false;
};

using skyrazor::bench::maximum;
using skyrazor::bench::median;
using skyrazor::bench::percentile;

// Reads close together make one screen update: its start and its bytes.
struct Update {
  Clock::time_point at;
  double bytes;
};

std::vector<Update> updatesOf(const std::vector<Chunk>& chunks) {
  std::vector<Update> updates;
  Clock::time_point last{};
  for (const Chunk& chunk : chunks) {
    if (updates.empty() || chunk.at - last > kUpdateGap) {
      updates.push_back({chunk.at, 0.0});
    }
    updates.back().bytes += static_cast<double>(chunk.bytes);
    last = chunk.at;
  }
  return updates;
}

// --- The headless references -----------------------------------------------------

// One frame as a scripted run dumps it: each cell's glyph (UTF-8) and colour.
struct DumpedFrame {
  std::vector<std::string> glyphs;  // kColumns * kRows
  std::vector<int> colors;
};

std::vector<std::string> utf8Glyphs(const std::string& line) {
  std::vector<std::string> glyphs;
  for (std::size_t i = 0; i < line.size();) {
    const auto lead = static_cast<unsigned char>(line[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    glyphs.push_back(line.substr(i, length));
    i += length;
  }
  return glyphs;
}

std::vector<DumpedFrame> parseFrameDumps(const std::string& output) {
  std::vector<DumpedFrame> frames;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("@@ frame ", 0) != 0) {
      continue;
    }
    DumpedFrame frame;
    frame.glyphs.assign(kColumns * kRows, " ");
    frame.colors.assign(kColumns * kRows, 7);
    for (int row = 0; row < kRows && std::getline(lines, line); ++row) {
      std::vector<std::string> glyphs = utf8Glyphs(line);
      for (int column = 0; column < kColumns && column < static_cast<int>(glyphs.size());
           ++column) {
        frame.glyphs[static_cast<std::size_t>(row * kColumns + column)] =
            glyphs[static_cast<std::size_t>(column)];
      }
    }
    for (int row = 0; row < kRows && std::getline(lines, line); ++row) {
      for (int column = 0; column < kColumns && column < static_cast<int>(line.size()); ++column) {
        frame.colors[static_cast<std::size_t>(row * kColumns + column)] =
            std::stoi(line.substr(static_cast<std::size_t>(column), 1), nullptr, 16);
      }
    }
    frames.push_back(std::move(frame));
  }
  return frames;
}

// The cost model of both references, in bytes as a terminal takes them: a
// cursor placement ESC [ row ; column H, a colour change ESC [ 9x m (five
// bytes), and each glyph in UTF-8.
double placementBytes(int row, int column) {
  return static_cast<double>(4 + std::to_string(row + 1).size() +
                             std::to_string(column + 1).size());
}
constexpr double kColourChangeBytes = 5.0;

// Every row placed and written whole, every colour change sent.
double fullRedrawBytes(const DumpedFrame& frame) {
  double bytes = 0.0;
  int color = -1;
  for (int row = 0; row < kRows; ++row) {
    bytes += placementBytes(row, 0);
    for (int column = 0; column < kColumns; ++column) {
      const auto cell = static_cast<std::size_t>(row * kColumns + column);
      if (frame.colors[cell] != color) {
        bytes += kColourChangeBytes;
        color = frame.colors[cell];
      }
      bytes += static_cast<double>(frame.glyphs[cell].size());
    }
  }
  return bytes;
}

// Only the cells that changed: each written once, with a placement where the
// cursor is not already there (or the unchanged cells between rewritten, when
// that is shorter), and a colour change where the colour differs. A blank
// shows only its background, which is black everywhere, so it is written in
// whatever colour is current. A battle frame leaves the cursor in the top
// left cell, so the update ends by putting it back there.
double changedCellsBytes(const DumpedFrame& before, const DumpedFrame& after) {
  double bytes = 0.0;
  int color = -1;
  int cursorRow = -1;
  int cursorColumn = -1;
  auto needsColor = [&](std::size_t cell) {
    return after.glyphs[cell] != " " && after.colors[cell] != color;
  };
  for (int row = 0; row < kRows; ++row) {
    for (int column = 0; column < kColumns; ++column) {
      const auto cell = static_cast<std::size_t>(row * kColumns + column);
      if (before.glyphs[cell] == after.glyphs[cell] && before.colors[cell] == after.colors[cell]) {
        continue;
      }
      if (row != cursorRow || column != cursorColumn) {
        double move = placementBytes(row, column);
        if (row == cursorRow && column > cursorColumn) {
          double bridge = 0.0;
          bool sameColor = true;
          for (int between = cursorColumn; between < column; ++between) {
            const auto skipped = static_cast<std::size_t>(row * kColumns + between);
            bridge += static_cast<double>(after.glyphs[skipped].size());
            sameColor = sameColor && !needsColor(skipped);
          }
          if (sameColor) {
            move = std::min(move, bridge);
          }
        }
        bytes += move;
      }
      if (needsColor(cell)) {
        bytes += kColourChangeBytes;
        color = after.colors[cell];
      }
      bytes += static_cast<double>(after.glyphs[cell].size());
      cursorRow = row;
      cursorColumn = column + 1;
    }
  }
  // The cursor goes back where the game left it, the top left cell (ESC [ H).
  return bytes + 3.0;
}

std::string runHeadless(const std::string& binary, const std::string& script) {
  char path[] = "/tmp/skyrazor-figures-XXXXXX";
  const int descriptor = mkstemp(path);
  if (descriptor < 0) {
    throw Failure("cannot write a temporary script");
  }
  if (write(descriptor, script.data(), script.size()) != static_cast<ssize_t>(script.size())) {
    close(descriptor);
    throw Failure("cannot write a temporary script");
  }
  close(descriptor);
  const std::string command =
      "'" + binary + "' --script " + path + " --size 80x25 --dump-frames --colors --limit 0";
  FILE* pipe = popen(command.c_str(), "r");
  std::string output;
  if (pipe != nullptr) {
    std::array<char, 65536> buffer{};
    for (std::size_t count; (count = fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) {
      output.append(buffer.data(), count);
    }
    pclose(pipe);
  }
  unlink(path);
  return output;
}

// --- Sessions ------------------------------------------------------------------------

constexpr int kCountdownMs = 70 * 90;

// Both pilots fire in every frame: pilot 1's "a" and pilot 2's "k" go to the
// terminal once per game-speed period.
std::vector<Update> playBattle(GameInTerminal& game, int speed, double seconds) {
  const std::size_t before = game.transcriptSize();
  game.type("Alice Bob\n");
  const Clock::time_point battleStart = game.waitFor("Alice: Shields(", before);
  const Clock::time_point end =
      battleStart + std::chrono::duration_cast<Clock::duration>(Milliseconds(seconds * 1000.0));
  for (Clock::time_point next = battleStart; next < end; next += std::chrono::milliseconds(speed)) {
    std::this_thread::sleep_until(next);
    game.type("ak");
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(3 * speed));
  std::vector<Update> updates = updatesOf(game.chunksBetween(battleStart, end));
  if (updates.size() < 3) {
    throw Failure("too few battle frames reached the terminal");
  }
  // The first update turns the countdown screen into the arena; the figures
  // are of the frames after it.
  updates.erase(updates.begin());
  return updates;
}

// The same battle headless: the same keys at the same frame times.
std::vector<DumpedFrame> playBattleHeadless(const std::string& binary, int frames) {
  std::string script = "key x\nkey 3\ntype Alice Bob\nwait " + std::to_string(kCountdownMs) + "\n";
  for (int frame = 0; frame < frames; ++frame) {
    script += "key ak\nwait 50\n";
  }
  return parseFrameDumps(runHeadless(binary, script));
}

double cpuPerSecondWaiting(GameInTerminal& game) {
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // let the screen settle
  const double before = game.cpuMs();
  std::this_thread::sleep_for(Milliseconds(kWaitingSeconds * 1000.0));
  return (game.cpuMs() - before) / kWaitingSeconds;
}

struct PeriodFigures {
  int speed;
  std::size_t frames;
  double medianMs;
  double p99Ms;
};

PeriodFigures periodsOf(int speed, const std::vector<Update>& updates) {
  std::vector<double> periods;
  for (std::size_t i = 1; i < updates.size(); ++i) {
    periods.push_back(Milliseconds(updates[i].at - updates[i - 1].at).count());
  }
  return {speed, updates.size(), median(periods), percentile(periods, 0.99)};
}

// A run at another speed: the options screen first (speed, then the default
// ship settings), back at the title, then a two-person battle.
PeriodFigures measureSpeed(const std::string& binary, int speed, double seconds, long& peakKb) {
  GameInTerminal game(binary);
  game.waitFor("Skyrazor");
  game.type("x");
  game.waitFor("(5)Gallery");
  game.type("4");
  game.waitFor("Gamespeed");
  game.type(std::to_string(speed) + " 3 3 100 100 1 1 12 12 19 19\n");
  game.waitFor("Skyrazor", game.transcriptSize());
  game.type("x");
  game.waitFor("(5)Gallery", game.transcriptSize());
  game.type("3");
  game.waitFor("Pilot#1:", game.transcriptSize());
  PeriodFigures figures = periodsOf(speed, playBattle(game, speed, seconds));
  peakKb = std::max(peakKb, game.endWithCtrlC());
  return figures;
}

const char* verdict(bool met) {
  return met ? "met" : "MISSED";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PATH/TO/skyrazor [battle seconds]\n", argv[0]);
    return 2;
  }
  const std::string binary = argv[1];
  const double battleSeconds = argc > 2 ? std::max(1.0, std::atof(argv[2])) : 8.0;
  signal(SIGPIPE, SIG_IGN);
  try {
    std::printf("Terminal figures: %s in a pseudo-terminal of %dx%d (TERM=xterm-256color)\n\n",
                binary.c_str(), kColumns, kRows);

    // Start to title, five times.
    std::vector<double> startMs;
    long peakKb = 0;
    for (int start = 0; start < 5; ++start) {
      GameInTerminal game(binary);
      startMs.push_back(Milliseconds(game.waitFor("Skyrazor") - game.started()).count());
      peakKb = std::max(peakKb, game.endWithCtrlC());
    }

    // Waiting, then a battle at the standard speed.
    GameInTerminal game(binary);
    game.waitFor("Skyrazor");
    const double titleCpu = cpuPerSecondWaiting(game);
    game.type("x");
    game.waitFor("(5)Gallery");
    const double menuCpu = cpuPerSecondWaiting(game);
    game.type("3");
    game.waitFor("Pilot#1:");
    const double promptCpu = cpuPerSecondWaiting(game);
    const std::vector<Update> battle = playBattle(game, 50, battleSeconds);
    peakKb = std::max(peakKb, game.endWithCtrlC());

    std::vector<double> liveBytes;
    for (const Update& update : battle) {
      liveBytes.push_back(update.bytes);
    }
    const std::vector<DumpedFrame> frames =
        playBattleHeadless(binary, static_cast<int>(battle.size()) + 1);
    if (frames.size() < 3) {
      throw Failure("the headless run dumped too few frames");
    }
    std::vector<double> fullBytes;
    std::vector<double> minimumBytes;
    for (std::size_t i = 1; i < frames.size(); ++i) {
      fullBytes.push_back(fullRedrawBytes(frames[i]));
      minimumBytes.push_back(changedCellsBytes(frames[i - 1], frames[i]));
    }

    std::vector<PeriodFigures> periods;
    for (int speed : {10, 50, 100}) {
      periods.push_back(measureSpeed(binary, speed, battleSeconds, peakKb));
    }

    std::printf("Start to title: median %.1f ms, slowest %.1f ms (5 starts)\n", median(startMs),
                maximum(startMs));
    std::printf("CPU while waiting: title %.3f ms/s, main menu %.3f ms/s, name prompt %.3f ms/s\n",
                titleCpu, menuCpu, promptCpu);
    std::printf("\nBattle at speed 50, both pilots firing in every frame, %zu frames:\n",
                battle.size());
    std::printf("  bytes per frame written:  median %6.0f  max %6.0f\n", median(liveBytes),
                maximum(liveBytes));
    std::printf("  full redraw (reference):  median %6.0f  max %6.0f\n", median(fullBytes),
                maximum(fullBytes));
    std::printf("  changed cells only (min): median %6.0f  max %6.0f   (%zu frames headless)\n",
                median(minimumBytes), maximum(minimumBytes), minimumBytes.size());
    const double toMinimum = median(liveBytes) / std::max(median(minimumBytes), 1.0);
    const double belowFull = median(fullBytes) / std::max(median(liveBytes), 1.0);
    std::printf(
        "  %.2f times the minimum (goal at most 1.5: %s), %.1f times below the full "
        "redraw (goal at least 10: %s)\n",
        toMinimum, verdict(toMinimum <= 1.5), belowFull, verdict(belowFull >= 10.0));

    std::printf("\nFrame period (time between frame updates on the terminal):\n");
    bool periodsMet = true;
    for (const PeriodFigures& figures : periods) {
      const bool met = std::abs(figures.medianMs - figures.speed) <= 1.0 &&
                       std::abs(figures.p99Ms - figures.speed) <= 3.0;
      periodsMet = periodsMet && met;
      std::printf("  gameSpeed %3d: median %6.2f ms, p99 %6.2f ms over %zu frames  (%s)\n",
                  figures.speed, figures.medianMs, figures.p99Ms, figures.frames, verdict(met));
      // A frame that reaches the terminal in pieces shows up as more updates
      // than the battle had frames.
      const double expected = battleSeconds * 1000.0 / figures.speed;
      if (static_cast<double>(figures.frames) > expected * 1.05 + 1.0) {
        std::printf("  MISSED: %zu updates where %.0f frames were due: frames arrive in pieces\n",
                    figures.frames, expected);
        periodsMet = false;
      }
    }
    std::printf("\nPeak memory: %.1f MB (peak resident, VmHWM; goal under 8 MB: %s)\n",
                static_cast<double>(peakKb) / 1024.0, verdict(peakKb < 8 * 1024));
    std::printf(
        "Goals: title under 50 ms: %s; no measurable CPU while waiting: %s; frame "
        "periods: %s\n",
        verdict(maximum(startMs) < 50.0), verdict(std::max({titleCpu, menuCpu, promptCpu}) < 1.0),
        verdict(periodsMet));
  } catch (const Failure& failure) {
    std::fprintf(stderr, "terminal figures: %s\n", failure.what());
    return 1;
  }
  return 0;
}
