#include "platform/network/join_client.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/network/peer_connection.h"
#include "platform/network/screen_updates.h"

namespace skyrazor::network {
namespace {

constexpr std::chrono::milliseconds kGoodbyeLimit{1000};

// The game is over, or its server stopped: nothing went wrong.
bool isCleanEnd(const Goodbye& goodbye) {
  return goodbye.reason == kGameEndedReason || goodbye.reason == kServerStoppedReason;
}

}  // namespace

class JoinClient::Network {
 public:
  explicit Network(JoinOptions options);
  ~Network();

  void onNews(std::function<void()> wake);
  void sendKeys(std::string_view keys);
  bool takePicture(Screen& screen);
  JoinState state() const;
  JoinState awaitAnswer();

 private:
  void connect();
  void onConnected(asio::ip::tcp::socket socket);
  void onMessage(Message& message);
  void onAnswer(Message& message);
  void onPicture(Message& message);
  void onClosed(const std::string& why);
  void scheduleHeartbeat();
  void end(const std::string& reason, bool endedByHost);
  void leave();
  void changeState(const std::function<void(JoinState&)>& change);

  JoinOptions options_;
  asio::io_context io_;
  asio::ip::tcp::resolver resolver_;
  asio::ip::tcp::socket connectingSocket_;
  asio::steady_timer timer_;  // the connect or answer limit, then the heartbeat
  std::shared_ptr<PeerConnection> connection_;
  bool welcomed_ = false;
  bool leaving_ = false;
  Screen received_{80, 25};  // the picture as the host's messages leave it

  mutable std::mutex shared_;  // guards everything below
  Screen picture_{80, 25};
  bool pictureChanged_ = false;
  JoinState state_;
  std::condition_variable answered_;
  std::function<void()> wake_;

