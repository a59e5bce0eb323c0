#include "platform/network/peer_connection.h"

#include <utility>

namespace skyrazor::network {
namespace {

// The kernel's own buffer for a connection's output: enough for a few whole
// pictures, so that a peer that stops reading is soon found behind.
constexpr int kSocketSendBufferBytes = 32 * 1024;

// How long a last message may take to leave before the connection closes anyway.
constexpr std::chrono::milliseconds kLingerLimit{1000};

}  // namespace

std::uint64_t steadyMicroseconds() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

PeerConnection::PeerConnection(StreamSocket socket, std::string address,
                               std::size_t mostQueuedBytes)
    : socket_(std::move(socket)),
      mostQueuedBytes_(mostQueuedBytes),
      lingerTimer_(socket_.get_executor()),
      silenceTimer_(socket_.get_executor()),
      lastHeard_(std::chrono::steady_clock::now()),
      address_(std::move(address)) {
  tuneSocket();
}

// The stream socket of its own stays unopened: the WebSocket's is used.
PeerConnection::PeerConnection(std::unique_ptr<WebSocketStream> webSocket, std::string address,
                               std::size_t mostQueuedBytes)
    : PeerConnection(StreamSocket(webSocket->get_executor()), std::move(address), mostQueuedBytes) {
  webSocket_ = std::move(webSocket);
  tuneSocket();
  webSocket_->binary(true);
  // A message over the bound ends the connection (with close code 1009).
  webSocket_->read_message_max(kLongestWebSocketMessage);
}

// Keys and pictures go at once, not gathered up (a local socket has no such
// delay, and says so harmlessly), and little waits in the kernel's buffer.
void PeerConnection::tuneSocket() {
  boost::system::error_code ignored;
  socket().set_option(asio::ip::tcp::no_delay(true), ignored);
  socket().set_option(asio::socket_base::send_buffer_size(kSocketSendBufferBytes), ignored);
}

void PeerConnection::start(Handlers handlers) {
  handlers_ = std::move(handlers);
  if (webSocket_) {
    readWebSocket();
  } else {
    readMore();
  }
}

void PeerConnection::readWebSocket() {
  webSocketMessage_.clear();
  webSocket_->async_read(webSocketMessage_, [self = shared_from_this()](
                                                const boost::system::error_code& error,
                                                std::size_t) {
    if (!self->open_) {
      return;
    }
    if (error) {
      // A browser that goes away may close its WebSocket, or only its socket.
      const bool closed = error == boost::beast::websocket::error::closed ||
                          error == asio::error::eof || error == asio::error::not_connected ||
                          error == asio::error::connection_reset;
      self->close(self->draining_ ? self->closingWhy_
                  : closed        ? "closed the connection"
                                  : error.message());
      return;
    }
    if (!self->draining_) {
      const auto data = self->webSocketMessage_.cdata();
      self->takeWholeFrame(std::string_view(static_cast<const char*>(data.data()), data.size()));
    }
    if (self->open_) {
      self->readWebSocket();
    }
  });
}

// A WebSocket message is one frame, whole: a part of one, or more than one,
// is as malformed as a bad frame.
void PeerConnection::takeWholeFrame(std::string_view bytes) {
  lastHeard_ = std::chrono::steady_clock::now();
  MessageDecoder decoder;
  const std::size_t taken = decoder.feed(bytes);
  DecodeStep step = decoder.next();
  if (auto* malformed = std::get_if<MalformedMessage>(&step)) {
    close("sent a malformed message (" + malformed->reason + ")");
  } else if (taken != bytes.size() || !std::holds_alternative<Message>(step)) {
    close("sent a WebSocket message that is not one whole frame");
  } else if (handlers_.onMessage) {
    handlers_.onMessage(std::get<Message>(step));
  }
}

void PeerConnection::readMore() {
  socket_.async_read_some(
      asio::buffer(received_),
      [self = shared_from_this()](const boost::system::error_code& error, std::size_t byteCount) {
        if (!self->open_) {
          return;
        }
        if (error) {
          self->close(self->draining_             ? self->closingWhy_
                      : error == asio::error::eof ? "closed the connection"
                                                  : error.message());
          return;
        }
        if (!self->draining_) {
          self->takeIn(std::string_view(self->received_.data(), byteCount));
        }
        if (self->open_) {
          self->readMore();
        }
      });
}

void PeerConnection::takeIn(std::string_view bytes) {
  lastHeard_ = std::chrono::steady_clock::now();
  while (open_) {
    bytes.remove_prefix(decoder_.feed(bytes));
    DecodeStep step = decoder_.next();
    if (auto* malformed = std::get_if<MalformedMessage>(&step)) {
      close("sent a malformed message (" + malformed->reason + ")");
      return;
    }
    if (auto* message = std::get_if<Message>(&step)) {
      if (handlers_.onMessage) {
        handlers_.onMessage(*message);
      }
      continue;
    }
    return;  // the decoder has taken every byte and waits for more
  }
}

bool PeerConnection::send(const Message& message) {
  if (!open_ || closeWhenWritten_) {
    return false;
  }
  std::string frame;
  if (!encodeMessage(message, frame) || queuedBytes_ + frame.size() > mostQueuedBytes_) {
    return false;
  }
  queuedBytes_ += frame.size();
  queue_.push_back(std::move(frame));
  if (!writing_) {
    writeNext();
  }
  return true;
}

void PeerConnection::sendAndClose(const Message& last, const std::string& why) {
  if (!open_ || closeWhenWritten_) {
    return;
  }
  std::string frame;
  if (encodeMessage(last, frame)) {
    queuedBytes_ += frame.size();
    queue_.push_back(std::move(frame));
  }
  closeWhenWritten_ = true;
  closingWhy_ = why;
  lingerTimer_.expires_after(kLingerLimit);
  lingerTimer_.async_wait([self = shared_from_this()](const boost::system::error_code& error) {
    if (!error) {
      self->close(self->closingWhy_);
    }
  });
  if (!writing_) {
    writeNext();
  }
}

void PeerConnection::writeNext() {
  if (queue_.empty()) {
    writing_ = false;
    if (closeWhenWritten_) {
      drainAndClose();
    } else if (handlers_.onDrained) {
      handlers_.onDrained();
    }
    return;
  }
  writing_ = true;
  writeFront();
}

void PeerConnection::writeFront() {
  auto written = [self = shared_from_this()](const boost::system::error_code& error,
                                             std::size_t bytes) {
    if (self->sentBytes_ != nullptr) {
      self->sentBytes_->fetch_add(bytes, std::memory_order_relaxed);
    }
    if (!self->open_) {
      return;
    }
    if (error) {
      self->close(error.message());
      return;
    }
    self->queuedBytes_ -= self->queue_.front().size();
    self->queue_.pop_front();
    self->writeNext();
  };
  if (webSocket_) {
    webSocket_->async_write(asio::buffer(queue_.front()), std::move(written));
  } else {
    asio::async_write(socket_, asio::buffer(queue_.front()), std::move(written));
  }
}

// Closing a socket whose peer's bytes lie unread makes the system reset the
// connection, which may throw away the last message before the peer reads
// it. So the sending side is shut first, and what the peer still sends is
// read and dropped until it closes too (or the linger limit runs out).
void PeerConnection::drainAndClose() {
  draining_ = true;
  if (webSocket_) {
    // A browser is told the WebSocket's own way, and closes its side then.
    webSocket_->async_close(boost::beast::websocket::close_code::normal,
                            [](const boost::system::error_code&) {});
    return;
  }
  boost::system::error_code ignored;
  socket_.shutdown(asio::socket_base::shutdown_send, ignored);
}

void PeerConnection::watchForSilence(std::chrono::milliseconds limit) {
  // Counted from now: a peer's answer may have been held back a while (after
  // wrong guesses from its address), and it owes no sign of life before it.
  lastHeard_ = std::chrono::steady_clock::now();
  silenceLimit_ = limit;
  awaitSilence(lastHeard_ + limit);
}

void PeerConnection::awaitSilence(SteadyTime deadline) {
  silenceTimer_.expires_at(deadline);
  silenceTimer_.async_wait([self = shared_from_this()](const boost::system::error_code& error) {
    if (error || !self->open_) {
      return;
    }
    const SteadyTime silentFrom = self->lastHeard_ + self->silenceLimit_;
    if (std::chrono::steady_clock::now() < silentFrom) {
      self->awaitSilence(silentFrom);
    } else if (std::function<void()> onSilent = self->handlers_.onSilent) {
      onSilent();
    }
  });
}

void PeerConnection::close(const std::string& why) {
  if (!open_) {
    return;
  }
  open_ = false;
  boost::system::error_code ignored;
  socket().shutdown(asio::socket_base::shutdown_both, ignored);
  socket().close(ignored);
  lingerTimer_.cancel();
  silenceTimer_.cancel();
  queue_.clear();
  queuedBytes_ = 0;
  // The handlers stay: one of them may be running, up the stack, as this is
  // called. Closed, the connection calls none of them again.
  if (std::function<void(const std::string&)> onClosed = handlers_.onClosed) {
    onClosed(why);
  }
}

}  // namespace skyrazor::network
