#include "server/host_server.h"

#include <thread>

#include "platform/network/join_code.h"
#include "platform/network/listener.h"
#include "server/peer.h"
#include "server/reception.h"

namespace skyrazor::network {
namespace {

// How long the host waits for its goodbyes to leave when the game ends.
constexpr std::chrono::milliseconds kGoodbyeLimit{1000};

ReceptionOptions receptionOptions(const HostOptions& options) {
  ReceptionOptions reception;
  reception.mostWaiting = options.mostWaiting;
  reception.mostPerAddress = options.mostPerAddress;
  reception.mostWaitingPerAddress = options.mostWaitingPerAddress;
  reception.helloLimit = options.helloLimit;
  reception.mostQueuedBytes = options.mostQueuedBytes;
  reception.wrongGuessDelay = options.wrongCodeDelay;
  return reception;
}

RoomOptions roomOptions(const HostOptions& options) {
  RoomOptions room;
  room.mostWatchers = options.mostWatchers;
  room.silenceLimit = options.silenceLimit;
  room.behindLimit = options.behindLimit;
  room.mostQueuedBytes = options.mostQueuedBytes;
  return room;
}

}  // namespace

// The host's one room, its reception and its listener, on a thread of their own.
class HostServer::Network {
 public:
  explicit Network(HostOptions options);
  ~Network();

  std::uint16_t port() const { return listener_.port(); }
  Room& room() { return room_; }

 private:
  std::optional<Refusal> seat(const std::shared_ptr<Peer>& peer, const Hello& hello);
  void scheduleHeartbeat();
  void endGame();

  HostOptions options_;
  asio::io_context io_;
  Room room_;
  Reception reception_;
  Listener listener_;
  asio::steady_timer heartbeat_;
  asio::steady_timer goodbyeTimer_;
  bool ending_ = false;
  std::thread thread_;  // last: it starts once everything else is ready
};

HostServer::Network::Network(HostOptions options)
    : options_(std::move(options)),
      room_(roomOptions(options_), {}),
      reception_(
          io_, receptionOptions(options_),
          // No code at all is a terminal asking whether the host wants one,
          // not a guess.
          [this](const Hello& hello) {
            if (hello.joinCode.empty()) {
              return Guess::None;
            }
            return normalJoinCode(hello.joinCode) == options_.joinCode ? Guess::Right
                                                                       : Guess::Wrong;
          },
          [this](const std::shared_ptr<Peer>& peer, const Hello& hello) {
            return seat(peer, hello);
          },
          {}),
      listener_(io_, options_.address, options_.port),
      heartbeat_(io_),
      goodbyeTimer_(io_) {
  options_.joinCode = normalJoinCode(options_.joinCode);
  room_.onPublished([this](std::function<void()> send) { asio::post(io_, std::move(send)); });
  room_.onEmptied([this] {
    if (ending_) {
      io_.stop();
    }
  });
  listener_.start([this](Accepted accepted) { reception_.take(std::move(accepted)); });
  scheduleHeartbeat();
  thread_ = std::thread([this] { io_.run(); });
}

HostServer::Network::~Network() {
  asio::post(io_, [this] { endGame(); });
  thread_.join();
}

std::optional<Refusal> HostServer::Network::seat(const std::shared_ptr<Peer>& peer,
                                                 const Hello& hello) {
  if (hello.joinCode.empty()) {
    return Refusal{RefusalReason::WrongCode, "This game needs its join code"};
  }
  if (normalJoinCode(hello.joinCode) != options_.joinCode) {
    return Refusal{RefusalReason::WrongCode, "Wrong join code"};
  }
  if (!hello.roomName.empty() || hello.roomWanted == RoomWanted::QuickMatch ||
      hello.roomWanted == RoomWanted::NewListed) {
    return Refusal{RefusalReason::NoSuchRoom, "This is a host of one game, with no rooms"};
  }
  // A terminal that asked for a server's lobby found a host of one game:
  // it came to play.
  return room_.seat(peer, hello.role == Role::Lobby ? Role::Pilot : hello.role);
}

void HostServer::Network::scheduleHeartbeat() {
  heartbeat_.expires_after(options_.heartbeatPeriod);
  heartbeat_.async_wait([this](const boost::system::error_code& error) {
    if (!error && !ending_) {
      room_.beatHeart();
      scheduleHeartbeat();
    }
  });
}

void HostServer::Network::endGame() {
  ending_ = true;
  heartbeat_.cancel();
  listener_.close();
  reception_.sayGoodbye(std::string(kGameEndedReason));
  if (room_.isEmpty()) {
    io_.stop();
    return;
  }
  room_.sayGoodbye(std::string(kGameEndedReason), "the game ended");
  goodbyeTimer_.expires_after(kGoodbyeLimit);
  goodbyeTimer_.async_wait([this](const boost::system::error_code&) { io_.stop(); });
}

// --- The server's face ---------------------------------------------------------------

HostServer::HostServer(HostOptions options)
    : network_(std::make_unique<Network>(std::move(options))) {}

HostServer::~HostServer() = default;

std::uint16_t HostServer::port() const {
  return network_->port();
}

void HostServer::onNews(std::function<void()> wake) {
  network_->room().onNews(std::move(wake));
}

void HostServer::publish(const Screen& screen, bool cursorShown) {
  network_->room().publish(screen, cursorShown);
}

void HostServer::takeTyped(std::string& bytes) {
  network_->room().takeTyped(bytes);
}

void HostServer::expectKeys(bool expected) {
  network_->room().expectKeys(expected);
}

bool HostServer::seated() const {
  return network_->room().seated();
}

HostStatus HostServer::status() const {
  return network_->room().status();
}

bool HostServer::beginDuel(std::uint16_t correctionFrames, std::uint32_t frame,
                           const std::string& state) {
  return network_->room().beginDuel(correctionFrames, frame, state);
}

void HostServer::sendFrameKeys(int ship, const FrameKeys& keys) {
  network_->room().sendFrameKeys(ship, keys);
}

void HostServer::sendRepair(int ship, const BattleRepair& repair) {
  network_->room().sendRepair(ship, repair);
}

void HostServer::endDuel(std::uint32_t frames) {
  network_->room().endDuel(frames);
}

DuelNews HostServer::takeDuelNews() {
  return network_->room().takeDuelNews();
}

}  // namespace skyrazor::network
