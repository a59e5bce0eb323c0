// The server of rooms under load, all on loopback (127.0.0.1): the real
// program as `skyrazor --serve 127.0.0.1:PORT`, a fresh child for each step, and
// from this process R rooms of two terminals each, spoken to over the wire
// directly (one Asio io_context on one thread, every socket non-blocking).
//
// In each room the first terminal opens the room and walks its menus to a
// two-person battle; the second joins by the room's name, types pilot 2's
// name, and both then press battle keys at random, a key every 150-450 ms
// each, as players would. They only fly and change weapons, never fire, so
// that no battle ends before the measuring window does. After the window
// every terminal says goodbye and leaves, each room closes, and the server
// logs the room's battle frame periods, which are the figures read here.
//
// Per step: rooms opened and in battle, the join time (connect to the first
// whole picture), the rooms' frame periods, the server's CPU over the window
// (/proc/PID/stat, and its network thread, the main one, on its own), its
// peak memory (/proc/PID/status) and what it refused or dropped.
//
// The steps: --rooms LIST, then, while the goal holds, steps of --grow more
// rooms up to --up-to; then, between the most rooms that held and the
// fewest that missed, halving steps down to --resolution rooms; then a fault
// step of --fault-rooms rooms over --fault-seconds, in which a tenth of the
// terminals stop reading after pilot 2's name and a tenth send random bytes
// once the battle is on (both are pilot 2, in rooms of their own, so that
// the other rooms' figures can be read apart); then the lobby step.
//
// The lobby step: --lobby-rooms rooms opened as listed rooms (the host asks
// for a new listed room, pilot 2 joins it by the name its Welcome gave), in
// battle as above. A window without lobbies; then --lobbies lobbies come in,
// each asking for a page of 20 rows spread over the listing, and are timed
// from their hello to the first Lobby rooms that fills their page; a window
// with them looking on (they answer pings, and ping); then --quick-matches
// pairs of fresh terminals ask for a quick match 500 ms apart, the second
// timed from its hello to its Welcome, which must seat it as pilot 2 in the
// room the first opened. The server's CPU of the two windows tells what the
// lobbies cost. Their sockets take the kernel's receive times, so that the
// server's share of a page's time (from the hello to the Welcome's arrival,
// and from the view to the page's) is read apart from this process's own
// delays in reading. --lobby-step R runs that step alone, at R rooms.
//
// Watchers: --watchers-per-room W seats W watchers in every room of every
// step, joining once the room has its name (after pilot 2, as many at a time
// as the terminals); with --web-watchers-half, half of them come as a
// browser's page does, over a WebSocket at /ws (Beast, with the page's
// Host and Origin), the protocol's frames one to a binary message. They
// read everything (pictures framed and skipped), answer pings and ping
// every second; their join times and the bytes they were sent, WebSocket
// framing included, are given apart. A step with watchers holds only if
// every watcher was welcomed and none was let go.
//
//   skyrazor_server_load PATH/TO/skyrazor [--rooms 10,100,1000,2000]
//       [--grow 500] [--up-to 4000] [--resolution 50] [--fault-rooms 1000]
//       [--fault-seconds 60] [--lobbies 100] [--lobby-rooms 1000]
//       [--quick-matches 10] [--lobby-step ROOMS] [--seconds 20]
//       [--watchers-per-room W] [--web-watchers-half] [--server-log FILE]
//
// Exits 1 when something could not be measured; a missed goal is reported,
// not an error.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

#include "console/screen.h"
#include "picture_text.h"
#include "platform/network/boost_asio.h"
#include "platform/network/screen_updates.h"
#include "platform/network/wire_format.h"
#include "statistics.h"

namespace {

using namespace skyrazor;
namespace beast = boost::beast;
using SteadyClock = std::chrono::steady_clock;
using Milliseconds = std::chrono::duration<double, std::milli>;
using skyrazor::bench::maximum;
using skyrazor::bench::median;
using skyrazor::bench::percentile;
using skyrazor::bench::showsText;

constexpr double kGameSpeed = 50.0;  // the options' default, in ms per battle frame
constexpr double kMedianGoalMs = 1.0;
constexpr double kP99GoalMs = 5.0;
constexpr double kCpuGoalCores = 1.0;
constexpr double kMemoryGoalMegabytes = 1024.0;
// The server lets 64 connections wait for their answer, 4 from one address
// (whatever --max-per-address says): all of these come from 127.0.0.1, so
// this many are asked at once.
constexpr int kMostJoiningAtOnce = 4;
constexpr std::size_t kReadChunk = 64 * 1024;
constexpr auto kPingPeriod = std::chrono::seconds(1);
constexpr int kShortestKeyGapMs = 150;
constexpr int kLongestKeyGapMs = 450;
// A terminal that sends garbage sends this many bytes a key gap apart, at most
// this many times (the server should close it at the first).
constexpr std::size_t kGarbageBytes = 256;
constexpr int kMostGarbageSends = 20;
// A lobby shows this many rows; lobby k's page starts at row k times the spread.
constexpr int kLobbyRows = 20;
constexpr int kLobbyPageSpread = 10;
constexpr double kLobbyPageGoalMs = 100.0;
// The lobbies' share of the server's CPU, over what it uses without them.
constexpr double kLobbyCpuGoalShare = 0.05;
constexpr auto kQuickMatchGap = std::chrono::milliseconds(500);
constexpr double kQuickMatchGoalMs = 1000.0;

struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

const char* verdict(bool met) {
  return met ? "met" : "MISSED";
}

// --- The server child --------------------------------------------------------------

// One room's line when it closed: its battle frames and periods.
struct RoomClosing {
  long long frames = 0;
  double medianMs = 0.0;
  double p99Ms = 0.0;
  double maxMs = 0.0;
};

// What the server's log said during a step.
struct ServerLog {
  std::uint16_t port = 0;
  int roomsOpened = 0;
  int refused = 0;
  int droppedBeforeAnswer = 0;
  int gamesFailed = 0;
  bool stopped = false;
  std::map<std::string, RoomClosing> closedRooms;  // by name
  // Terminals that left before the step's end, by the reason the server gave.
  std::map<std::string, int> leftEarly;
  bool leaving = false;  // from the step's end on, leaving is expected
  // Rooms whose terminals leave when they are done: the quick matches'.
  std::set<std::string> roomsPassedOver;
  int lobbiesCameIn = 0;
  // Lobbies that left before the step's end, by the reason the server gave.
  std::map<std::string, int> lobbiesLeftEarly;
};

std::uint16_t freeLoopbackPort(asio::io_context& io) {
  asio::ip::tcp::acceptor probe(io, {asio::ip::make_address("127.0.0.1"), 0});
  return probe.local_endpoint().port();
}

// `skyrazor --serve 127.0.0.1:PORT` with its standard error on a pipe that this
// process reads line by line, on the same io_context as the terminals.
class ServerChild {
 public:
  ServerChild(asio::io_context& io, const std::string& binary, int mostRooms, std::ofstream* copy)
      : errors_(io), copy_(copy) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
      throw Failure("cannot make a pipe for the server's log");
    }
    char directory[] = "/tmp/skyrazor-server-load-XXXXXX";
    if (mkdtemp(directory) == nullptr) {
      throw Failure("cannot make a directory for the server");
    }
    directory_ = directory;
    const std::string rooms = std::to_string(mostRooms);
    // The server takes no port 0: a free one is found here, and given back
    // just before the server binds it.
    const std::string where = "127.0.0.1:" + std::to_string(freeLoopbackPort(io));
    pid_ = fork();
    if (pid_ < 0) {
      throw Failure("cannot fork the server");
    }
    if (pid_ == 0) {
      // Should this process be killed, the server goes with it.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      const int nothing = open("/dev/null", O_RDWR);
      dup2(nothing, STDIN_FILENO);
      dup2(nothing, STDOUT_FILENO);
      dup2(pipeEnds[1], STDERR_FILENO);
      close(pipeEnds[0]);
      close(pipeEnds[1]);
      if (chdir(directory) != 0) {
        _exit(126);
      }
      execl(binary.c_str(), binary.c_str(), "--serve", where.c_str(), "--max-per-address",
            "1000000", "--max-rooms", rooms.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(pipeEnds[1]);
    errors_.assign(pipeEnds[0]);
    readLog();
  }
  ~ServerChild() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    rmdir(directory_.c_str());
  }
  ServerChild(const ServerChild&) = delete;
  ServerChild& operator=(const ServerChild&) = delete;

  pid_t pid() const { return pid_; }
  ServerLog& log() { return log_; }

  void terminate() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
    }
  }
  // Whether it has exited (it is then reaped); its status in `status`.
  bool reap(int& status) {
    if (pid_ <= 0) {
      return true;
    }
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return true;
    }
    return false;
  }

 private:
  void readLog() {
    errors_.async_read_some(
        asio::buffer(chunk_), [this](const boost::system::error_code& error, std::size_t count) {
          if (error) {
            return;
          }
          pending_.append(chunk_.data(), count);
          for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
            onLine(pending_.substr(0, end));
            pending_.erase(0, end + 1);
          }
          readLog();
        });
  }

  void onLine(const std::string& line) {
    if (copy_ != nullptr) {
      *copy_ << line << '\n';
    }
    // Each line starts with its UTC stamp and a blank.
    const std::size_t blank = line.find(' ');
    const std::string text = blank == std::string::npos ? line : line.substr(blank + 1);
    if (text.rfind("serving on ", 0) == 0) {
      const std::size_t colon = text.rfind(':');
      log_.port = static_cast<std::uint16_t>(std::atoi(text.c_str() + colon + 1));
    } else if (text == "stopped") {
      log_.stopped = true;
    } else if (text.find(" refused: ") != std::string::npos) {
      ++log_.refused;
    } else if (text.find(" dropped before its answer") != std::string::npos) {
      ++log_.droppedBeforeAnswer;
    } else if (text.find("its game failed") != std::string::npos) {
      ++log_.gamesFailed;
    } else if (text.rfind("room ", 0) == 0) {
      onRoomLine(text.substr(5));
    } else if (text.rfind("lobby: ", 0) == 0) {
      onLobbyLine(text.substr(7));
    }
  }

  // "ADDRESS came in" or "ADDRESS left (WHY)".
  void onLobbyLine(const std::string& text) {
    const std::size_t left = text.find(" left (");
    if (text.size() > 8 && text.compare(text.size() - 8, 8, " came in") == 0) {
      ++log_.lobbiesCameIn;
    } else if (left != std::string::npos && !log_.leaving) {
      ++log_.lobbiesLeftEarly[text.substr(left + 7, text.size() - left - 8)];
    }
  }

  // "NAME opened", "NAME opened (listed)", "NAME closed (…)" or "NAME:
  // ADDRESS left as SEAT (WHY)".
  void onRoomLine(const std::string& text) {
    const std::size_t end = text.find_first_of(" :");
    const std::string name = text.substr(0, end);
    const std::string rest = end == std::string::npos ? "" : text.substr(end);
    if (rest == " opened" || rest.rfind(" opened (", 0) == 0) {
      ++log_.roomsOpened;
    } else if (rest.rfind(" closed", 0) == 0) {
      RoomClosing closing;
      std::sscanf(rest.c_str(),
                  " closed (%lld battle frames; period median %lf ms, p99 %lf ms, max %lf ms)",
                  &closing.frames, &closing.medianMs, &closing.p99Ms, &closing.maxMs);
      log_.closedRooms[name] = closing;
    } else if (const std::size_t left = rest.find(" left as "); left != std::string::npos) {
      if (!log_.leaving && log_.roomsPassedOver.count(name) == 0) {
        const std::size_t open = rest.find(" (", left);
        std::string why =
            open == std::string::npos ? "" : rest.substr(open + 2, rest.size() - open - 3);
        // Counted by kind: "sent a malformed message (a message of N bytes…)" as one.
        why = why.substr(0, why.find(" ("));
        ++log_.leftEarly[why];
      }
    }
  }

  asio::posix::stream_descriptor errors_;
  std::ofstream* copy_;
  std::array<char, 4096> chunk_{};
  std::string pending_;
  std::string directory_;
  pid_t pid_ = -1;
  ServerLog log_;
};

