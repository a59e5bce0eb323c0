#pragma once

#include <cstddef>
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

// A network game: where the host listens, or the host a terminal joins.
struct NetworkOptions {
  std::string address;  // --host: the address to listen on ("" for all); else the host's
  std::uint16_t port = 0;
  std::string joinCode;  // empty: the host draws one, a joining terminal asks for it
  std::string roomName;  // at a server: the room to join or watch; empty for a new one
  bool newRoom = false;  // --new-room: roomName is a new room to open, not one to join
  // --join PATH: the server's local socket, where its ssh entrance joins
  // (instead of address and port), and --from: where the player came from.
  std::string localSocket;
  std::string playerAddress;
  // --duel-log FILE: where a pilot's terminal notes each duel's figures
  // (corrections, repairs) and anything amiss; empty: nowhere.
  std::string duelLog;
};

// A server of many rooms.
struct ServeOptions {
  std::string recordDirectory;  // empty: nothing recorded
  std::size_t mostPerAddress = 16;
  std::size_t mostRooms = 1000;
  std::string sshSocket;  // --ssh-socket: the local socket for the ssh entrance
  // --web-origin: a public origin (https://NAME) whose pages, besides the
  // server's own, may open seats; --trust-proxy: the reverse proxy's
  // address, whose X-Forwarded-For alone is believed.
  std::string webOrigin;
  std::string trustedProxy;
  // --serve without an address: serve on the listening sockets the service
  // manager (systemd) passed.
  bool passedSockets = false;
  // --metrics-from (repeatable): besides this machine, who may read /metrics.
  std::vector<std::string> metricsFrom;
};

struct CommandLine {
  enum class Mode { Play, Help, Version, Scripted, Replay, Host, Join, Watch, Serve, Error };
  Mode mode = Mode::Play;
  std::string recordPath;  // for Mode::Play and Mode::Host: where to record the session
  NetworkOptions network;  // also where a server listens
  ServeOptions serve;
  ScriptedRunOptions scripted;
  ReplayOptions replay;
  std::string error;  // for Mode::Error: what is wrong, in one line
};

CommandLine parseCommandLine(const std::vector<std::string>& arguments);

// The text of --help.
const char* usageText();

}  // namespace skyrazor
