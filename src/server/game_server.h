#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/network/network_error.h"
#include "server/room.h"

namespace skyrazor::network {

struct ServerOptions {
  std::string address;     // empty: every address of this machine, IPv4 and IPv6
  std::uint16_t port = 0;  // 0: any free port
  // Listening sockets handed over by the service manager that started the
  // server, served instead of address and port; none: listen itself.
  std::vector<int> passedSockets;
  std::size_t mostRooms = 1000;
  std::size_t mostWatchersPerRoom = 32;
  std::size_t mostPerAddress = 16;        // connections from one address at a time
  std::size_t mostWaitingPerAddress = 4;  // of those, not yet given a seat
  std::size_t mostWaiting = 64;           // connections not yet given a seat
  // A local socket beside the port for the server's own ssh entrance, the
  // only place a hello may say where its player is; empty: none.
  std::string localSocket;
  // Local sockets for the ssh entrance handed over by the service manager,
  // served as localSocket is.
  std::vector<int> passedLocalSockets;
  // Pages at this origin may open seats, besides the server's own.
  std::string webOrigin;
  // A reverse proxy's address: a browser that comes through it counts as
  // the address the proxy's X-Forwarded-For names. Empty: none is believed.
  std::string trustedProxy;
  // Besides this machine's own addresses, those that may read /metrics.
  std::vector<std::string> metricsFrom;
  // On the network thread: once it serves, and once it begins to stop.
  std::function<void()> onServing;
  std::function<void()> onStopping;
  // On the network thread, every keepAlivePeriod while it serves (none when
  // zero): a sign of life for whoever watches that the thread is not stuck.
  std::function<void()> keepAlive;
  std::chrono::microseconds keepAlivePeriod{0};
  std::chrono::milliseconds helloLimit{5000};
  std::chrono::milliseconds heartbeatPeriod{1000};
  std::chrono::milliseconds silenceLimit{5000};
  std::chrono::milliseconds behindLimit{5000};
  std::size_t mostQueuedBytes = 64 * 1024;
  std::chrono::milliseconds wrongGuessDelay{1000};
};

// Plays one room's game on the thread the server gives it, until the game
// ends or the room's first keyboard is closed; gives a few words about it for
// the line that says the room closed (empty: nothing to add).
using RoomPlayer = std::function<std::string(Room& room)>;

// A server of many rooms, each its own game on a thread of its own, and all
// their connections on the thread that serves. A terminal that asks for no
// room opens a new one under a fresh name; one that names a room joins it
// if it is there; one that asks for a new room under a name opens it if the
// name is free. A room closes when its last terminal leaves, or when its
// game ends. Every event is one line for `log`, on the serving thread.
class GameServer {
 public:
  using EventLog = std::function<void(const std::string&)>;

  // Listens at once, or throws NetworkError.
  GameServer(ServerOptions options, RoomPlayer play, EventLog log);
  ~GameServer();
  GameServer(const GameServer&) = delete;
  GameServer& operator=(const GameServer&) = delete;

  std::uint16_t port() const;

  // Serves until SIGINT or SIGTERM (or stop()); then tells every terminal the
  // server has stopped, ends every room's game and returns.
  void serveUntilStopped();
  // Safe from any thread.
  void stop();

 private:
  class Network;
  std::unique_ptr<Network> network_;
};

}  // namespace skyrazor::network