struct ProcessTimes {
  double cpuSeconds = -1.0;         // the whole process
  double mainThreadSeconds = -1.0;  // its network thread
};

double cpuSecondsOf(const std::string& statPath) {
  std::ifstream file(statPath);
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) {
    return -1.0;
  }
  // After the command: state (field 3) … utime (14), stime (15).
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  double utime = 0.0;
  double stime = 0.0;
  for (int number = 3; number <= 15 && fields >> field; ++number) {
    if (number == 14) {
      utime = std::atof(field.c_str());
    } else if (number == 15) {
      stime = std::atof(field.c_str());
    }
  }
  return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

ProcessTimes timesOf(pid_t pid) {
  const std::string base = "/proc/" + std::to_string(pid);
  return {cpuSecondsOf(base + "/stat"),
          cpuSecondsOf(base + "/task/" + std::to_string(pid) + "/stat")};
}

// A field of /proc/PID/status in kB ("VmHWM", "VmRSS") or a count ("Threads").
double statusField(pid_t pid, const std::string& name) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(file, line);) {
    if (line.rfind(name + ":", 0) == 0) {
      return std::atof(line.c_str() + name.size() + 1);
    }
  }
  return -1.0;
}

// The machine's busy time over all its cores (/proc/stat), in seconds.
double machineBusySeconds() {
  std::ifstream file("/proc/stat");
  std::string cpu;
  file >> cpu;
  double busy = 0.0;
  double value = 0.0;
  // user nice system idle iowait irq softirq steal: all but idle and iowait.
  for (int field = 0; field < 8 && file >> value; ++field) {
    busy += field == 3 || field == 4 ? 0.0 : value;
  }
  return busy / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double ownCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// --- The terminals -----------------------------------------------------------------

enum class Fault { None, Stalled, Garbage };

struct RoomRun;

// What this process shares between its terminals: one thread, one read buffer.
struct Driver {
  Driver(asio::io_context& context, asio::ip::tcp::endpoint where) : io(context), server(where) {}
  asio::io_context& io;
  asio::ip::tcp::endpoint server;
  std::mt19937 random{20261209};
  std::array<char, kReadChunk> readBuffer{};
  // Terminals waiting for their turn to connect, and how many are joining.
  std::deque<std::function<void()>> toConnect;
  int joining = 0;
  // Counts over the step.
  int refusedHere = 0;
  int connectFailures = 0;
  int protocolErrors = 0;
  std::vector<double> joinMs;
  // How late this process's key and ping timers fired while measuring: if
  // this process itself falls behind, its terminals' figures are its own.
  bool timingTicks = false;
  std::vector<double> tickLatenessMs;

  void connectNext() {
    while (joining < kMostJoiningAtOnce && !toConnect.empty()) {
      std::function<void()> start = std::move(toConnect.front());
      toConnect.pop_front();
      ++joining;
      start();
    }
  }
  void joined() {
    --joining;
    connectNext();
  }
  int between(int lowest, int highest) {
    return std::uniform_int_distribution<int>(lowest, highest)(random);
  }
};

// One terminal: a room's host (the first keyboard) or its pilot 2.
class Terminal : public std::enable_shared_from_this<Terminal> {
 public:
  enum class Stage {
    Waiting,  // for its turn to connect
    Joining,  // connected or connecting, no answer yet
    Menus,    // joined, on its way to the battle
    Battle,   // in the battle, pressing keys
    Leaving,  // goodbye sent
    Closed,
  };

  Terminal(Driver& driver, RoomRun& room, bool isHost, Fault fault)
      : driver_(driver),
        room_(room),
        isHost_(isHost),
        fault_(fault),
        socket_(driver.io),
        timer_(driver.io) {}

  Stage stage() const { return stage_; }
  bool isHost() const { return isHost_; }
  bool closedByServer() const { return closedByServer_; }
  bool stalled() const { return stalledNow_; }
  // Whether it got to the battle (it may have been closed since).
  bool reachedBattle() const { return reachedBattle_; }
  const std::string& endReason() const { return endReason_; }

  void start(const std::string& roomName);
  void leave();
  void forceClose() { finish(""); }

 private:
  void onConnected(const boost::system::error_code& error);
  void awaitBytes();
  void onReadable(const boost::system::error_code& error);
  void take(const char* bytes, std::size_t count);
  void onFrame();
  void onMessage(network::Message& message);
  void afterPictures();
  void send(const network::Message& message);
  void sendRaw(std::string bytes);
  void flush();
  void scheduleTick();
  void onTick();
  void finish(const std::string& why);

  Driver& driver_;
  RoomRun& room_;
  const bool isHost_;
  const Fault fault_;
  asio::ip::tcp::socket socket_;
  asio::steady_timer timer_;
  Stage stage_ = Stage::Waiting;
  SteadyClock::time_point connectedAt_;
  bool firstPicture_ = true;
  bool answered_ = false;
  bool closedByServer_ = false;
  bool stalledNow_ = false;
  bool reachedBattle_ = false;
  std::string endReason_;

  // The frame being read: its length and type, then its payload.
  std::array<unsigned char, 5> header_{};
  std::size_t headerBytes_ = 0;
  std::size_t payloadLeft_ = 0;
  bool keepPayload_ = false;
  std::string payload_;

  // The picture, kept until the battle is on (then screen messages are skipped unread).
  Screen picture_{80, 25};
  bool pictureChanged_ = false;
  int menuStep_ = 0;
  // Whether pilot 2 sits in the room, as Room seats last said.
  bool pilotSeated_ = false;

  std::string outgoing_;
  std::string sending_;
  bool connected_ = false;  // the hello waits in outgoing_ until then
  bool writing_ = false;
  bool shutAfterSending_ = false;
  SteadyClock::time_point nextPing_;
  int garbageSent_ = 0;
};

struct RoomRun {
  Fault fault = Fault::None;
  bool listed = false;  // opened as a new listed room rather than under a drawn name
  std::string name;     // from the host's welcome
  std::shared_ptr<Terminal> host;
  std::shared_ptr<Terminal> pilot;
  // Once the room has its name: its watchers queued to join, after pilot 2.
  std::function<void()> queueWatchers;
  bool inBattle() const {
    return host->stage() == Terminal::Stage::Battle &&
           (pilot->stage() == Terminal::Stage::Battle || pilot->stalled());
  }
};

void Terminal::start(const std::string& roomName) {
  stage_ = Stage::Joining;
  connectedAt_ = SteadyClock::now();
  socket_.open(asio::ip::tcp::v4());
  if (fault_ == Fault::Stalled) {
    // As small as the kernel allows, so that it is soon full once it stops reading.
    boost::system::error_code ignored;
    socket_.set_option(asio::socket_base::receive_buffer_size(1), ignored);
  }
  socket_.non_blocking(true);
  // The host names no room; pilot 2 names the one the host's Welcome gave.
  const bool newListed = isHost_ && room_.listed;
  std::string hello;
  network::encodeMessage(
      network::Hello{network::kProtocolVersion, network::Role::Pilot, "", roomName,
                     newListed ? network::RoomWanted::NewListed : network::RoomWanted::Named, ""},
      hello);
  outgoing_ = std::move(hello);
  socket_.async_connect(driver_.server,
                        [self = shared_from_this()](const boost::system::error_code& error) {
                          self->onConnected(error);
                        });
}

void Terminal::onConnected(const boost::system::error_code& error) {
  if (stage_ == Stage::Closed) {
    return;
  }
  if (error) {
    ++driver_.connectFailures;
    finish("could not connect: " + error.message());
    return;
  }
  boost::system::error_code ignored;
  socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
  connected_ = true;
  flush();
  awaitBytes();
  nextPing_ = SteadyClock::now() + kPingPeriod;
  scheduleTick();
}

void Terminal::awaitBytes() {
  if (stage_ == Stage::Closed || stalledNow_) {
    return;
  }
  socket_.async_wait(asio::socket_base::wait_read,
                     [self = shared_from_this()](const boost::system::error_code& error) {
                       self->onReadable(error);
                     });
}

void Terminal::onReadable(const boost::system::error_code& error) {
  if (stage_ == Stage::Closed) {
    return;
  }
  if (error) {
    finish(error.message());
    return;
  }
  // A few chunks at most, then the others' turn.
  for (int round = 0; round < 4 && stage_ != Stage::Closed && !stalledNow_; ++round) {
    boost::system::error_code readError;
    const std::size_t count = socket_.read_some(asio::buffer(driver_.readBuffer), readError);
    if (readError == asio::error::would_block || readError == asio::error::try_again) {
      break;
    }
    if (readError) {
      finish(readError == asio::error::eof ? "the server closed the connection"
                                           : readError.message());
      return;
    }
    take(driver_.readBuffer.data(), count);
    if (count < driver_.readBuffer.size()) {
      break;
    }
  }
  if (stage_ == Stage::Closed) {
    return;
  }
  afterPictures();
  awaitBytes();
}

// Frames the bytes; screen messages are decoded only while the picture is
// still read for the menus.
void Terminal::take(const char* bytes, std::size_t count) {
  while (count > 0 && stage_ != Stage::Closed) {
    if (headerBytes_ < header_.size()) {
      header_[headerBytes_++] = static_cast<unsigned char>(*bytes++);
      --count;
      if (headerBytes_ < header_.size()) {
        continue;
      }
      const std::size_t length = (std::size_t{header_[0]} << 24) | (std::size_t{header_[1]} << 16) |
                                 (std::size_t{header_[2]} << 8) | std::size_t{header_[3]};
      if (length < 1 || length > network::kLongestMessage) {
        ++driver_.protocolErrors;
        finish("the server sent a malformed frame");
        return;
      }
      const auto type = static_cast<network::MessageType>(header_[4]);
      const bool screen =
          type == network::MessageType::WholeScreen || type == network::MessageType::ScreenChanges;
      keepPayload_ = !screen || stage_ == Stage::Menus || stage_ == Stage::Joining;
      payload_.clear();
      payloadLeft_ = length - 1;
      if (type == network::MessageType::WholeScreen && firstPicture_) {
        firstPicture_ = false;
        driver_.joinMs.push_back(Milliseconds(SteadyClock::now() - connectedAt_).count());
      }
    } else {
      const std::size_t taken = std::min(count, payloadLeft_);
      if (keepPayload_) {
        payload_.append(bytes, taken);
      }
      bytes += taken;
      count -= taken;
      payloadLeft_ -= taken;
    }
    if (headerBytes_ == header_.size() && payloadLeft_ == 0) {
      onFrame();
      headerBytes_ = 0;
    }
  }
}

void Terminal::onFrame() {
  if (!keepPayload_) {
    return;
  }
  auto decoded = network::decodeMessage(header_[4], payload_);
  if (auto* malformed = std::get_if<network::MalformedMessage>(&decoded)) {
    ++driver_.protocolErrors;
    finish("the server sent a malformed message (" + malformed->reason + ")");
    return;
  }
  onMessage(std::get<network::Message>(decoded));
}

void Terminal::onMessage(network::Message& message) {
  if (auto* welcome = std::get_if<network::Welcome>(&message)) {
    answered_ = true;
    driver_.joined();
    stage_ = Stage::Menus;
    if (isHost_) {
      room_.name = welcome->roomName;
      if (room_.queueWatchers) {
        room_.queueWatchers();
      }
      // Pilot 2 joins this room next, ahead of the rooms still to open.
      std::weak_ptr<Terminal> pilot = room_.pilot;
      std::string name = room_.name;
      driver_.toConnect.push_front([pilot, name] {
        if (auto terminal = pilot.lock()) {
          terminal->start(name);
        }
      });
      driver_.connectNext();
    }
  } else if (auto* refusal = std::get_if<network::Refusal>(&message)) {
    ++driver_.refusedHere;
    finish("refused: " + refusal->text);
  } else if (auto* whole = std::get_if<network::WholeScreen>(&message)) {
    pictureChanged_ = network::applyWholeScreen(*whole, picture_) || pictureChanged_;
  } else if (auto* changes = std::get_if<network::ScreenChanges>(&message)) {
    pictureChanged_ = network::applyScreenChanges(*changes, picture_) || pictureChanged_;
  } else if (auto* seats = std::get_if<network::RoomSeats>(&message)) {
    pilotSeated_ = seats->pilotSeated;
    pictureChanged_ = true;
  } else if (auto* ping = std::get_if<network::Ping>(&message)) {
    send(network::Pong{ping->timestamp});
  } else if (auto* goodbye = std::get_if<network::Goodbye>(&message)) {
    finish("goodbye: " + goodbye->reason);
  }
}

// The menus, step by step, each when the picture shows what it waits for.
// The host chooses the two-person battle only once pilot 2 is seated: a
// match set up with nobody at pilot 2's keyboard is played at the first
// keyboard alone.
void Terminal::afterPictures() {
  if (!pictureChanged_ || stage_ != Stage::Menus) {
    return;
  }
  pictureChanged_ = false;
  struct MenuStep {
    const char* shows;
    const char* keys;  // nullptr: the battle is on
  };
  static const std::array<MenuStep, 4> kHostSteps{
      {{"Skyrazor", "x"}, {"(5)Gallery", "3"}, {"Pilot#1:", "Alice\r"}, {"Shields(", nullptr}}};
  static const std::array<MenuStep, 2> kPilotSteps{{{"Pilot#2:", "Bob\r"}, {"Shields(", nullptr}}};
  const MenuStep* steps = isHost_ ? kHostSteps.data() : kPilotSteps.data();
  const int count =
      isHost_ ? static_cast<int>(kHostSteps.size()) : static_cast<int>(kPilotSteps.size());
  while (menuStep_ < count && showsText(picture_, steps[menuStep_].shows)) {
    if (isHost_ && std::string(steps[menuStep_].shows) == "(5)Gallery" && !pilotSeated_) {
      return;
    }
    const MenuStep& step = steps[menuStep_++];
    if (step.keys == nullptr) {
      stage_ = Stage::Battle;
      reachedBattle_ = true;
      return;
    }
    send(network::Keys{step.keys});
    if (!isHost_ && fault_ == Fault::Stalled) {
      // Named, and from now on reads nothing: what it is sent piles up.
      stalledNow_ = true;
      stage_ = Stage::Battle;
      reachedBattle_ = true;
      return;
    }
  }
}

void Terminal::send(const network::Message& message) {
  std::string bytes;
  network::encodeMessage(message, bytes);
  sendRaw(std::move(bytes));
}

void Terminal::sendRaw(std::string bytes) {
  if (stage_ == Stage::Closed || stage_ == Stage::Leaving) {
    return;
  }
  outgoing_ += bytes;
  flush();
}

void Terminal::flush() {
  if (writing_ || outgoing_.empty() || stage_ == Stage::Closed) {
    return;
  }
  if (!connected_) {
    return;
  }
  writing_ = true;
  sending_.swap(outgoing_);
  outgoing_.clear();
  asio::async_write(
      socket_, asio::buffer(sending_),
      [self = shared_from_this()](const boost::system::error_code& error, std::size_t) {
        self->writing_ = false;
        self->sending_.clear();
        if (self->stage_ == Stage::Closed) {
          return;
        }
        if (error) {
          self->finish("cannot send: " + error.message());
          return;
        }
        if (!self->outgoing_.empty()) {
          self->flush();
        } else if (self->shutAfterSending_) {
          boost::system::error_code ignored;
          self->socket_.shutdown(asio::socket_base::shutdown_send, ignored);
        }
      });
}

void Terminal::scheduleTick() {
  const bool pressing = stage_ == Stage::Battle;
  timer_.expires_after(
      pressing ? std::chrono::milliseconds(driver_.between(kShortestKeyGapMs, kLongestKeyGapMs))
               : std::chrono::milliseconds(250));
  timer_.async_wait([self = shared_from_this()](const boost::system::error_code& error) {
    if (!error) {
      self->onTick();
    }
  });
}

void Terminal::onTick() {
  if (stage_ == Stage::Closed || stage_ == Stage::Leaving) {
    return;
  }
  const SteadyClock::time_point now = SteadyClock::now();
  if (driver_.timingTicks) {
    driver_.tickLatenessMs.push_back(Milliseconds(now - timer_.expiry()).count());
  }
  if (now >= nextPing_ && answered_) {
    nextPing_ = now + kPingPeriod;
    send(network::Ping{static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count())});
  }
  if (stage_ == Stage::Battle && room_.host->stage() == Stage::Battle) {
    if (fault_ == Fault::Garbage && !isHost_) {
      if (garbageSent_++ < kMostGarbageSends) {
        std::string garbage(kGarbageBytes, '\0');
        for (char& byte : garbage) {
          byte = static_cast<char>(driver_.between(0, 255));
        }
        sendRaw(std::move(garbage));
      }
    } else {
      static constexpr std::array<char, 3> kHostKeys{'e', 's', 'w'};
      static constexpr std::array<char, 3> kPilotKeys{'p', 'l', 'o'};
      const auto& keys = isHost_ ? kHostKeys : kPilotKeys;
      send(network::Keys{std::string(1, keys[static_cast<std::size_t>(driver_.between(0, 2))])});
    }
  }
  scheduleTick();
}

