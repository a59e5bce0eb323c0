#include "platform/network/listener.h"

#include <chrono>
#include <memory>

#include "platform/network/host_server.h"

namespace skyrazor::network {
namespace {

// How long to wait before accepting again after a failed accept.
constexpr std::chrono::milliseconds kAcceptRetryDelay{100};

}  // namespace

Listener::Listener(asio::io_context& io, const std::string& address, std::uint16_t port)
    : io_(io), address_(address) {
  if (!address.empty()) {
    asio::error_code error;
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
  if (acceptors_.empty()) {
    throw NetworkError(firstFailure);
  }
}

void Listener::open(const asio::ip::tcp::endpoint& endpoint) {
  asio::ip::tcp::acceptor acceptor(io_);
  asio::error_code error;
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
    acceptor.bind(endpoint, error);
  }
  if (!error) {
    acceptor.listen(asio::socket_base::max_listen_connections, error);
  }
  if (error) {
    throw NetworkError("cannot listen on port " + std::to_string(endpoint.port()) + " of " +
                       (address_.empty() ? "this machine" : address_) + ": " + error.message());
  }
  port_ = acceptor.local_endpoint().port();
  acceptors_.push_back(std::move(acceptor));
}

void Listener::start(std::function<void(asio::ip::tcp::socket)> onConnection) {
  onConnection_ = std::move(onConnection);
  for (asio::ip::tcp::acceptor& acceptor : acceptors_) {
    acceptNext(acceptor);
  }
}

void Listener::close() {
  closed_ = true;
  for (asio::ip::tcp::acceptor& acceptor : acceptors_) {
    asio::error_code ignored;
    acceptor.close(ignored);
  }
}

void Listener::acceptNext(asio::ip::tcp::acceptor& acceptor) {
  acceptor.async_accept(
      [this, &acceptor](const asio::error_code& error, asio::ip::tcp::socket socket) {
        if (closed_ || error == asio::error::operation_aborted) {
          return;
        }
        if (!error) {
          onConnection_(std::move(socket));
          acceptNext(acceptor);
          return;
        }
        // An error that may come again at once (out of descriptors, say):
        // try again a little later rather than spin.
        auto retry = std::make_shared<asio::steady_timer>(io_, kAcceptRetryDelay);
        retry->async_wait([this, &acceptor, retry](const asio::error_code& cancelled) {
          if (!cancelled && !closed_) {
            acceptNext(acceptor);
          }
        });
      });
}

}  // namespace skyrazor::network
