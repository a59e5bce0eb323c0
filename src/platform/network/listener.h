#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <vector>

#include "platform/network/boost_asio.h"
#include "platform/network/network_error.h"
#include "platform/network/peer_connection.h"

namespace skyrazor::network {

// A connection just taken in: its socket, the peer's address as people write
// it, and whether it came on the local socket (from this machine's own ssh
// entrance) rather than over the network.
struct Accepted {
  StreamSocket socket;
  std::string address;
  bool local = false;
};

// Where a host or server takes connections in: one address, or every
// address of this machine in both families (either may be missing here),
// and a server's local socket beside its port if it has one. It listens at
// once, or throws NetworkError saying why in the player's words, and hands
// each connection it accepts to `onConnection`, on the network's thread,
// until it is closed.
class Listener {
 public:
  // An empty `address` means every address; port 0 any free port.
  Listener(asio::io_context& io, const std::string& address, std::uint16_t port);
  // Takes over listening IPv4 and IPv6 sockets made elsewhere (handed over by
  // the service manager that started the server), as descriptors; at least
  // one. Throws NetworkError where sockets cannot be taken over (Windows).
  Listener(asio::io_context& io, const std::vector<int>& listeningSockets);
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  // Also listens on a local socket at `path`, which only this machine can
  // reach (a stale one left by a server that died is taken over; one that a
  // live server answers on is not). Throws NetworkError.
  void listenLocally(const std::string& path);
  // Also takes over a listening local socket made elsewhere (the service
  // manager's, which set who may open it), as listenLocally's. Throws
  // NetworkError.
  void adoptLocally(int listeningSocket);

  std::uint16_t port() const { return port_; }
  void start(std::function<void(Accepted)> onConnection);
  void close();

  // Whether this build has local sockets (not on Windows).
  static bool hasLocalSockets();

 private:
  using Acceptor = asio::basic_socket_acceptor<asio::generic::stream_protocol>;
  struct Entrance {
    Acceptor acceptor;
    bool local = false;
  };

  void open(const asio::ip::tcp::endpoint& endpoint);
  void adopt(int listeningSocket);
  void enter(Acceptor acceptor, bool local);
  void acceptNext(Entrance& entrance);

  asio::io_context& io_;
  std::string address_;
  std::list<Entrance> entrances_;
  std::uint16_t port_ = 0;
  std::string localPath_;  // removed again when the listener closes
  std::function<void(Accepted)> onConnection_;
  bool closed_ = false;
};

}  // namespace skyrazor::network
