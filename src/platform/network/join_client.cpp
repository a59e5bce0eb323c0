#include "platform/network/join_client.h"

#include <algorithm>
#include <condition_variable>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/network/peer_connection.h"
#include "platform/network/screen_updates.h"

namespace skyrazor::network {
namespace {

constexpr std::chrono::milliseconds kGoodbyeLimit{1000};
// The duel's messages the terminal has not taken yet: a minute of battle's
// keys, and a few dozen battle states.
constexpr std::size_t kMostUntakenDuelMessages = 4096;
constexpr std::size_t kMostUntakenStateBytes = 64 * kLongestBattleState;

// What a host sends a pilot's terminal of a duel.
bool isDuelMessage(const Message& message) {
  return std::holds_alternative<BattleStart>(message) ||
         std::holds_alternative<FrameKeys>(message) ||
         std::holds_alternative<BattleRepair>(message) ||
         std::holds_alternative<BattleOver>(message);
}

std::size_t stateBytes(const DuelMessage& message) {
  if (const auto* start = std::get_if<BattleStart>(&message)) {
    return start->state.size();
  }
  if (const auto* repair = std::get_if<BattleRepair>(&message)) {
    return repair->state.size();
  }
  return 0;
}

// The game is over, or its server stopped: nothing went wrong.
bool isCleanEnd(const Goodbye& goodbye) {
  return goodbye.reason == kGameEndedReason || goodbye.reason == kServerStoppedReason;
}

// Refusals only a server of rooms gives.
bool isServersRefusal(RefusalReason reason) {
  return reason == RefusalReason::NoSuchRoom || reason == RefusalReason::TooManyRooms ||
         reason == RefusalReason::RoomNameTaken;
}

}  // namespace

class JoinClient::Network {
 public:
  explicit Network(JoinOptions options);
  ~Network();

  void onNews(std::function<void()> wake);
  void sendKeys(std::string_view keys);
  bool takePicture(Screen& screen);
  void viewLobby(const LobbyView& view);
  bool takeLobby(LobbyListing& listing);
  void takeDuelMessages(std::vector<DuelMessage>& out);
  void sendToHost(const Message& message);
  JoinState state() const;
  JoinState awaitAnswer();

 private:
  void connect();
  void tryAddress(std::size_t index, const boost::system::error_code& lastError);
  void onConnected(StreamSocket socket, std::string address);
  void onMessage(Message& message);
  void onAnswer(Message& message);
  void onPicture(Message& message);
  void onLobbyRooms(const LobbyRooms& rooms);
  void onDuelMessage(Message& message);
  bool inOrder(const Message& message);
  void queueDuelMessage(DuelMessage message);
  void onClosed(const std::string& why);
  void scheduleHeartbeat();
  void end(const std::string& reason, bool endedByHost);
  void leave();
  void changeState(const std::function<void(JoinState&)>& change);
  // Who the player's messages speak of: "the host", "the server", or until
  // that is known, the address as the player gave it.
  std::string other() const;

  JoinOptions options_;
  asio::io_context io_;
  asio::ip::tcp::resolver resolver_;
  std::vector<asio::ip::tcp::endpoint> addresses_;  // the host's, tried in turn
  StreamSocket connectingSocket_;
  asio::steady_timer timer_;  // the connect or answer limit, then the heartbeat
  std::chrono::steady_clock::time_point connectStarted_;
  std::shared_ptr<PeerConnection> connection_;
  // Known to be at a server of rooms (asked for a room by name or a listed
  // one, welcomed into one or its lobby, refused for want of rooms), or
  // known to be at a host.
  bool atServer_ = false;
  bool atHost_ = false;
  bool welcomed_ = false;
  bool leaving_ = false;
  Screen received_{80, 25};  // the picture as the host's messages leave it
  // The battle frame whose keys the host sends next, while a duel is under way.
  std::optional<std::uint32_t> nextDuelKeyFrame_;

  mutable std::mutex shared_;  // guards everything below
  Screen picture_{80, 25};
  bool pictureChanged_ = false;
  LobbyListing lobby_;
  bool lobbyChanged_ = false;
  std::vector<DuelMessage> duelMessages_;
  std::size_t duelStateBytes_ = 0;
  JoinState state_;
  std::condition_variable answered_;
  std::function<void()> wake_;