void Terminal::leave() {
  if (stage_ == Stage::Closed || stage_ == Stage::Leaving) {
    return;
  }
  if (stage_ == Stage::Waiting) {
    stage_ = Stage::Closed;
    return;
  }
  if (stalledNow_ || stage_ == Stage::Joining) {
    finish("");
    return;
  }
  timer_.cancel();
  std::string goodbye;
  network::encodeMessage(network::Goodbye{"the load is over"}, goodbye);
  outgoing_ += goodbye;
  shutAfterSending_ = true;
  flush();
  stage_ = Stage::Leaving;
}

void Terminal::finish(const std::string& why) {
  if (stage_ == Stage::Closed) {
    return;
  }
  if (!answered_ && stage_ == Stage::Joining) {
    driver_.joined();
  }
  if (stage_ != Stage::Leaving && !why.empty()) {
    closedByServer_ = true;
    endReason_ = why;
  }
  stage_ = Stage::Closed;
  boost::system::error_code ignored;
  timer_.cancel();
  socket_.close(ignored);
}

// --- The lobbies and quick matches -------------------------------------------------

double wallClockMs() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// A terminal that comes by rather than playing in a room measured: a lobby
// that shows a page of the listed rooms, one that asks for a quick match, or
// a watcher of a room. It answers pings and pings every second, as any
// terminal does, and reads every message but the pictures.
class Visitor : public std::enable_shared_from_this<Visitor> {
 public:
  enum class Kind { Lobby, QuickMatch, Watcher };

  Visitor(Driver& driver, Kind kind, network::LobbyView view = {}, std::string room = "")
      : driver_(driver),
        kind_(kind),
        view_(view),
        room_(std::move(room)),
        socket_(driver.io),
        timer_(driver.io) {}

  // Connects and says hello; `queued` when it waited in the driver's queue,
  // whose turn it then gives on when answered.
  void start(bool queued);
  void leave();
  void forceClose() { finish(""); }

  bool answered() const { return welcome_.has_value() || refused_; }
  bool welcomed() const { return welcome_.has_value(); }
  bool closed() const { return closed_; }
  bool closedByServer() const { return closedByServer_; }
  const std::optional<network::Welcome>& welcome() const { return welcome_; }
  // From the hello to the Welcome, and a lobby's to the first news that filled its page.
  std::optional<double> welcomeMs() const { return welcomeMs_; }
  std::optional<double> pageMs() const { return pageMs_; }
  // The same by the kernel's receive times, without this process's delays in
  // reading and answering: the server's share.
  std::optional<double> serverWelcomeMs() const { return serverWelcomeMs_; }
  std::optional<double> serverPageMs() const { return serverPageMs_; }
  int rowsOnPage() const { return rowsOnPage_; }
  int battlesOnPage() const { return battlesOnPage_; }
  std::size_t bytesRead() const { return bytesRead_; }
  // From the connect to the first whole picture.
  std::optional<double> firstPictureMs() const { return firstPictureMs_; }

 private:
  void onConnected(const boost::system::error_code& error);
  void awaitBytes();
  void onReadable(const boost::system::error_code& error);
  std::size_t receive(boost::system::error_code& error);
  void take(const char* bytes, std::size_t count);
  void onFrame();
  void onMessage(const network::Message& message);
  void onWelcome(const network::Welcome& welcome);
  void onRooms(const network::LobbyRooms& news);
  bool pageFilled() const;
  void send(const network::Message& message);
  void flush();
  void scheduleTick();
  void finish(const std::string& why);
  void doneJoining();
  double sinceHelloMs() const { return Milliseconds(SteadyClock::now() - helloSentAt_).count(); }

  Driver& driver_;
  const Kind kind_;
  const network::LobbyView view_;
  const std::string room_;  // a watcher's
  asio::ip::tcp::socket socket_;
  asio::steady_timer timer_;
  bool queued_ = false;
  bool joining_ = false;
  bool connected_ = false;
  bool writing_ = false;
  bool leaving_ = false;
  bool shutAfterSending_ = false;
  bool closed_ = false;
  bool closedByServer_ = false;
  bool refused_ = false;
  SteadyClock::time_point startedAt_;
  SteadyClock::time_point helloSentAt_;
  std::optional<network::Welcome> welcome_;
  std::optional<double> firstPictureMs_;
  std::optional<double> welcomeMs_;
  std::optional<double> pageMs_;
  // On the wall clock, as the kernel stamps what it receives: when the hello
  // and the view went, and when the bytes last read arrived.
  double helloSentWallMs_ = 0.0;
  double viewSentWallMs_ = 0.0;
  double arrivedWallMs_ = 0.0;
  std::optional<double> serverWelcomeMs_;
  std::optional<double> serverPageMs_;

  // The lobby's page as told so far, and how many rooms are listed.
  std::map<std::uint16_t, network::ListedRoom> page_;
  std::uint16_t listed_ = 0;
  int rowsOnPage_ = 0;
  int battlesOnPage_ = 0;

  std::array<unsigned char, 5> header_{};
  std::size_t headerBytes_ = 0;
  std::size_t payloadLeft_ = 0;
  bool keepPayload_ = false;
  std::string payload_;
  std::size_t bytesRead_ = 0;
  std::string outgoing_;
  std::string sending_;
};

void Visitor::start(bool queued) {
  queued_ = queued;
  joining_ = true;
  startedAt_ = SteadyClock::now();
  socket_.open(asio::ip::tcp::v4());
  socket_.non_blocking(true);
  const network::Role role = kind_ == Kind::Lobby     ? network::Role::Lobby
                             : kind_ == Kind::Watcher ? network::Role::Watcher
                                                      : network::Role::Pilot;
  network::encodeMessage(network::Hello{network::kProtocolVersion, role, "", room_,
                                        kind_ == Kind::QuickMatch ? network::RoomWanted::QuickMatch
                                                                  : network::RoomWanted::Named,
                                        ""},
                         outgoing_);
  socket_.async_connect(driver_.server,
                        [self = shared_from_this()](const boost::system::error_code& error) {
                          self->onConnected(error);
                        });
}

