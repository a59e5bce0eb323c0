#pragma once

#include <stdexcept>

namespace skyrazor::network {

// A host or server that cannot listen (the port is taken, the address is not
// this machine's): the message says so in the player's words. Apart from
// the sockets, so that those who only start a host or server need no Asio.
struct NetworkError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace skyrazor::network
