#include "platform/network/listener.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>

#if defined(SKYRAZOR_LOCAL_SOCKETS)
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#endif

namespace skyrazor::network {
namespace {

// How long to wait before accepting again after a failed accept.
constexpr std::chrono::milliseconds kAcceptRetryDelay{100};

using GenericEndpoint = asio::generic::stream_protocol::endpoint;

// An IPv4 or IPv6 endpoint as the generic one holds it. Winsock gives the
// whole room of a sockaddr_storage as its size; the address's own family
// says how much of it is the address.
asio::ip::tcp::endpoint ipEndpointOf(const GenericEndpoint& generic) {
  asio::ip::tcp::endpoint ip;
  std::memcpy(ip.data(), generic.data(), std::min<std::size_t>(generic.size(), ip.capacity()));
  return ip;
}

// The address of a peer that came over IPv4 or IPv6 (an IPv4 peer on an IPv6
// socket as plain IPv4); a local peer is this machine.
std::string addressOf(const GenericEndpoint& remote) {
  const int family = remote.protocol().family();
  if (family != asio::ip::tcp::v4().family() && family != asio::ip::tcp::v6().family()) {
    return "this machine";
  }
  asio::ip::address address = ipEndpointOf(remote).address();
  if (address.is_v6() && address.to_v6().is_v4_mapped()) {
    address = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
  }
  return address.to_string();
}

std::uint16_t portOf(const GenericEndpoint& local) {
  return ipEndpointOf(local).port();
}

}  // namespace

Listener::Listener(asio::io_context& io, const std::string& address, std::uint16_t port)
    : io_(io), address_(address) {
  if (!address.empty()) {
    boost::system::error_code error;
    asio::ip::address parsed = asio::ip::make_address(address, error);
    if (error) {
      throw NetworkError("'" + address + "' is not an IPv4 or IPv6 address");
    }
    open({parsed, port});
    return;
  }
  std::string firstFailure;
  for (const asio::ip::tcp& family : {asio::ip::tcp::v4(), asio::ip::tcp::v6()}) {
    try {
      open({family, port_ != 0 ? port_ : port});
    } catch (const NetworkError& failure) {
      if (firstFailure.empty()) {
        firstFailure = failure.what();
      }
    }
  }
  if (entrances_.empty()) {
    throw NetworkError(firstFailure);
  }
}

Listener::Listener(asio::io_context& io, const std::vector<int>& listeningSockets) : io_(io) {
  if (listeningSockets.empty()) {
    throw NetworkError("no listening sockets were passed");
  }
  for (const int listeningSocket : listeningSockets) {
    adopt(listeningSocket);
  }
}

Listener::~Listener() {
  close();
}

void Listener::open(const asio::ip::tcp::endpoint& endpoint) {
  Acceptor acceptor(io_);
  boost::system::error_code error;
  acceptor.open(endpoint.protocol(), error);
  if (!error && endpoint.address().is_v6()) {
    acceptor.set_option(asio::ip::v6_only(true), error);
  }
#ifndef _WIN32
  // A host started again at once gets its port back despite the last game's
  // connections lingering. (Winsock needs no such leave, and there the same
  // option would let a second host share the port with the first.)
  if (!error) {
    acceptor.set_option(asio::socket_base::reuse_address(true), error);
  }
#endif
  if (!error) {
    acceptor.bind(GenericEndpoint(endpoint.data(), endpoint.size(), endpoint.protocol().protocol()),
                  error);
  }
  if (!error) {
    acceptor.listen(asio::socket_base::max_listen_connections, error);
  }
  if (error) {
    throw NetworkError("cannot listen on port " + std::to_string(endpoint.port()) + " of " +
                       (address_.empty() ? "this machine" : address_) + ": " + error.message());
  }
  port_ = portOf(acceptor.local_endpoint());
  enter(std::move(acceptor), false);
}

// The family of a socket made elsewhere is its own address's; the generic
// acceptor must be told it to take the socket over.
void Listener::adopt(int listeningSocket) {
#if defined(SKYRAZOR_LOCAL_SOCKETS)
  sockaddr_storage bound{};
  socklen_t size = sizeof bound;
  if (::getsockname(listeningSocket, reinterpret_cast<sockaddr*>(&bound), &size) != 0) {
    throw NetworkError("cannot take over passed socket " + std::to_string(listeningSocket));
  }
  Acceptor acceptor(io_);
  boost::system::error_code error;
  acceptor.assign(asio::generic::stream_protocol(bound.ss_family, IPPROTO_TCP), listeningSocket,
                  error);
  if (error) {
    throw NetworkError("cannot take over passed socket " + std::to_string(listeningSocket) + ": " +
                       error.message());
  }
  if (port_ == 0) {
    port_ = portOf(acceptor.local_endpoint());
  }
  enter(std::move(acceptor), false);
#else
  throw NetworkError("this build cannot take over passed socket " +
                     std::to_string(listeningSocket));
#endif
}

bool Listener::hasLocalSockets() {
#if defined(SKYRAZOR_LOCAL_SOCKETS)
  return true;
#else
  return false;
#endif
}

void Listener::listenLocally(const std::string& path) {
#if defined(SKYRAZOR_LOCAL_SOCKETS)
  const asio::local::stream_protocol::endpoint endpoint(path);
  std::error_code fileError;
  if (std::filesystem::is_socket(path, fileError)) {
    // Left by a server that is gone, or in use by one still serving.
    asio::local::stream_protocol::socket probe(io_);
    boost::system::error_code refused;
    probe.connect(endpoint, refused);
    if (!refused) {
      throw NetworkError("another server is listening on " + path);
    }
    std::filesystem::remove(path, fileError);
  }
  Acceptor acceptor(io_);
  boost::system::error_code error;
  acceptor.open(asio::generic::stream_protocol(endpoint.protocol()), error);
  if (!error) {
    acceptor.bind(GenericEndpoint(endpoint.data(), endpoint.size()), error);
  }
  if (!error) {
    // The ssh entrance's account may be another user of the server's group.
    ::chmod(path.c_str(), S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP);
    acceptor.listen(asio::socket_base::max_listen_connections, error);
  }
  if (error) {
    throw NetworkError("cannot listen on " + path + ": " + error.message());
  }
  localPath_ = path;
  enter(std::move(acceptor), true);
#else
  throw NetworkError("this build has no local sockets for " + path);
#endif
}

void Listener::adoptLocally(int listeningSocket) {
#if defined(SKYRAZOR_LOCAL_SOCKETS)
  Acceptor acceptor(io_);
  boost::system::error_code error;
  acceptor.assign(asio::generic::stream_protocol(AF_UNIX, 0), listeningSocket, error);
  if (error) {
    throw NetworkError("cannot take over passed local socket " + std::to_string(listeningSocket) +
                       ": " + error.message());
  }
  enter(std::move(acceptor), true);
#else
  throw NetworkError("this build cannot take over passed local socket " +
                     std::to_string(listeningSocket));
#endif
}

// A way in, taking connections at once when the listener has started.
void Listener::enter(Acceptor acceptor, bool local) {
  entrances_.push_back({std::move(acceptor), local});
  if (onConnection_) {
    acceptNext(entrances_.back());
  }
}

void Listener::start(std::function<void(Accepted)> onConnection) {
  onConnection_ = std::move(onConnection);
  for (Entrance& entrance : entrances_) {
    acceptNext(entrance);
  }
}

void Listener::close() {
  closed_ = true;
  for (Entrance& entrance : entrances_) {
    boost::system::error_code ignored;
    entrance.acceptor.close(ignored);
  }
  if (!localPath_.empty()) {
    std::error_code ignored;
    std::filesystem::remove(localPath_, ignored);
    localPath_.clear();
  }
}

void Listener::acceptNext(Entrance& entrance) {
  entrance.acceptor.async_accept([this, &entrance](const boost::system::error_code& error,
                                                   StreamSocket socket) {
    if (closed_ || error == asio::error::operation_aborted) {
      return;
    }
    if (!error) {
      boost::system::error_code unknown;
      std::string address = addressOf(socket.remote_endpoint(unknown));
      onConnection_({std::move(socket), unknown ? "an unknown address" : address, entrance.local});
      acceptNext(entrance);
      return;
    }
    // An error that may come again at once (out of descriptors, say):
    // try again a little later rather than spin.
    auto retry = std::make_shared<asio::steady_timer>(io_, kAcceptRetryDelay);
    retry->async_wait([this, &entrance, retry](const boost::system::error_code& cancelled) {
      if (!cancelled && !closed_) {
        acceptNext(entrance);
      }
    });
  });
}

}  // namespace skyrazor::network