void Visitor::onConnected(const boost::system::error_code& error) {
  if (closed_) {
    return;
  }
  if (error) {
    ++driver_.connectFailures;
    finish("could not connect: " + error.message());
    return;
  }
  boost::system::error_code ignored;
  socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
  const int stamped = 1;
  setsockopt(socket_.native_handle(), SOL_SOCKET, SO_TIMESTAMPNS, &stamped, sizeof stamped);
  connected_ = true;
  helloSentAt_ = SteadyClock::now();
  helloSentWallMs_ = wallClockMs();
  flush();
  awaitBytes();
  scheduleTick();
}

void Visitor::awaitBytes() {
  if (closed_) {
    return;
  }
  socket_.async_wait(asio::socket_base::wait_read,
                     [self = shared_from_this()](const boost::system::error_code& error) {
                       self->onReadable(error);
                     });
}

void Visitor::onReadable(const boost::system::error_code& error) {
  if (closed_) {
    return;
  }
  if (error) {
    finish(error.message());
    return;
  }
  for (int round = 0; round < 4 && !closed_; ++round) {
    boost::system::error_code readError;
    const std::size_t count = receive(readError);
    if (readError == asio::error::would_block || readError == asio::error::try_again) {
      break;
    }
    if (readError) {
      finish(readError == asio::error::eof ? "the server closed the connection"
                                           : readError.message());
      return;
    }
    bytesRead_ += count;
    take(driver_.readBuffer.data(), count);
    if (count < driver_.readBuffer.size()) {
      break;
    }
  }
  awaitBytes();
}

// Reads what is there, and when the kernel received it (of the bytes read,
// the last to arrive: at worst later than the first message among them).
std::size_t Visitor::receive(boost::system::error_code& error) {
  iovec into{driver_.readBuffer.data(), driver_.readBuffer.size()};
  alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(timespec))> control{};
  msghdr header{};
  header.msg_iov = &into;
  header.msg_iovlen = 1;
  header.msg_control = control.data();
  header.msg_controllen = control.size();
  const ssize_t count = recvmsg(socket_.native_handle(), &header, MSG_DONTWAIT);
  if (count < 0) {
    error = boost::system::error_code(errno, boost::system::system_category());
    return 0;
  }
  if (count == 0) {
    error = asio::error::eof;
    return 0;
  }
  arrivedWallMs_ = wallClockMs();
  for (cmsghdr* part = CMSG_FIRSTHDR(&header); part != nullptr; part = CMSG_NXTHDR(&header, part)) {
    if (part->cmsg_level == SOL_SOCKET && part->cmsg_type == SCM_TIMESTAMPNS) {
      timespec stamp{};
      std::memcpy(&stamp, CMSG_DATA(part), sizeof stamp);
      arrivedWallMs_ =
          static_cast<double>(stamp.tv_sec) * 1e3 + static_cast<double>(stamp.tv_nsec) / 1e6;
    }
  }
  return static_cast<std::size_t>(count);
}

// Frames the bytes as a room's terminal does; pictures are skipped unread.
void Visitor::take(const char* bytes, std::size_t count) {
  while (count > 0 && !closed_) {
    if (headerBytes_ < header_.size()) {
      header_[headerBytes_++] = static_cast<unsigned char>(*bytes++);
      --count;
      if (headerBytes_ < header_.size()) {
        continue;
      }
      const std::size_t length = (std::size_t{header_[0]} << 24) | (std::size_t{header_[1]} << 16) |
                                 (std::size_t{header_[2]} << 8) | std::size_t{header_[3]};
      if (length < 1 || length > network::kLongestMessage) {
        ++driver_.protocolErrors;
        finish("the server sent a malformed frame");
        return;
      }
      const auto type = static_cast<network::MessageType>(header_[4]);
      keepPayload_ =
          type != network::MessageType::WholeScreen && type != network::MessageType::ScreenChanges;
      if (type == network::MessageType::WholeScreen && !firstPictureMs_) {
        firstPictureMs_ = Milliseconds(SteadyClock::now() - startedAt_).count();
      }
      payload_.clear();
      payloadLeft_ = length - 1;
    } else {
      const std::size_t taken = std::min(count, payloadLeft_);
      if (keepPayload_) {
        payload_.append(bytes, taken);
      }
      bytes += taken;
      count -= taken;
      payloadLeft_ -= taken;
    }
    if (headerBytes_ == header_.size() && payloadLeft_ == 0) {
      onFrame();
      headerBytes_ = 0;
    }
  }
}

void Visitor::onFrame() {
  if (!keepPayload_) {
    return;
  }
  const auto decoded = network::decodeMessage(header_[4], payload_);
  if (const auto* malformed = std::get_if<network::MalformedMessage>(&decoded)) {
    ++driver_.protocolErrors;
    finish("the server sent a malformed message (" + malformed->reason + ")");
    return;
  }
  onMessage(std::get<network::Message>(decoded));
}

void Visitor::onMessage(const network::Message& message) {
  if (const auto* welcome = std::get_if<network::Welcome>(&message)) {
    onWelcome(*welcome);
  } else if (const auto* news = std::get_if<network::LobbyRooms>(&message)) {
    onRooms(*news);
  } else if (const auto* refusal = std::get_if<network::Refusal>(&message)) {
    ++driver_.refusedHere;
    refused_ = true;
    finish("refused: " + refusal->text);
  } else if (const auto* ping = std::get_if<network::Ping>(&message)) {
    send(network::Pong{ping->timestamp});
  } else if (const auto* goodbye = std::get_if<network::Goodbye>(&message)) {
    finish("goodbye: " + goodbye->reason);
  }
}

void Visitor::onWelcome(const network::Welcome& welcome) {
  welcomeMs_ = sinceHelloMs();
  serverWelcomeMs_ = arrivedWallMs_ - helloSentWallMs_;
  welcome_ = welcome;
  doneJoining();
  if (kind_ == Kind::Lobby) {
    if (welcome.role != network::Role::Lobby) {
      ++driver_.protocolErrors;
      finish("welcomed to a room's seat rather than the lobby");
      return;
    }
    viewSentWallMs_ = wallClockMs();
    send(view_);
  } else if (kind_ == Kind::Watcher && welcome.role != network::Role::Watcher) {
    ++driver_.protocolErrors;
    finish("welcomed to another seat than a watcher's");
  }
}

// Keeps the rows told; the first news after which every row of the page that
// the count of listed rooms allows is known fills it.
void Visitor::onRooms(const network::LobbyRooms& news) {
  listed_ = news.listed;
  for (const auto& [index, row] : news.rows) {
    page_[index] = row;
  }
  page_.erase(page_.lower_bound(listed_), page_.end());
  if (pageMs_ || !pageFilled()) {
    return;
  }
  pageMs_ = sinceHelloMs();
  serverPageMs_ = *serverWelcomeMs_ + (arrivedWallMs_ - viewSentWallMs_);
  for (const auto& [index, row] : page_) {
    ++rowsOnPage_;
    battlesOnPage_ += row.activity == network::RoomActivity::TwoPersonBattle ? 1 : 0;
  }
}

bool Visitor::pageFilled() const {
  const std::size_t end =
      std::min<std::size_t>(listed_, std::size_t{view_.firstIndex} + view_.rows);
  for (std::size_t index = view_.firstIndex; index < end; ++index) {
    if (page_.count(static_cast<std::uint16_t>(index)) == 0) {
      return false;
    }
  }
  return true;
}

void Visitor::send(const network::Message& message) {
  if (closed_ || leaving_) {
    return;
  }
  network::encodeMessage(message, outgoing_);
  flush();
}

void Visitor::flush() {
  if (writing_ || outgoing_.empty() || closed_ || !connected_) {
    return;
  }
  writing_ = true;
  sending_.swap(outgoing_);
  outgoing_.clear();
  asio::async_write(
      socket_, asio::buffer(sending_),
      [self = shared_from_this()](const boost::system::error_code& error, std::size_t) {
        self->writing_ = false;
        self->sending_.clear();
        if (self->closed_) {
          return;
        }
        if (error) {
          self->finish("cannot send: " + error.message());
          return;
        }
        if (!self->outgoing_.empty()) {
          self->flush();
        } else if (self->shutAfterSending_) {
          boost::system::error_code ignored;
          self->socket_.shutdown(asio::socket_base::shutdown_send, ignored);
        }
      });
}

// A ping every second once answered.
void Visitor::scheduleTick() {
  timer_.expires_after(kPingPeriod);
  timer_.async_wait([self = shared_from_this()](const boost::system::error_code& error) {
    if (error || self->closed_ || self->leaving_) {
      return;
    }
    if (self->welcome_) {
      self->send(network::Ping{
          static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                         SteadyClock::now().time_since_epoch())
                                         .count())});
    }
    self->scheduleTick();
  });
}

void Visitor::leave() {
  if (closed_ || leaving_) {
    return;
  }
  if (!welcome_) {
    finish("");
    return;
  }
  timer_.cancel();
  network::encodeMessage(network::Goodbye{"the load is over"}, outgoing_);
  leaving_ = true;
  shutAfterSending_ = true;
  flush();
}

void Visitor::doneJoining() {
  if (joining_) {
    joining_ = false;
    if (queued_) {
      driver_.joined();
    }
  }
}

void Visitor::finish(const std::string& why) {
  if (closed_) {
    return;
  }
  doneJoining();
  if (!leaving_ && !why.empty()) {
    closedByServer_ = true;
  }
  closed_ = true;
  boost::system::error_code ignored;
  timer_.cancel();
  socket_.close(ignored);
}

// A WebSocket message of `size` bytes from the server as the wire carries
// it: Beast sends it in frames of at most 4096 bytes (its default), each
// unmasked, with two bytes of header below 126 bytes and four above.
std::size_t onTheWire(std::size_t size) {
  constexpr std::size_t kFrameBytes = 4096;
  std::size_t wire = 0;
  do {
    const std::size_t part = std::min(size, kFrameBytes);
    wire += part + (part < 126 ? 2 : 4);
    size -= part;
  } while (size > 0);
  return wire;
}

// A watcher as a browser's page is one: a WebSocket at /ws (its handshake
// with Host 127.0.0.1:PORT and Origin http:// and the same), then the
// protocol's frames, one to a binary message: a hello as a watcher of the
// room, Pongs to the server's Pings, a Ping every second. WebSocket pings
// are answered by Beast as it reads. It counts what comes in as the wire
// carries it, each message's WebSocket framing included.
class WebWatcher : public std::enable_shared_from_this<WebWatcher> {
 public:
  WebWatcher(Driver& driver, std::string room)
      : driver_(driver), room_(std::move(room)), socket_(driver.io), timer_(driver.io) {}

  void start();
  void leave();
  void forceClose();

  bool welcomed() const { return welcomed_; }
  bool closed() const { return closed_; }
  bool closedByServer() const { return closedByServer_; }
  std::size_t bytesRead() const { return bytesRead_; }
  std::optional<double> firstPictureMs() const { return firstPictureMs_; }

 private:
  void onConnected(const boost::system::error_code& error);
  void readNext();
  void onMessage();
  void send(const network::Message& message);
  void writeNext();
  void scheduleTick();
  void finish(const std::string& why);
  void doneJoining();

