#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <string>

#include "asio.hpp"

namespace skyrazor::network {

// Where a host or server takes connections in: one address, or every
// address of this machine in both families (either may be missing here).
// It listens at once, or throws NetworkError saying why in the player's
// words, and hands each connection it accepts to `onConnection`, on the
// network's thread, until it is closed.
class Listener {
 public:
  // An empty `address` means every address; port 0 any free port.
  Listener(asio::io_context& io, const std::string& address, std::uint16_t port);

  std::uint16_t port() const { return port_; }
  void start(std::function<void(asio::ip::tcp::socket)> onConnection);
  void close();

 private:
  void open(const asio::ip::tcp::endpoint& endpoint);
  void acceptNext(asio::ip::tcp::acceptor& acceptor);

  asio::io_context& io_;
  std::string address_;
  std::list<asio::ip::tcp::acceptor> acceptors_;
  std::uint16_t port_ = 0;
  std::function<void(asio::ip::tcp::socket)> onConnection_;
  bool closed_ = false;
};

}  // namespace skyrazor::network