  std::thread thread_;
};

JoinClient::Network::Network(JoinOptions options)
    : options_(std::move(options)), resolver_(io_), connectingSocket_(io_), timer_(io_) {
  connect();
  thread_ = std::thread([this] { io_.run(); });
}

JoinClient::Network::~Network() {
  asio::post(io_, [this] { leave(); });
  thread_.join();
}

void JoinClient::Network::connect() {
  timer_.expires_after(options_.connectLimit);
  timer_.async_wait([this](const asio::error_code& error) {
    if (!error && !connection_) {
      resolver_.cancel();
      asio::error_code ignored;
      connectingSocket_.close(ignored);
      end("no answer from " + options_.host + " port " + std::to_string(options_.port), false);
    }
  });
  resolver_.async_resolve(
      options_.host, std::to_string(options_.port),
      [this](const asio::error_code& error, const asio::ip::tcp::resolver::results_type& found) {
        if (error) {
          if (error != asio::error::operation_aborted) {
            end("cannot find " + options_.host + ": " + error.message(), false);
          }
          return;
        }
        asio::async_connect(connectingSocket_, found,
                            [this](const asio::error_code& error, const asio::ip::tcp::endpoint&) {
                              if (error) {
                                if (error != asio::error::operation_aborted) {
                                  end("cannot reach " + options_.host + " port " +
                                          std::to_string(options_.port) + ": " + error.message(),
                                      false);
                                }
                                return;
                              }
                              onConnected(std::move(connectingSocket_));
                            });
      });
}

void JoinClient::Network::onConnected(asio::ip::tcp::socket socket) {
  connection_ = std::make_shared<PeerConnection>(std::move(socket), options_.mostQueuedBytes);
  connection_->start({[this](Message& message) { onMessage(message); },
                      [this](const std::string& why) { onClosed(why); },
                      {},
                      [this] { connection_->close("the host gave no sign of life for a while"); }});
  connection_->send(Hello{kProtocolVersion, options_.role, options_.joinCode, options_.roomName});
  timer_.cancel();
  timer_.expires_after(options_.answerLimit);
  timer_.async_wait([this](const asio::error_code& error) {
    if (!error && !welcomed_) {
      connection_->close("the host did not answer in time");
    }
  });
}

void JoinClient::Network::onMessage(Message& message) {
  if (!welcomed_) {
    onAnswer(message);
    return;
  }
  if (const Ping* ping = std::get_if<Ping>(&message)) {
    connection_->send(Pong{ping->timestamp});
  } else if (const Pong* pong = std::get_if<Pong>(&message)) {
    const auto roundTrip = static_cast<int>(
        std::min<std::uint64_t>(steadyMicroseconds() - pong->timestamp, 60'000'000));
    changeState([roundTrip](JoinState& state) { state.roundTripMicroseconds = roundTrip; });
  } else if (const Goodbye* goodbye = std::get_if<Goodbye>(&message)) {
    if (isCleanEnd(*goodbye)) {
      end(goodbye->reason, true);
    } else {
      end("the host let this terminal go (" + goodbye->reason + ")", false);
    }
  } else if (const SeatChange* change = std::get_if<SeatChange>(&message)) {
    changeState([change](JoinState& state) { state.seat = change->role; });
  } else if (const RoomSeats* seats = std::get_if<RoomSeats>(&message)) {
    changeState([seats](JoinState& state) { state.roomSeats = *seats; });
  } else if (std::holds_alternative<WholeScreen>(message) ||
             std::holds_alternative<ScreenChanges>(message)) {
    onPicture(message);
  } else {
    connection_->close("the host sent a message out of place");
  }
}

void JoinClient::Network::onAnswer(Message& message) {
  if (const Welcome* welcome = std::get_if<Welcome>(&message)) {
    welcomed_ = true;
    timer_.cancel();
    changeState([welcome](JoinState& state) {
      state.phase = JoinState::Phase::Joined;
      state.seat = welcome->role;
      state.roomName = welcome->roomName;
    });
    connection_->watchForSilence(options_.silenceLimit);
    scheduleHeartbeat();
  } else if (const Refusal* refusal = std::get_if<Refusal>(&message)) {
    if (refusal->reason == RefusalReason::WrongCode && options_.joinCode.empty()) {
      changeState([](JoinState& state) { state.askedForCode = true; });
    }
    end("the host refused: " + refusal->text, false);
  } else if (const Goodbye* goodbye = std::get_if<Goodbye>(&message);
             goodbye != nullptr && isCleanEnd(*goodbye)) {
    end(goodbye->reason, true);  // the game ended while this terminal was joining
  } else {
    connection_->close("the host's answer was not a Skyrazor welcome");
  }
}

void JoinClient::Network::onPicture(Message& message) {
  bool taken = std::holds_alternative<WholeScreen>(message)
                   ? applyWholeScreen(std::get<WholeScreen>(message), received_)
                   : applyScreenChanges(std::get<ScreenChanges>(message), received_);
  if (!taken) {
    connection_->close("the host sent a picture this terminal cannot show");
    return;
  }
  std::lock_guard lock(shared_);
  picture_ = received_;
  pictureChanged_ = true;
  if (wake_) {
    wake_();  // under the lock: see changeState
  }
}

void JoinClient::Network::onClosed(const std::string& why) {
  if (leaving_) {
    io_.stop();
    return;
  }
  end("lost the connection to the host (" + why + ")", false);
}

void JoinClient::Network::scheduleHeartbeat() {
  timer_.expires_after(options_.heartbeatPeriod);
  timer_.async_wait([this](const asio::error_code& error) {
    if (error || !connection_->isOpen()) {
      return;
    }
    connection_->send(Ping{steadyMicroseconds()});
    scheduleHeartbeat();
  });
}

// The first reason is the one the player is told.
void JoinClient::Network::end(const std::string& reason, bool endedByHost) {
  changeState([&](JoinState& state) {
    if (state.phase != JoinState::Phase::Ended) {
      state.phase = JoinState::Phase::Ended;
      state.endReason = reason;
      state.endedByHost = endedByHost;
    }
  });
  timer_.cancel();
  if (connection_) {
    connection_->close(reason);
  }
}

void JoinClient::Network::leave() {
  leaving_ = true;
  timer_.cancel();
  resolver_.cancel();
  if (!connection_ || !connection_->isOpen()) {
    io_.stop();
    return;
  }
  connection_->sendAndClose(Goodbye{"left"}, "left");
  timer_.expires_after(kGoodbyeLimit);
  timer_.async_wait([this](const asio::error_code&) { io_.stop(); });
}

// The terminal is woken under the lock, so that once onNews has changed whom
// to wake, the one before is never woken again (it may be gone).
void JoinClient::Network::changeState(const std::function<void(JoinState&)>& change) {
  std::lock_guard lock(shared_);
  change(state_);
  state_.changes += 1;
  answered_.notify_all();
  if (wake_) {
    wake_();
  }
}

JoinState JoinClient::Network::awaitAnswer() {
  std::unique_lock lock(shared_);
  answered_.wait(lock, [this] { return state_.phase != JoinState::Phase::Connecting; });
  return state_;
}

void JoinClient::Network::onNews(std::function<void()> wake) {
  std::lock_guard lock(shared_);
  wake_ = std::move(wake);
}

void JoinClient::Network::sendKeys(std::string_view keys) {
  std::string bytes(keys);
  asio::post(io_, [this, bytes] {
    if (!welcomed_ || !connection_->isOpen()) {
      return;  // keys before the welcome or after the end go nowhere
    }
    for (std::size_t start = 0; start < bytes.size(); start += kMostKeysPerMessage) {
      connection_->send(Keys{bytes.substr(start, kMostKeysPerMessage)});
    }
  });
}

bool JoinClient::Network::takePicture(Screen& screen) {
  std::lock_guard lock(shared_);
  if (!pictureChanged_) {
    return false;
  }
  screen = picture_;
  pictureChanged_ = false;
  return true;
}

JoinState JoinClient::Network::state() const {
  std::lock_guard lock(shared_);
  return state_;
}

// --- The client's face -------------------------------------------------------------

JoinClient::JoinClient(JoinOptions options)
    : network_(std::make_unique<Network>(std::move(options))) {}

JoinClient::~JoinClient() = default;

void JoinClient::onNews(std::function<void()> wake) {
  network_->onNews(std::move(wake));
}

void JoinClient::sendKeys(std::string_view keys) {
  network_->sendKeys(keys);
}

bool JoinClient::takePicture(Screen& screen) {
  return network_->takePicture(screen);
}

JoinState JoinClient::state() const {
  return network_->state();
}

JoinState JoinClient::awaitAnswer() {
  return network_->awaitAnswer();
}

}  // namespace skyrazor::network