  Driver& driver_;
  const std::string room_;
  beast::websocket::stream<asio::ip::tcp::socket> socket_;
  asio::steady_timer timer_;
  beast::flat_buffer incoming_;
  std::deque<std::string> outgoing_;
  bool writing_ = false;
  bool joining_ = false;
  bool welcomed_ = false;
  bool leaving_ = false;
  bool closing_ = false;
  bool closed_ = false;
  bool closedByServer_ = false;
  SteadyClock::time_point startedAt_;
  std::optional<double> firstPictureMs_;
  std::size_t bytesRead_ = 0;
};

void WebWatcher::start() {
  joining_ = true;
  startedAt_ = SteadyClock::now();
  beast::get_lowest_layer(socket_).async_connect(
      driver_.server, [self = shared_from_this()](const boost::system::error_code& error) {
        self->onConnected(error);
      });
}

void WebWatcher::onConnected(const boost::system::error_code& error) {
  if (closed_) {
    return;
  }
  if (error) {
    ++driver_.connectFailures;
    finish("could not connect: " + error.message());
    return;
  }
  boost::system::error_code ignored;
  beast::get_lowest_layer(socket_).set_option(asio::ip::tcp::no_delay(true), ignored);
  const std::string host =
      driver_.server.address().to_string() + ":" + std::to_string(driver_.server.port());
  socket_.set_option(
      beast::websocket::stream_base::decorator([host](beast::websocket::request_type& request) {
        request.set(beast::http::field::origin, "http://" + host);
      }));
  socket_.async_handshake(
      host, "/ws", [self = shared_from_this()](const boost::system::error_code& error) {
        if (self->closed_) {
          return;
        }
        if (error) {
          ++self->driver_.protocolErrors;
          self->finish("no WebSocket: " + error.message());
          return;
        }
        self->socket_.binary(true);
        self->send(network::Hello{network::kProtocolVersion, network::Role::Watcher, "",
                                  self->room_, network::RoomWanted::Named, ""});
        self->readNext();
        self->scheduleTick();
      });
}

void WebWatcher::readNext() {
  incoming_.clear();
  socket_.async_read(incoming_, [self = shared_from_this()](const boost::system::error_code& error,
                                                            std::size_t count) {
    if (self->closed_) {
      return;
    }
    if (error) {
      self->finish(self->leaving_ ? "" : error.message());
      return;
    }
    self->bytesRead_ += onTheWire(count);
    self->onMessage();
    if (!self->closed_) {
      self->readNext();
    }
  });
}

void WebWatcher::onMessage() {
  const auto data = incoming_.data();
  const auto* bytes = static_cast<const unsigned char*>(data.data());
  const std::size_t size = data.size();
  const std::size_t length = size < 5
                                 ? 0
                                 : (std::size_t{bytes[0]} << 24) | (std::size_t{bytes[1]} << 16) |
                                       (std::size_t{bytes[2]} << 8) | std::size_t{bytes[3]};
  if (size < 5 || length != size - 4) {
    ++driver_.protocolErrors;
    finish("the server sent a message that is not one frame");
    return;
  }
  const auto type = static_cast<network::MessageType>(bytes[4]);
  if (type == network::MessageType::WholeScreen || type == network::MessageType::ScreenChanges) {
    if (type == network::MessageType::WholeScreen && !firstPictureMs_) {
      firstPictureMs_ = Milliseconds(SteadyClock::now() - startedAt_).count();
    }
    return;
  }
  auto decoded = network::decodeMessage(
      bytes[4], std::string(reinterpret_cast<const char*>(bytes) + 5, size - 5));
  if (auto* malformed = std::get_if<network::MalformedMessage>(&decoded)) {
    ++driver_.protocolErrors;
    finish("the server sent a malformed message (" + malformed->reason + ")");
    return;
  }
  auto& message = std::get<network::Message>(decoded);
  if (auto* welcome = std::get_if<network::Welcome>(&message)) {
    welcomed_ = true;
    doneJoining();
    if (welcome->role != network::Role::Watcher) {
      ++driver_.protocolErrors;
      finish("welcomed to another seat than a watcher's");
    }
  } else if (auto* refusal = std::get_if<network::Refusal>(&message)) {
    ++driver_.refusedHere;
    finish("refused: " + refusal->text);
  } else if (auto* ping = std::get_if<network::Ping>(&message)) {
    send(network::Pong{ping->timestamp});
  } else if (auto* goodbye = std::get_if<network::Goodbye>(&message)) {
    finish("goodbye: " + goodbye->reason);
  }
}

void WebWatcher::send(const network::Message& message) {
  if (closed_ || closing_) {
    return;
  }
  std::string bytes;
  network::encodeMessage(message, bytes);
  outgoing_.push_back(std::move(bytes));
  writeNext();
}

// One write at a time; once a leaving watcher's goodbye is out, the
// WebSocket's own close.
void WebWatcher::writeNext() {
  if (writing_ || closed_) {
    return;
  }
  if (outgoing_.empty()) {
    if (leaving_ && !closing_) {
      closing_ = true;
      writing_ = true;
      socket_.async_close(beast::websocket::close_code::normal,
                          [self = shared_from_this()](const boost::system::error_code&) {
                            self->writing_ = false;
                          });
    }
    return;
  }
  writing_ = true;
  socket_.async_write(
      asio::buffer(outgoing_.front()),
      [self = shared_from_this()](const boost::system::error_code& error, std::size_t) {
        self->writing_ = false;
        if (self->closed_) {
          return;
        }
        if (error) {
          self->finish(self->leaving_ ? "" : "cannot send: " + error.message());
          return;
        }
        self->outgoing_.pop_front();
        self->writeNext();
      });
}

void WebWatcher::scheduleTick() {
  timer_.expires_after(kPingPeriod);
  timer_.async_wait([self = shared_from_this()](const boost::system::error_code& error) {
    if (error || self->closed_ || self->leaving_) {
      return;
    }
    if (self->welcomed_) {
      self->send(network::Ping{
          static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                         SteadyClock::now().time_since_epoch())
                                         .count())});
    }
    self->scheduleTick();
  });
}

void WebWatcher::leave() {
  if (closed_ || leaving_) {
    return;
  }
  if (!welcomed_) {
    finish("");
    return;
  }
  timer_.cancel();
  send(network::Goodbye{"the load is over"});
  leaving_ = true;
  writeNext();
}

void WebWatcher::forceClose() {
  finish("");
}

void WebWatcher::doneJoining() {
  if (joining_) {
    joining_ = false;
    driver_.joined();
  }
}

void WebWatcher::finish(const std::string& why) {
  if (closed_) {
    return;
  }
  doneJoining();
  if (!leaving_ && !why.empty()) {
    closedByServer_ = true;
  }
  closed_ = true;
  boost::system::error_code ignored;
  timer_.cancel();
  beast::get_lowest_layer(socket_).close(ignored);
}

// --- A step ------------------------------------------------------------------------

struct StepPlan {
  int rooms = 0;
  int stalledRooms = 0;
  int garbageRooms = 0;
  double seconds = 0.0;  // the window; 0 for the run's usual one
  // The lobby step's: rooms opened as listed rooms, a window without lobbies
  // before the one with them, and quick matches after it.
  bool listed = false;
  int lobbies = 0;
  int quickMatches = 0;
  // Watchers in every room, and how many of them over the page's WebSocket.
  int watchersPerRoom = 0;
  int webWatchersPerRoom = 0;
};

// The rooms' watchers, over TCP or the page's WebSocket.
struct WatcherFigures {
  int watchers = 0;
  int welcomed = 0;
  int closedByServer = 0;
  std::vector<double> joinMs;          // connect to the first whole picture
  double bytesPerWatcherSecond = 0.0;  // in the window, as the wire carried them
};

// The server's CPU over a window, and this process's own.
struct WindowFigures {
  double seconds = 0.0;
  double serverCores = -1.0;
  double networkThreadCores = -1.0;
  double ownCores = 0.0;
  // The rest of the machine: whatever else ran beside the server and this process.
  double othersCores = 0.0;
};

// What the lobbies and quick matches saw, and what the server made of them.
struct LobbyFigures {
  WindowFigures withoutLobbies;
  int lobbies = 0;
  int cameIn = 0;  // by the server's log
  std::vector<double> welcomeMs;
  std::vector<double> pageMs;  // hello to a filled page
  // The server's share of each: by the kernel's receive times.
  std::vector<double> serverWelcomeMs;
  std::vector<double> serverPageMs;
  int rowsOnPages = 0;
  int battlesOnPages = 0;
  double bytesPerLobbySecond = 0.0;  // sent to a lobby in the window with them
  int closedByServer = 0;
  std::map<std::string, int> leftEarly;  // the server's word
  int quickMatches = 0;
  int matched = 0;  // the second seated as pilot 2 in the room the first opened
  std::vector<double> firstWelcomeMs;
  std::vector<double> secondWelcomeMs;
  std::vector<double> secondServerWelcomeMs;  // by the kernel's receive times
  // The lobbies' cost: the server's CPU with them over that without.
  double cpuShare(double withLobbies) const {
    return withoutLobbies.serverCores > 0.0 ? withLobbies / withoutLobbies.serverCores - 1.0 : 0.0;
  }
  bool pagesMet() const {
    return lobbies > 0 && static_cast<int>(pageMs.size()) == lobbies && closedByServer == 0 &&
           maximum(pageMs) < kLobbyPageGoalMs;
  }
  bool quickMatchesMet() const {
    return matched == quickMatches && maximum(secondWelcomeMs) < kQuickMatchGoalMs;
  }
};

// Figures over a set of rooms (those of one kind).
struct PeriodFigures {
  int rooms = 0;
  int withFrames = 0;
  int meetingGoal = 0;
  double medianOfMedians = 0.0;
  double worstMedian = 0.0;  // the room median farthest from the game speed
  double medianOfP99 = 0.0;
  double worstP99 = 0.0;
  double worstMax = 0.0;
  bool met() const { return withFrames == rooms && meetingGoal == rooms && rooms > 0; }
};

struct StepResult {
  StepPlan plan;
  int roomsOpened = 0;
  int roomsInBattle = 0;
  int roomsClosed = 0;
  double setupSeconds = 0.0;
  double windowSeconds = 0.0;
  std::vector<double> joinMs;
  PeriodFigures healthy;
  PeriodFigures stalled;
  PeriodFigures garbage;
  double serverCores = -1.0;
  double networkThreadCores = -1.0;
  double ownCores = 0.0;
  double othersCores = 0.0;
  double peakMegabytes = -1.0;
  double residentMegabytes = -1.0;
  double serverThreads = -1.0;
  std::string loadBefore;  // the machine's load averages as the step began
  std::vector<double> tickLatenessMs;
  int refused = 0;
  int droppedBeforeAnswer = 0;
  int connectFailures = 0;
  int protocolErrors = 0;
  int gamesFailed = 0;
  // Terminals the server closed before the end, by kind of room.
  int closedHealthy = 0;
  int closedStalled = 0;
  int closedGarbage = 0;
  int stalledStillOpen = 0;
  std::map<std::string, int> leftEarly;
  bool serverStoppedCleanly = false;
  LobbyFigures lobby;
  WatcherFigures tcpWatchers;
  WatcherFigures webWatchers;
  bool met() const {
    return healthy.met() && serverCores >= 0.0 && serverCores < kCpuGoalCores &&
           peakMegabytes >= 0.0 && peakMegabytes < kMemoryGoalMegabytes && closedHealthy == 0 &&
           roomsInBattle == plan.rooms && tcpWatchers.closedByServer == 0 &&
           webWatchers.closedByServer == 0 && tcpWatchers.welcomed == tcpWatchers.watchers &&
           webWatchers.welcomed == webWatchers.watchers;
  }
};

