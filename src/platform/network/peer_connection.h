#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket/stream.hpp>

#include "platform/network/boost_asio.h"
#include "platform/network/message_decoder.h"
#include "platform/network/wire_format.h"

// The ssh entrance's local socket is a POSIX one: Windows has no ssh
// entrance, and its Unix sockets know nothing of a file's owner and mode.
#if defined(BOOST_ASIO_HAS_LOCAL_SOCKETS) && !defined(_WIN32)
#define SKYRAZOR_LOCAL_SOCKETS 1
#endif

namespace skyrazor::network {

using SteadyTime = std::chrono::steady_clock::time_point;

// A connection's socket, whatever carries it: TCP from anywhere, or the
// server's local socket on its own machine.
using StreamSocket = asio::generic::stream_protocol::socket;

// A browser's connection, once its WebSocket handshake is done: each binary
// message carries one frame, the very bytes a terminal's stream would.
using WebSocketStream = boost::beast::websocket::stream<StreamSocket>;

// The most a browser may send in one WebSocket message: far above any
// frame it has reason to send (keys, a hello, a lobby's view).
inline constexpr std::size_t kLongestWebSocketMessage = 1024;

// One connection to a peer, on the network thread: messages read out of the
// stream as they come, messages written in order from a queue of bounded
// size, and the time anything was last heard. The first malformed message,
// read error or end of stream closes it; `onClosed` then says why, once.
class PeerConnection : public std::enable_shared_from_this<PeerConnection> {
 public:
  struct Handlers {
    std::function<void(Message&)> onMessage;
    std::function<void(const std::string& why)> onClosed;
    // Every queued byte has been written.
    std::function<void()> onDrained;
    // Nothing has been heard for the limit given to watchForSilence.
    std::function<void()> onSilent;
  };

  // `mostQueuedBytes` bounds what waits to be written (the socket's own
  // buffer is kept small as well, so that a peer that reads nothing holds
  // little of the host's memory).
  // `address` is the peer's, as people write it.
  PeerConnection(StreamSocket socket, std::string address, std::size_t mostQueuedBytes);
  // A browser's, over a WebSocket whose handshake is done.
  PeerConnection(std::unique_ptr<WebSocketStream> webSocket, std::string address,
                 std::size_t mostQueuedBytes);

  void start(Handlers handlers);

  // Queues a message; false when it would take the queue over its bound or
  // the connection is closed (nothing is queued then).
  bool send(const Message& message);
  // Sends one last message, then closes; gives up after a short while if
  // the peer does not take it.
  void sendAndClose(const Message& last, const std::string& why);
  void close(const std::string& why);
  // Calls onSilent as soon as nothing has been heard from the peer for
  // `limit`, counted from now at the earliest (once; the handler decides
  // what becomes of it).
  void watchForSilence(std::chrono::milliseconds limit);

  bool isOpen() const { return open_; }
  std::size_t queuedBytes() const { return queuedBytes_; }
  SteadyTime lastHeard() const { return lastHeard_; }
  // The peer's address as people write it ("127.0.0.1", "::1").
  const std::string& address() const { return address_; }
  // Where the player really is, once the server's own ssh entrance has said.
  void setAddress(std::string address) { address_ = std::move(address); }
  // A browser's, over a WebSocket, rather than a terminal's.
  bool overWebSocket() const { return webSocket_ != nullptr; }
  // Adds every byte written from now on to `total` (a server's count, which
  // outlives its connections' writing).
  void countSentBytesIn(std::atomic<std::uint64_t>& total) { sentBytes_ = &total; }

 private:
  void tuneSocket();
  void readMore();
  void readWebSocket();
  void takeIn(std::string_view bytes);
  void takeWholeFrame(std::string_view bytes);
  void writeFront();
  StreamSocket& socket() { return webSocket_ ? webSocket_->next_layer() : socket_; }
  void writeNext();
  void drainAndClose();
  void awaitSilence(SteadyTime deadline);

  // The socket a terminal's frames stream over, or (a browser's) the one
  // under its WebSocket.
  std::unique_ptr<WebSocketStream> webSocket_;
  StreamSocket socket_;
  boost::beast::flat_buffer webSocketMessage_;
  std::size_t mostQueuedBytes_;
  Handlers handlers_;
  MessageDecoder decoder_;
  std::array<char, 4096> received_{};
  std::deque<std::string> queue_;
  std::size_t queuedBytes_ = 0;
  bool writing_ = false;
  bool open_ = true;
  bool closeWhenWritten_ = false;
  bool draining_ = false;  // the last message is out; waiting for the peer to close
  std::string closingWhy_;
  asio::steady_timer lingerTimer_;
  // Set for the moment silence would begin as last heard; moved on when it
  // rings early, so that hearing the peer costs nothing but noting the time.
  asio::steady_timer silenceTimer_;
  std::chrono::milliseconds silenceLimit_{0};
  SteadyTime lastHeard_;
  std::string address_;
  std::atomic<std::uint64_t>* sentBytes_ = nullptr;
};

// Microseconds on the steady clock, for heartbeats.
std::uint64_t steadyMicroseconds();

}  // namespace skyrazor::network