  std::thread thread_;
};

JoinClient::Network::Network(JoinOptions options)
    : options_(std::move(options)),
      resolver_(io_),
      connectingSocket_(io_),
      timer_(io_),
      atServer_(!options_.roomName.empty() || !options_.localSocket.empty() ||
                options_.roomWanted == RoomWanted::QuickMatch ||
                options_.roomWanted == RoomWanted::NewListed) {
  connect();
  thread_ = std::thread([this] { io_.run(); });
}

JoinClient::Network::~Network() {
  asio::post(io_, [this] { leave(); });
  thread_.join();
}

void JoinClient::Network::connect() {
  connectStarted_ = std::chrono::steady_clock::now();
  timer_.expires_after(options_.connectLimit);
  timer_.async_wait([this](const boost::system::error_code& error) {
    if (!error && !connection_) {
      resolver_.cancel();
      boost::system::error_code ignored;
      connectingSocket_.close(ignored);
      end("no answer from " + options_.host + " port " + std::to_string(options_.port), false);
    }
  });
  if (!options_.localSocket.empty()) {
#if defined(SKYRAZOR_LOCAL_SOCKETS)
    const asio::local::stream_protocol::endpoint local(options_.localSocket);
    connectingSocket_.async_connect(
        asio::generic::stream_protocol::endpoint(local.data(), local.size()),
        [this](const boost::system::error_code& error) {
          if (error == asio::error::operation_aborted) {
            return;
          }
          if (error) {
            end("cannot reach " + options_.localSocket + ": " + error.message(), false);
            return;
          }
          onConnected(std::move(connectingSocket_), "this machine");
        });
#else
    end("this build has no local sockets for " + options_.localSocket, false);
#endif
    return;
  }
  resolver_.async_resolve(options_.host, std::to_string(options_.port),
                          [this](const boost::system::error_code& error,
                                 const asio::ip::tcp::resolver::results_type& found) {
                            if (error) {
                              if (error != asio::error::operation_aborted) {
                                end("cannot find " + options_.host + ": " + error.message(), false);
                              }
                              return;
                            }
                            for (const auto& entry : found) {
                              addresses_.push_back(entry.endpoint());
                            }
                            tryAddress(0, asio::error::host_not_found);
                          });
}

// Each of the host's addresses in turn, until one takes the connection.
void JoinClient::Network::tryAddress(std::size_t index,
                                     const boost::system::error_code& lastError) {
  if (index >= addresses_.size()) {
    end("cannot reach " + options_.host + " port " + std::to_string(options_.port) + ": " +
            lastError.message(),
        false);
    return;
  }
  const asio::ip::tcp::endpoint& address = addresses_[index];
  boost::system::error_code ignored;
  connectingSocket_.close(ignored);
  connectStarted_ = std::chrono::steady_clock::now();
  connectingSocket_.async_connect(
      asio::generic::stream_protocol::endpoint(address.data(), address.size(),
                                               address.protocol().protocol()),
      [this, index](const boost::system::error_code& error) {
        if (error == asio::error::operation_aborted) {
          return;
        }
        if (error) {
          tryAddress(index + 1, error);
          return;
        }
        onConnected(std::move(connectingSocket_), addresses_[index].address().to_string());
      });
}

void JoinClient::Network::onConnected(StreamSocket socket, std::string address) {
  connection_ = std::make_shared<PeerConnection>(std::move(socket), std::move(address),
                                                 options_.mostQueuedBytes);
  connection_->start(
      {[this](Message& message) { onMessage(message); },
       [this](const std::string& why) { onClosed(why); },
       {},
       [this] { connection_->close(other() + " gave no sign of life for a while"); }});
  connection_->send(Hello{options_.protocolVersion, options_.role, options_.joinCode,
                          options_.roomName, options_.roomWanted, options_.playerAddress});
  // The connect took about a round trip; the answer takes one more, after
  // whatever the host holds it back.
  const auto connectTook = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - connectStarted_);
  timer_.cancel();
  timer_.expires_after(options_.answerLimit +
                       std::clamp(3 * connectTook, options_.linkAllowance,
                                  std::max(options_.linkAllowance, options_.connectLimit)));
  timer_.async_wait([this](const boost::system::error_code& error) {
    if (!error && !welcomed_) {
      end(other() + " did not answer in time", false);
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
    if (goodbye->reason == kGameEndedReason && atServer_) {
      end("the room's game has ended", true);
    } else if (isCleanEnd(*goodbye)) {
      end(goodbye->reason, true);
    } else {
      end(other() + " let this terminal go (" + goodbye->reason + ")", false);
    }
  } else if (const SeatChange* change = std::get_if<SeatChange>(&message)) {
    changeState([change](JoinState& state) { state.seat = change->role; });
  } else if (const RoomSeats* seats = std::get_if<RoomSeats>(&message)) {
    changeState([seats](JoinState& state) { state.roomSeats = *seats; });
  } else if (const LobbyRooms* rooms = std::get_if<LobbyRooms>(&message);
             rooms != nullptr && state().seat == Role::Lobby) {
    onLobbyRooms(*rooms);
  } else if (std::holds_alternative<WholeScreen>(message) ||
             std::holds_alternative<ScreenChanges>(message)) {
    onPicture(message);
  } else if (isDuelMessage(message) && options_.protocolVersion >= kFirstDuelVersion) {
    onDuelMessage(message);
  } else {
    connection_->close(other() + " sent a message out of place");
  }
}

void JoinClient::Network::onAnswer(Message& message) {
  if (const Welcome* welcome = std::get_if<Welcome>(&message)) {
    welcomed_ = true;
    atServer_ = atServer_ || !welcome->roomName.empty() || welcome->role == Role::Lobby;
    atHost_ = !atServer_;
    timer_.cancel();
    changeState([welcome](JoinState& state) {
      state.phase = JoinState::Phase::Joined;
      state.seat = welcome->role;
      state.roomName = welcome->roomName;
    });
    connection_->watchForSilence(options_.silenceLimit);
    scheduleHeartbeat();
  } else if (const Refusal* refusal = std::get_if<Refusal>(&message)) {
    // Join codes are a host's; rooms a server's.
    atServer_ = atServer_ || isServersRefusal(refusal->reason);
    atHost_ = !atServer_ && refusal->reason == RefusalReason::WrongCode;
    if (refusal->reason == RefusalReason::WrongCode) {
      changeState([](JoinState& state) { state.refusedForCode = true; });
    }
    end(other() + " refused: " + refusal->text, false);
  } else if (const Goodbye* goodbye = std::get_if<Goodbye>(&message);
             goodbye != nullptr && isCleanEnd(*goodbye)) {
    end(goodbye->reason, true);  // the game ended while this terminal was joining
  } else {
    connection_->close("the answer from " + other() + " was not a Skyrazor welcome");
  }
}

void JoinClient::Network::onPicture(Message& message) {
  bool taken = std::holds_alternative<WholeScreen>(message)
                   ? applyWholeScreen(std::get<WholeScreen>(message), received_)
                   : applyScreenChanges(std::get<ScreenChanges>(message), received_);
  if (!taken) {
    connection_->close(other() + " sent a picture this terminal cannot show");
    return;
  }
  std::lock_guard lock(shared_);
  picture_ = received_;
  pictureChanged_ = true;
  if (wake_) {
    wake_();  // under the lock: see changeState
  }
}

void JoinClient::Network::onLobbyRooms(const LobbyRooms& rooms) {
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard lock(shared_);
  lobby_.listed = rooms.listed;
  for (const auto& [index, room] : rooms.rows) {
    lobby_.rows[index] = LobbyListing::Row{room, now};
  }
  // Rows past the end of the listing are rooms that closed.
  lobby_.rows.erase(lobby_.rows.lower_bound(rooms.listed), lobby_.rows.end());
  lobbyChanged_ = true;
  if (wake_) {
    wake_();  // under the lock: see changeState
  }
}

void JoinClient::Network::onDuelMessage(Message& message) {
  if (!inOrder(message)) {
    connection_->close(other() + " sent a duel's message out of place");
    return;
  }
  if (auto* start = std::get_if<BattleStart>(&message)) {
    queueDuelMessage(std::move(*start));
  } else if (auto* keys = std::get_if<FrameKeys>(&message)) {
    queueDuelMessage(std::move(*keys));
  } else if (auto* repair = std::get_if<BattleRepair>(&message)) {
    queueDuelMessage(std::move(*repair));
  } else {
    queueDuelMessage(std::get<BattleOver>(message));
  }
}

// A duel begins with its BattleStart and ends with its BattleOver; between
// them the other pilot's keys follow on from one another, frame by frame.
bool JoinClient::Network::inOrder(const Message& message) {
  if (const auto* start = std::get_if<BattleStart>(&message)) {
    nextDuelKeyFrame_ = start->frame + 1;
    return true;
  }
  if (!nextDuelKeyFrame_) {
    return false;
  }
  if (const auto* keys = std::get_if<FrameKeys>(&message)) {
    if (keys->firstFrame != *nextDuelKeyFrame_) {
      return false;
    }
    *nextDuelKeyFrame_ += static_cast<std::uint32_t>(keys->keys.size());
  } else if (std::holds_alternative<BattleOver>(message)) {
    nextDuelKeyFrame_.reset();
  }
  return true;
}

// A terminal whose player's side takes none of them for long has fallen
// behind the duel, and leaves it rather than hold an ever longer queue.
void JoinClient::Network::queueDuelMessage(DuelMessage message) {
  bool fellBehind = false;
  {
    std::lock_guard lock(shared_);
    duelStateBytes_ += stateBytes(message);
    duelMessages_.push_back(std::move(message));
    fellBehind =
        duelMessages_.size() > kMostUntakenDuelMessages || duelStateBytes_ > kMostUntakenStateBytes;
    if (wake_ && !fellBehind) {
      wake_();  // under the lock: see changeState
    }
  }
  if (fellBehind) {
    end("this terminal fell behind the duel and left it", false);
  }
}

void JoinClient::Network::onClosed(const std::string& why) {
  if (leaving_) {
    io_.stop();
    return;
  }
  end("lost the connection to " + other() + " (" + why + ")", false);
}

std::string JoinClient::Network::other() const {
  if (atServer_) {
    return "the server";
  }
  if (atHost_) {
    return "the host";
  }
  if (!options_.localSocket.empty()) {
    return options_.localSocket;
  }
  const bool ipv6 = options_.host.find(':') != std::string::npos;
  return (ipv6 ? "[" + options_.host + "]" : options_.host) + ":" + std::to_string(options_.port);
}

void JoinClient::Network::scheduleHeartbeat() {
  timer_.expires_after(options_.heartbeatPeriod);
  timer_.async_wait([this](const boost::system::error_code& error) {
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
  timer_.async_wait([this](const boost::system::error_code&) { io_.stop(); });
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

void JoinClient::Network::takeDuelMessages(std::vector<DuelMessage>& out) {
  std::lock_guard lock(shared_);
  std::move(duelMessages_.begin(), duelMessages_.end(), std::back_inserter(out));
  duelMessages_.clear();
  duelStateBytes_ = 0;
}

// A duel's message that cannot go out (the host reads nothing) ends the
// connection: the duel cannot go on without it.
void JoinClient::Network::sendToHost(const Message& message) {
  asio::post(io_, [this, message] {
    if (!welcomed_ || !connection_->isOpen() || options_.protocolVersion < kFirstDuelVersion) {
      return;  // nowhere to go, or a host of a version that plays no duel
    }
    if (!connection_->send(message)) {
      end("this terminal could not send its duel to " + other() + " in time", false);
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

void JoinClient::Network::viewLobby(const LobbyView& view) {
  asio::post(io_, [this, view] {
    if (welcomed_ && connection_->isOpen() && state().seat == Role::Lobby) {
      connection_->send(view);
    }
  });
}

bool JoinClient::Network::takeLobby(LobbyListing& listing) {
  std::lock_guard lock(shared_);
  if (!lobbyChanged_) {
    return false;
  }
  listing = lobby_;
  lobbyChanged_ = false;
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

void JoinClient::takeDuelMessages(std::vector<DuelMessage>& out) {
  network_->takeDuelMessages(out);
}

void JoinClient::sendFrameKeys(const FrameKeys& keys) {
  network_->sendToHost(keys);
}

void JoinClient::sendChecksums(const FrameChecksums& checksums) {
  network_->sendToHost(checksums);
}

void JoinClient::viewLobby(const LobbyView& view) {
  network_->viewLobby(view);
}

bool JoinClient::takeLobby(LobbyListing& listing) {
  return network_->takeLobby(listing);
}

JoinState JoinClient::state() const {
  return network_->state();
}

JoinState JoinClient::awaitAnswer() {
  return network_->awaitAnswer();
}

}  // namespace skyrazor::network