PeriodFigures periodFigures(const std::vector<RoomClosing>& rooms) {
  PeriodFigures figures;
  figures.rooms = static_cast<int>(rooms.size());
  std::vector<double> medians;
  std::vector<double> p99s;
  for (const RoomClosing& room : rooms) {
    if (room.frames < 2) {
      continue;
    }
    ++figures.withFrames;
    medians.push_back(room.medianMs);
    p99s.push_back(room.p99Ms);
    if (std::abs(room.medianMs - kGameSpeed) <= kMedianGoalMs &&
        std::abs(room.p99Ms - kGameSpeed) <= kP99GoalMs) {
      ++figures.meetingGoal;
    }
    if (figures.withFrames == 1 ||
        std::abs(room.medianMs - kGameSpeed) > std::abs(figures.worstMedian - kGameSpeed)) {
      figures.worstMedian = room.medianMs;
    }
    figures.worstMax = std::max(figures.worstMax, room.maxMs);
  }
  figures.medianOfMedians = median(medians);
  figures.medianOfP99 = median(p99s);
  figures.worstP99 = maximum(p99s);
  return figures;
}

// Runs the io_context until `done` or the deadline; whether `done`.
bool runUntil(asio::io_context& io, SteadyClock::time_point deadline,
              const std::function<bool()>& done) {
  while (!done()) {
    if (SteadyClock::now() >= deadline) {
      return false;
    }
    io.run_one_until(deadline);
  }
  return true;
}

void pause(asio::io_context& io, std::chrono::milliseconds how) {
  const auto until = SteadyClock::now() + how;
  runUntil(io, until, [] { return false; });
}

WindowFigures measureWindow(asio::io_context& io, pid_t server, double seconds) {
  WindowFigures figures;
  const ProcessTimes before = timesOf(server);
  const double ownBefore = ownCpuSeconds();
  const double machineBefore = machineBusySeconds();
  const SteadyClock::time_point start = SteadyClock::now();
  pause(io, std::chrono::milliseconds(static_cast<int>(seconds * 1000.0)));
  figures.seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
  const ProcessTimes after = timesOf(server);
  const double machineCores = (machineBusySeconds() - machineBefore) / figures.seconds;
  figures.ownCores = (ownCpuSeconds() - ownBefore) / figures.seconds;
  if (before.cpuSeconds >= 0.0 && after.cpuSeconds >= 0.0) {
    figures.serverCores = (after.cpuSeconds - before.cpuSeconds) / figures.seconds;
    figures.networkThreadCores =
        (after.mainThreadSeconds - before.mainThreadSeconds) / figures.seconds;
  }
  figures.othersCores =
      std::max(0.0, machineCores - std::max(0.0, figures.serverCores) - figures.ownCores);
  return figures;
}

// The lobbies come in together, as many joining at a time as the rooms'
// terminals did; lobby k asks for the page from row k times the spread.
// Until every page is filled, or 10 s.
std::vector<std::shared_ptr<Visitor>> openLobbies(Driver& driver, const StepPlan& plan) {
  std::vector<std::shared_ptr<Visitor>> lobbies;
  for (int index = 0; index < plan.lobbies; ++index) {
    const auto first = static_cast<std::uint16_t>((index * kLobbyPageSpread) % plan.rooms);
    auto lobby = std::make_shared<Visitor>(driver, Visitor::Kind::Lobby,
                                           network::LobbyView{first, kLobbyRows});
    std::weak_ptr<Visitor> waiting = lobby;
    driver.toConnect.push_back([waiting] {
      if (auto visitor = waiting.lock()) {
        visitor->start(true);
      }
    });
    lobbies.push_back(std::move(lobby));
  }
  driver.connectNext();
  runUntil(driver.io, SteadyClock::now() + std::chrono::seconds(10), [&] {
    return std::all_of(lobbies.begin(), lobbies.end(), [](const auto& lobby) {
      return lobby->pageMs().has_value() || lobby->closed();
    });
  });
  return lobbies;
}

template <typename Reader>
std::size_t bytesReadBy(const std::vector<std::shared_ptr<Reader>>& readers) {
  std::size_t bytes = 0;
  for (const auto& reader : readers) {
    bytes += reader->bytesRead();
  }
  return bytes;
}

template <typename Watcher>
void takeWatcherFigures(const std::vector<std::shared_ptr<Watcher>>& watchers,
                        WatcherFigures& figures) {
  figures.watchers = static_cast<int>(watchers.size());
  for (const auto& watcher : watchers) {
    if (const auto joined = watcher->firstPictureMs()) {
      figures.joinMs.push_back(*joined);
    }
    figures.welcomed += watcher->welcomed() ? 1 : 0;
    figures.closedByServer += watcher->closedByServer() ? 1 : 0;
  }
}

void takeLobbyFigures(const std::vector<std::shared_ptr<Visitor>>& lobbies, LobbyFigures& figures) {
  figures.lobbies = static_cast<int>(lobbies.size());
  for (const auto& lobby : lobbies) {
    if (lobby->welcomeMs()) {
      figures.welcomeMs.push_back(*lobby->welcomeMs());
    }
    if (lobby->pageMs()) {
      figures.pageMs.push_back(*lobby->pageMs());
      figures.serverPageMs.push_back(*lobby->serverPageMs());
    }
    if (lobby->serverWelcomeMs()) {
      figures.serverWelcomeMs.push_back(*lobby->serverWelcomeMs());
    }
    figures.rowsOnPages += lobby->rowsOnPage();
    figures.battlesOnPages += lobby->battlesOnPage();
    figures.closedByServer += lobby->closedByServer() ? 1 : 0;
  }
}

// Pairs of fresh terminals ask for a quick match, the second a moment after
// the first. Every room measured has its pilot 2, so the first opens a
// listed room and the second should be seated in it as pilot 2. Both leave
// once the second is answered, and the room closes before the next pair.
void playQuickMatches(Driver& driver, ServerLog& log, int pairs, LobbyFigures& figures) {
  auto answered = [](const std::shared_ptr<Visitor>& visitor) {
    return visitor->answered() || visitor->closed();
  };
  for (int pair = 0; pair < pairs; ++pair) {
    auto first = std::make_shared<Visitor>(driver, Visitor::Kind::QuickMatch);
    auto second = std::make_shared<Visitor>(driver, Visitor::Kind::QuickMatch);
    first->start(false);
    pause(driver.io, kQuickMatchGap);
    second->start(false);
    runUntil(driver.io, SteadyClock::now() + std::chrono::seconds(5),
             [&] { return answered(first) && answered(second); });
    ++figures.quickMatches;
    for (const auto* visitor : {first.get(), second.get()}) {
      if (visitor->welcome()) {
        log.roomsPassedOver.insert(visitor->welcome()->roomName);
      }
    }
    if (first->welcomeMs()) {
      figures.firstWelcomeMs.push_back(*first->welcomeMs());
    }
    // Not answered within the wait counts as the wait.
    figures.secondWelcomeMs.push_back(second->welcomeMs().value_or(5000.0));
    figures.secondServerWelcomeMs.push_back(second->serverWelcomeMs().value_or(5000.0));
    if (first->welcome() && second->welcome() &&
        first->welcome()->role == network::Role::RoomHost &&
        second->welcome()->role == network::Role::Pilot &&
        second->welcome()->roomName == first->welcome()->roomName) {
      ++figures.matched;
    }
    first->leave();
    second->leave();
    const std::string room = first->welcome() ? first->welcome()->roomName : "";
    runUntil(driver.io, SteadyClock::now() + std::chrono::seconds(3),
             [&] { return room.empty() || log.closedRooms.count(room) != 0; });
    first->forceClose();
    second->forceClose();
  }
}

StepResult runStep(const std::string& binary, const StepPlan& plan, double seconds,
                   std::ofstream* serverLog) {
  asio::io_context io;
  auto keepRunning = asio::make_work_guard(io);
  StepResult result;
  result.plan = plan;
  {
    std::ifstream loads("/proc/loadavg");
    std::getline(loads, result.loadBefore);
  }
  if (serverLog != nullptr) {
    *serverLog << "--- step of " << plan.rooms << " rooms\n";
  }
  ServerChild server(io, binary, plan.rooms + 100, serverLog);
  if (!runUntil(io, SteadyClock::now() + std::chrono::seconds(10),
                [&] { return server.log().port != 0; })) {
    throw Failure("the server never said where it serves");
  }
  Driver driver(io, {asio::ip::make_address("127.0.0.1"), server.log().port});

  // The fault rooms spread evenly among the others, stalled and garbage in turn.
  std::vector<std::unique_ptr<RoomRun>> rooms;
  const int faultRooms = plan.stalledRooms + plan.garbageRooms;
  const int spacing = faultRooms > 0 ? std::max(1, plan.rooms / faultRooms) : 1;
  int stalledPlaced = 0;
  int garbagePlaced = 0;
  // Each room's watchers, the first webWatchersPerRoom of them over the WebSocket.
  std::vector<std::shared_ptr<Visitor>> tcpWatchers;
  std::vector<std::shared_ptr<WebWatcher>> webWatchers;
  for (int index = 0; index < plan.rooms; ++index) {
    auto room = std::make_unique<RoomRun>();
    room->listed = plan.listed;
    if (plan.watchersPerRoom > 0) {
      room->queueWatchers = [&driver, &tcpWatchers, &webWatchers, &plan, named = room.get()] {
        for (int seat = plan.watchersPerRoom - 1; seat >= 0; --seat) {
          if (seat < plan.webWatchersPerRoom) {
            auto watcher = std::make_shared<WebWatcher>(driver, named->name);
            webWatchers.push_back(watcher);
            driver.toConnect.push_front([weak = std::weak_ptr<WebWatcher>(watcher)] {
              if (auto watcher = weak.lock()) {
                watcher->start();
              }
            });
          } else {
            auto watcher = std::make_shared<Visitor>(driver, Visitor::Kind::Watcher,
                                                     network::LobbyView{}, named->name);
            tcpWatchers.push_back(watcher);
            driver.toConnect.push_front([weak = std::weak_ptr<Visitor>(watcher)] {
              if (auto watcher = weak.lock()) {
                watcher->start(true);
              }
            });
          }
        }
      };
    }
    if (faultRooms > 0 && index % spacing == 0) {
      const bool stalledTurn = (index / spacing) % 2 == 0;
      if (stalledPlaced < plan.stalledRooms &&
          (stalledTurn || garbagePlaced >= plan.garbageRooms)) {
        room->fault = Fault::Stalled;
        ++stalledPlaced;
      } else if (garbagePlaced < plan.garbageRooms) {
        room->fault = Fault::Garbage;
        ++garbagePlaced;
      }
    }
    room->host = std::make_shared<Terminal>(driver, *room, true, room->fault);
    room->pilot = std::make_shared<Terminal>(driver, *room, false, room->fault);
    std::weak_ptr<Terminal> host = room->host;
    driver.toConnect.push_back([host] {
      if (auto terminal = host.lock()) {
        terminal->start("");
      }
    });
    rooms.push_back(std::move(room));
  }

  // Joining and the menus: until every room is in its battle, or time is up.
  const SteadyClock::time_point setupStart = SteadyClock::now();
  driver.connectNext();
  const auto setupDeadline =
      setupStart + std::chrono::seconds(40) + std::chrono::milliseconds(30 * plan.rooms);
  auto allInBattle = [&] {
    return std::all_of(rooms.begin(), rooms.end(), [](const auto& room) {
      return room->inBattle() || room->host->stage() == Terminal::Stage::Closed ||
             room->pilot->stage() == Terminal::Stage::Closed;
    });
  };
  runUntil(io, setupDeadline, allInBattle);
  result.setupSeconds = std::chrono::duration<double>(SteadyClock::now() - setupStart).count();
  for (const auto& room : rooms) {
    result.roomsInBattle += room->host->reachedBattle() && room->pilot->reachedBattle() ? 1 : 0;
  }

  // The measuring window; at the lobby step, a window without lobbies
  // first, and then the lobbies come in before the one with them.
  const double windowSeconds = plan.seconds > 0.0 ? plan.seconds : seconds;
  std::vector<std::shared_ptr<Visitor>> lobbies;
  driver.timingTicks = true;
  if (plan.lobbies > 0) {
    result.lobby.withoutLobbies = measureWindow(io, server.pid(), windowSeconds);
    lobbies = openLobbies(driver, plan);
  }
  const std::size_t lobbyBytesBefore = bytesReadBy(lobbies);
  const std::size_t tcpWatcherBytesBefore = bytesReadBy(tcpWatchers);
  const std::size_t webWatcherBytesBefore = bytesReadBy(webWatchers);
  const WindowFigures window = measureWindow(io, server.pid(), windowSeconds);
  const auto bytesPerWatcherSecond = [&window](std::size_t bytes, std::size_t watchers) {
    return watchers == 0
               ? 0.0
               : static_cast<double>(bytes) / window.seconds / static_cast<double>(watchers);
  };
  result.tcpWatchers.bytesPerWatcherSecond =
      bytesPerWatcherSecond(bytesReadBy(tcpWatchers) - tcpWatcherBytesBefore, tcpWatchers.size());
  result.webWatchers.bytesPerWatcherSecond =
      bytesPerWatcherSecond(bytesReadBy(webWatchers) - webWatcherBytesBefore, webWatchers.size());
  driver.timingTicks = false;
  result.tickLatenessMs = std::move(driver.tickLatenessMs);
  result.windowSeconds = window.seconds;
  result.serverCores = window.serverCores;
  result.networkThreadCores = window.networkThreadCores;
  result.ownCores = window.ownCores;
  result.othersCores = window.othersCores;
  result.peakMegabytes = statusField(server.pid(), "VmHWM") / 1024.0;
  result.residentMegabytes = statusField(server.pid(), "VmRSS") / 1024.0;
  result.serverThreads = statusField(server.pid(), "Threads");
  if (!lobbies.empty()) {
    result.lobby.bytesPerLobbySecond =
        static_cast<double>(bytesReadBy(lobbies) - lobbyBytesBefore) / window.seconds /
        static_cast<double>(lobbies.size());
  }
  const int opened = server.log().roomsOpened;

  // Quick matches while the rooms play on and the lobbies look on.
  playQuickMatches(driver, server.log(), plan.quickMatches, result.lobby);
  takeLobbyFigures(lobbies, result.lobby);
  result.lobby.cameIn = server.log().lobbiesCameIn;
  result.lobby.leftEarly = server.log().lobbiesLeftEarly;
  for (const auto& room : rooms) {
    for (const auto* terminal : {room->host.get(), room->pilot.get()}) {
      if (terminal->closedByServer()) {
        (room->fault == Fault::None      ? result.closedHealthy
         : room->fault == Fault::Stalled ? result.closedStalled
                                         : result.closedGarbage) += 1;
      }
      if (terminal->stalled() && terminal->stage() != Terminal::Stage::Closed) {
        ++result.stalledStillOpen;
      }
    }
  }

  takeWatcherFigures(tcpWatchers, result.tcpWatchers);
  takeWatcherFigures(webWatchers, result.webWatchers);

  // Everyone leaves; each room closes and logs its periods.
  server.log().leaving = true;
  result.leftEarly = server.log().leftEarly;
  for (const auto& room : rooms) {
    room->host->leave();
    room->pilot->leave();
  }
  for (const auto& lobby : lobbies) {
    lobby->leave();
  }
  for (const auto& watcher : tcpWatchers) {
    watcher->leave();
  }
  for (const auto& watcher : webWatchers) {
    watcher->leave();
  }
  runUntil(io, SteadyClock::now() + std::chrono::seconds(30), [&] {
    return static_cast<int>(server.log().closedRooms.size()) >= server.log().roomsOpened;
  });
  for (const auto& room : rooms) {
    room->host->forceClose();
    room->pilot->forceClose();
  }
  for (const auto& lobby : lobbies) {
    lobby->forceClose();
  }
  for (const auto& watcher : tcpWatchers) {
    watcher->forceClose();
  }
  for (const auto& watcher : webWatchers) {
    watcher->forceClose();
  }
  // Their cancelled waits let go of them.
  io.poll();
  server.terminate();
  int status = 0;
  // A look every 100 ms whether it has exited, woken by a timer.
  asio::steady_timer look(io);
  std::function<void()> lookAgain = [&] {
    look.expires_after(std::chrono::milliseconds(100));
    look.async_wait([&](const boost::system::error_code& error) {
      if (!error) {
        lookAgain();
      }
    });
  };
  lookAgain();
  const bool ended = runUntil(io, SteadyClock::now() + std::chrono::seconds(15),
                              [&] { return server.reap(status); });
  look.cancel();
  // The rest of the log, up to its "stopped".
  runUntil(io, SteadyClock::now() + std::chrono::seconds(2), [&] { return server.log().stopped; });
  result.serverStoppedCleanly = ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;

  const ServerLog& log = server.log();
  result.roomsOpened = opened;
  result.roomsClosed =
      static_cast<int>(std::count_if(rooms.begin(), rooms.end(), [&log](const auto& room) {
        return log.closedRooms.count(room->name) != 0;
      }));
  result.refused = log.refused + driver.refusedHere;
  result.droppedBeforeAnswer = log.droppedBeforeAnswer;
  result.gamesFailed = log.gamesFailed;
  result.connectFailures = driver.connectFailures;
  result.protocolErrors = driver.protocolErrors;
  result.joinMs = driver.joinMs;
  std::vector<RoomClosing> healthy;
  std::vector<RoomClosing> stalled;
  std::vector<RoomClosing> garbage;
  for (const auto& room : rooms) {
    RoomClosing closing;
    if (auto found = log.closedRooms.find(room->name); found != log.closedRooms.end()) {
      closing = found->second;
    }
    (room->fault == Fault::None      ? healthy
     : room->fault == Fault::Stalled ? stalled
                                     : garbage)
        .push_back(closing);
  }
  result.healthy = periodFigures(healthy);
  result.stalled = periodFigures(stalled);
  result.garbage = periodFigures(garbage);
  return result;
}

void printPeriods(const char* what, const PeriodFigures& figures) {
  if (figures.rooms == 0) {
    return;
  }
  std::printf(
      "  %-22s %d rooms, %d with battle frames; room medians: median %.1f, worst %.1f ms; room "
      "p99s: median %.1f, worst %.1f ms; worst max %.1f ms; %d rooms within the goal (%s)\n",
      what, figures.rooms, figures.withFrames, figures.medianOfMedians, figures.worstMedian,
      figures.medianOfP99, figures.worstP99, figures.worstMax, figures.meetingGoal,
      verdict(figures.met()));
}

void printLobbies(const StepResult& step) {
  const LobbyFigures& lobby = step.lobby;
  const double without = lobby.withoutLobbies.serverCores;
  std::printf(
      "  lobbies: %d said hello, %d came in (the server's log), %d pages filled; hello to "
      "welcome: median %.1f, p99 %.1f, max %.1f ms\n",
      lobby.lobbies, lobby.cameIn, static_cast<int>(lobby.pageMs.size()), median(lobby.welcomeMs),
      percentile(lobby.welcomeMs, 0.99), maximum(lobby.welcomeMs));
  std::printf(
      "  hello to a filled page: median %.1f, p99 %.1f, max %.1f ms (goal under %.0f ms, no "
      "lobby let go: %s)\n",
      median(lobby.pageMs), percentile(lobby.pageMs, 0.99), maximum(lobby.pageMs), kLobbyPageGoalMs,
      verdict(lobby.pagesMet()));
  std::printf(
      "  the server's share (the kernel's receive times): hello to welcome median %.1f, p99 %.1f, "
      "max %.1f ms; to a filled page median %.1f, p99 %.1f, max %.1f ms\n",
      median(lobby.serverWelcomeMs), percentile(lobby.serverWelcomeMs, 0.99),
      maximum(lobby.serverWelcomeMs), median(lobby.serverPageMs),
      percentile(lobby.serverPageMs, 0.99), maximum(lobby.serverPageMs));
  std::printf(
      "  their pages: %d rows, %d of them two-person battles; each lobby was sent %.0f bytes a "
      "second; let go by the server %d\n",
      lobby.rowsOnPages, lobby.battlesOnPages, lobby.bytesPerLobbySecond, lobby.closedByServer);
  for (const auto& [why, count] : lobby.leftEarly) {
    std::printf("  lobbies left before the end (the server's word): %d × %s\n", count, why.c_str());
  }
  std::printf(
      "  server CPU without lobbies %.3f cores (network thread %.3f; the rest of the machine "
      "%.3f) over %.1f s, with them %.3f (%.3f; %.3f): the lobbies cost %+.3f cores, %+.1f %% "
      "(goal under %.0f %%: %s)\n",
      without, lobby.withoutLobbies.networkThreadCores, lobby.withoutLobbies.othersCores,
      lobby.withoutLobbies.seconds, step.serverCores, step.networkThreadCores, step.othersCores,
      step.serverCores - without, 100.0 * lobby.cpuShare(step.serverCores),
      100.0 * kLobbyCpuGoalShare, verdict(lobby.cpuShare(step.serverCores) < kLobbyCpuGoalShare));
  std::printf(
      "  quick match: %d pairs, %d matched (the second as pilot 2 in the first's room); the "
      "first's hello to its welcome: max %.1f ms; the second's: median %.1f, max %.1f ms (the "
      "server's share: max %.1f ms; goal within %.0f ms: %s)\n",
      lobby.quickMatches, lobby.matched, maximum(lobby.firstWelcomeMs),
      median(lobby.secondWelcomeMs), maximum(lobby.secondWelcomeMs),
      maximum(lobby.secondServerWelcomeMs), kQuickMatchGoalMs, verdict(lobby.quickMatchesMet()));
}

void printStep(const StepResult& step) {
  std::printf("\n%d rooms", step.plan.rooms);
  if (step.plan.watchersPerRoom > 0) {
    std::printf(" (%d watchers each, %d of them over the WebSocket)", step.plan.watchersPerRoom,
                step.plan.webWatchersPerRoom);
  }
  if (step.plan.stalledRooms + step.plan.garbageRooms > 0) {
    std::printf(" (%d with pilot 2 stalled, %d with pilot 2 sending garbage)",
                step.plan.stalledRooms, step.plan.garbageRooms);
  }
  if (step.plan.lobbies + step.plan.quickMatches > 0) {
    std::printf(" (listed, with %d lobbies and %d quick matches)", step.plan.lobbies,
                step.plan.quickMatches);
  }
  std::printf(": %s\n", verdict(step.met()));
  std::printf(
      "  opened %d, in battle %d, closed %d; setup %.1f s, window %.1f s; load before: %s\n",
      step.roomsOpened, step.roomsInBattle, step.roomsClosed, step.setupSeconds, step.windowSeconds,
      step.loadBefore.c_str());
  std::printf("  join (connect to first picture): median %.1f, p99 %.1f, max %.1f ms (%zu)\n",
              median(step.joinMs), percentile(step.joinMs, 0.99), maximum(step.joinMs),
              step.joinMs.size());
  printPeriods("healthy rooms:", step.healthy);
  printPeriods("stalled pilot 2's rooms:", step.stalled);
  printPeriods("garbage pilot 2's rooms:", step.garbage);
  std::printf(
      "  server CPU %.3f cores (network thread %.3f), peak RSS %.1f MB (now %.1f), %.0f threads; "
      "this process %.3f cores, the rest of the machine %.3f\n",
      step.serverCores, step.networkThreadCores, step.peakMegabytes, step.residentMegabytes,
      step.serverThreads, step.ownCores, step.othersCores);
  std::printf("  this process's timers fired late by: median %.2f, p99 %.2f, max %.1f ms (%zu)\n",
              median(step.tickLatenessMs), percentile(step.tickLatenessMs, 0.99),
              maximum(step.tickLatenessMs), step.tickLatenessMs.size());
  std::printf(
      "  refused %d, dropped before an answer %d, could not connect %d, malformed from the "
      "server %d, games failed %d\n",
      step.refused, step.droppedBeforeAnswer, step.connectFailures, step.protocolErrors,
      step.gamesFailed);
  std::printf(
      "  closed by the server before the end: %d healthy, %d stalled rooms', %d garbage rooms' "
      "terminals; stalled terminals still connected %d\n",
      step.closedHealthy, step.closedStalled, step.closedGarbage, step.stalledStillOpen);
  for (const auto& [why, count] : step.leftEarly) {
    std::printf("  left before the end (the server's word): %d × %s\n", count, why.c_str());
  }
  for (const auto& [what, watchers] :
       {std::pair<const char*, const WatcherFigures*>{"TCP", &step.tcpWatchers},
        std::pair<const char*, const WatcherFigures*>{"WebSocket", &step.webWatchers}}) {
    if (watchers->watchers == 0) {
      continue;
    }
    std::printf(
        "  watchers over %s: %d, %d welcomed, %d closed by the server; join (connect to first "
        "picture): median %.1f, p99 %.1f, max %.1f ms; %.0f bytes a second each in the window\n",
        what, watchers->watchers, watchers->welcomed, watchers->closedByServer,
        median(watchers->joinMs), percentile(watchers->joinMs, 0.99), maximum(watchers->joinMs),
        watchers->bytesPerWatcherSecond);
  }
  std::printf("  the server stopped cleanly: %s\n", step.serverStoppedCleanly ? "yes" : "NO");
  if (step.plan.lobbies + step.plan.quickMatches > 0) {
    printLobbies(step);
  }
  std::fflush(stdout);
}

void printTable(const std::vector<StepResult>& steps) {
  std::printf(
      "\n| rooms | in battle | join median / p99 / max | period: median of medians, worst "
      "median | p99: median, worst | worst max | server CPU (network thread) | peak RSS | "
      "refused / dropped | goal |\n|---|---|---|---|---|---|---|---|---|---|\n");
  for (const StepResult& step : steps) {
    const bool faults = step.plan.stalledRooms + step.plan.garbageRooms > 0;
    std::string lobbies =
        step.plan.lobbies > 0 ? " listed, " + std::to_string(step.plan.lobbies) + " lobbies" : "";
    if (step.plan.watchersPerRoom > 0) {
      lobbies += ", " + std::to_string(step.plan.watchersPerRoom) + " watchers each (" +
                 std::to_string(step.plan.webWatchersPerRoom) + " WebSocket)";
    }
    std::printf(
        "| %d%s%s | %d | %.1f / %.1f / %.1f ms | %.1f, %.1f ms | %.1f, %.1f ms | %.1f ms | %.2f "
        "(%.2f) cores | %.0f MB | %d / %d | %s |\n",
        step.plan.rooms, faults ? " with faults (healthy rooms' periods)" : "", lobbies.c_str(),
        step.roomsInBattle, median(step.joinMs), percentile(step.joinMs, 0.99),
        maximum(step.joinMs), step.healthy.medianOfMedians, step.healthy.worstMedian,
        step.healthy.medianOfP99, step.healthy.worstP99, step.healthy.worstMax, step.serverCores,
        step.networkThreadCores, step.peakMegabytes, step.refused,
        step.droppedBeforeAnswer + step.closedHealthy, step.met() ? "met" : "**missed**");
  }
}

std::vector<int> parseList(const std::string& text) {
  std::vector<int> values;
  std::stringstream stream(text);
  for (std::string item; std::getline(stream, item, ',');) {
    const int value = std::atoi(item.c_str());
    if (value < 1) {
      throw Failure("'" + text + "' is not a list of room counts");
    }
    values.push_back(value);
  }
  return values;
}

// Each room takes two sockets here and two in the server (and one more on
// each side for each of its watchers), and the server a thread; the descriptors' soft limit goes up
// to the hard one, which the server inherits.
int mostRoomsThisAllows(int watchersPerRoom) {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
  getrlimit(RLIMIT_NOFILE, &limit);
  return static_cast<int>((limit.rlim_cur - 64) / static_cast<rlim_t>(2 + watchersPerRoom));
}

int measure(int argc, char** argv) {
  // The server starts in a directory of its own: the path must hold from there.
  char* absolute = realpath(argv[1], nullptr);
  if (absolute == nullptr) {
    throw Failure(std::string("no program at ") + argv[1]);
  }
  const std::string binary = absolute;
  std::free(absolute);
  std::vector<int> ladder{10, 100, 1000, 2000};
  int grow = 500;
  int resolution = 50;
  int upTo = 4000;
  int faultRooms = 1000;
  double seconds = 20.0;
  // A minute of stalled and garbage-sending terminals among the others. (A
  // stalled one is let go only once some 100 KiB have piled up for it:
  // minutes of a battle without fire.)
  double faultSeconds = 60.0;
  int lobbies = 100;
  int lobbyRooms = 1000;
  int quickMatches = 10;
  bool onlyLobbyStep = false;
  int watchersPerRoom = 0;
  bool webWatchersHalf = false;
  std::optional<std::ofstream> serverLog;
  for (int index = 2; index < argc; ++index) {
    const std::string option = argv[index];
    if (option == "--web-watchers-half") {
      webWatchersHalf = true;
      continue;
    }
    if (index + 1 >= argc) {
      throw Failure(option + " needs a value");
    }
    const std::string value = argv[++index];
    if (option == "--rooms") {
      ladder = parseList(value);
    } else if (option == "--grow") {
      grow = std::atoi(value.c_str());
    } else if (option == "--resolution") {
      resolution = std::atoi(value.c_str());
    } else if (option == "--up-to") {
      upTo = std::atoi(value.c_str());
    } else if (option == "--fault-rooms") {
      faultRooms = std::atoi(value.c_str());
    } else if (option == "--fault-seconds") {
      faultSeconds = std::atof(value.c_str());
    } else if (option == "--lobbies") {
      lobbies = std::atoi(value.c_str());
    } else if (option == "--lobby-rooms") {
      lobbyRooms = std::atoi(value.c_str());
    } else if (option == "--quick-matches") {
      quickMatches = std::atoi(value.c_str());
    } else if (option == "--lobby-step") {
      lobbyRooms = std::atoi(value.c_str());
      onlyLobbyStep = true;
    } else if (option == "--seconds") {
      seconds = std::atof(value.c_str());
    } else if (option == "--server-log") {
      serverLog.emplace(value);
    } else if (option == "--watchers-per-room") {
      watchersPerRoom = std::max(0, std::atoi(value.c_str()));
    } else {
      throw Failure("unknown option " + option);
    }
  }
  const int mostRooms = mostRoomsThisAllows(watchersPerRoom);
  const int webWatchersPerRoom = webWatchersHalf ? watchersPerRoom / 2 : 0;
  std::printf("The server of rooms under load on loopback, gameSpeed %.0f, %.0f s windows\n",
              kGameSpeed, seconds);
  std::printf(
      "Goal: every room's period median within %.0f ms and p99 within %.0f ms of %.0f ms, server "
      "CPU under %.0f core, peak RSS under %.0f MB\n",
      kMedianGoalMs, kP99GoalMs, kGameSpeed, kCpuGoalCores, kMemoryGoalMegabytes);
  std::printf(
      "Lobby step's goals: a lobby's page filled within %.0f ms of its hello, the lobbies under "
      "%.0f %% of the server's CPU, quick match's second welcomed within %.0f ms\n",
      kLobbyPageGoalMs, 100.0 * kLobbyCpuGoalShare, kQuickMatchGoalMs);
  std::ofstream* copy = serverLog ? &*serverLog : nullptr;
  std::vector<StepResult> steps;
  auto run = [&](StepPlan plan) {
    plan.watchersPerRoom = watchersPerRoom;
    plan.webWatchersPerRoom = webWatchersPerRoom;
    if (plan.rooms > mostRooms) {
      std::printf("\n%d rooms: skipped, the descriptor limit allows %d\n", plan.rooms, mostRooms);
      return false;
    }
    steps.push_back(runStep(binary, plan, seconds, copy));
    if (steps.back().roomsInBattle == 0) {
      // Not a slow server: the menus are not what the terminals look for.
      throw Failure("no room of " + std::to_string(plan.rooms) + " got to its battle");
    }
    printStep(steps.back());
    return steps.back().met();
  };
  // The most rooms seen to hold, and the fewest seen to miss.
  int mostHeld = 0;
  int fewestMissed = 0;
  auto note = [&](int rooms, bool met) {
    if (met) {
      mostHeld = std::max(mostHeld, rooms);
    } else if (fewestMissed == 0 || rooms < fewestMissed) {
      fewestMissed = rooms;
    }
    return met;
  };
  bool held = true;
  for (std::size_t index = 0; !onlyLobbyStep && index < ladder.size(); ++index) {
    held = note(ladder[index], run({ladder[index], 0, 0, 0.0})) && held;
  }
  for (int rooms = ladder.back() + grow; !onlyLobbyStep && held && grow > 0 && rooms <= upTo;
       rooms += grow) {
    held = note(rooms, run({rooms, 0, 0, 0.0}));
  }
  // Between the most that held and the fewest that missed, halving the gap
  // down to --resolution rooms.
  for (int round = 0;
       resolution > 0 && round < 4 && fewestMissed > mostHeld + resolution && fewestMissed > 0;
       ++round) {
    const int rooms = (mostHeld + fewestMissed) / 2 / resolution * resolution;
    if (rooms <= mostHeld || rooms >= fewestMissed) {
      break;
    }
    note(rooms, run({rooms, 0, 0, 0.0}));
  }
  if (fewestMissed > 0 && mostHeld > 0) {
    std::printf("\nThe goal held at %d rooms and missed at %d\n", mostHeld, fewestMissed);
  } else if (fewestMissed > 0) {
    std::printf("\nThe goal missed at %d rooms and held at no step\n", fewestMissed);
  }
  if (faultRooms > 0 && !onlyLobbyStep) {
    // A tenth of the terminals stalled and a tenth sending garbage: each is
    // pilot 2 of a room of its own, so a fifth of the rooms each.
    run({faultRooms, faultRooms / 5, faultRooms / 5, faultSeconds});
  }
  if ((lobbies > 0 || quickMatches > 0) && lobbyRooms > 0) {
    run({lobbyRooms, 0, 0, 0.0, true, lobbies, quickMatches});
  }
  printTable(steps);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  if (argc < 2 || std::string(argv[1]).rfind("--", 0) == 0) {
    std::fprintf(
        stderr,
        "usage: %s PATH/TO/skyrazor [--rooms 10,100,1000,2000] [--grow 500] [--up-to 4000] "
        "[--resolution 50] [--fault-rooms 1000] [--fault-seconds 60] [--lobbies 100] "
        "[--lobby-rooms 1000] [--quick-matches 10] [--lobby-step ROOMS] [--seconds 20] "
        "[--watchers-per-room 0] [--web-watchers-half] [--server-log FILE]\n",
        argv[0]);
    return 2;
  }
  try {
    return measure(argc, argv);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "server load: %s\n", failure.what());
    return 1;
  }
}
