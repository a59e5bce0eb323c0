#include "platform/network/host_server.h"

#include <algorithm>
#include <cctype>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/network/join_code.h"
#include "platform/network/listener.h"
#include "platform/network/peer_connection.h"
#include "platform/network/screen_updates.h"

namespace skyrazor::network {
namespace {

// Pilot 2's keys that the game has not taken yet; more than a person types
// between two battle frames, so nothing real is dropped.
constexpr std::size_t kMostWaitingKeys = 1024;

// Wrong codes from one address are remembered this long, for this many
// addresses at most.
constexpr std::chrono::seconds kWrongCodeMemory{60};
constexpr std::size_t kMostRememberedAddresses = 1024;
// Below a joining terminal's own wait for its answer, so that the right code
// is never lost to a wait the terminal gives up on.
constexpr std::chrono::milliseconds kLongestWrongCodeDelay{4000};

// How long the host waits for its goodbyes to leave when the game ends.
constexpr std::chrono::milliseconds kGoodbyeLimit{1000};

// Leaving: a pilot whose seat another terminal took, until its goodbye is out.
enum class Seat { Waiting, Pilot, Watcher, Leaving };

struct Peer {
  Peer(std::shared_ptr<PeerConnection> connection, asio::any_io_executor executor)
      : connection(std::move(connection)), helloTimer(std::move(executor)) {}
  std::shared_ptr<PeerConnection> connection;
  Seat seat = Seat::Waiting;
  // Its first message has come: a waiting peer says nothing more until it is
  // answered.
  bool heardFirst = false;
  asio::steady_timer helloTimer;
  PeerPicture picture;
  // A picture was skipped while its output was over the bound: the next one
  // it is sent is whole.
  bool skippedPicture = false;
  std::optional<SteadyTime> behindSince;
};

struct WrongCodes {
  int count = 0;
  SteadyTime last;
};

// Who tries codes, for slowing them down: an IPv4 address, or an IPv6
// address's /64 network, which one machine may hold all of (a fresh address
// for every guess would otherwise be answered at once each time).
std::string guesserOf(const std::string& address) {
  asio::error_code error;
  const asio::ip::address parsed = asio::ip::make_address(address, error);
  if (error || !parsed.is_v6()) {
    return address;
  }
  asio::ip::address_v6::bytes_type bytes = parsed.to_v6().to_bytes();
  std::fill(bytes.begin() + 8, bytes.end(), 0);
  return asio::ip::address_v6(bytes).to_string() + "/64";
}

std::string refusalText(RefusalReason reason, std::uint16_t version) {
  switch (reason) {
    case RefusalReason::WrongCode:
      return "Wrong join code";
    case RefusalReason::VersionMismatch:
      return "This game speaks Skyrazor protocol " + std::to_string(kProtocolVersion) + ", yours " +
             std::to_string(version);
    case RefusalReason::RoomFull:
      return "The game has as many watchers as it takes";
    case RefusalReason::TooManyConnections:
      return "The host has too many terminals joining at once; try again shortly";
    case RefusalReason::MalformedHello:
      return "That was not a Skyrazor hello";
    case RefusalReason::NoSuchRoom:
      return "The host has no room of that name";
    default:
      return "Refused";
  }
}

}  // namespace

// Everything on the network's thread, and what the game's thread shares with
// it under one lock: the picture to send, pilot 2's keys, the status.
class HostServer::Network {
 public:
  explicit Network(HostOptions options);
  ~Network();

  std::uint16_t port() const { return listener_.port(); }
  void onNews(std::function<void()> wake);
  void publish(const Screen& screen, bool cursorShown);
  void takeKeys(std::string& bytes);
  void expectKeys(bool expected);
  HostStatus status() const;

 private:
  void welcome(asio::ip::tcp::socket socket);
  void awaitHello(const std::shared_ptr<Peer>& peer);
  void onMessage(const std::shared_ptr<Peer>& peer, Message& message);
  void onHello(const std::shared_ptr<Peer>& peer, const Hello& hello);
  std::chrono::milliseconds answerDelay(const std::string& address, bool rightCode);
  void answerHello(const std::shared_ptr<Peer>& peer, const Hello& hello, bool rightCode);
  void refuse(const std::shared_ptr<Peer>& peer, RefusalReason reason,
              std::uint16_t version = kProtocolVersion);
  void seat(const std::shared_ptr<Peer>& peer, Role role);
  void onKeys(const Keys& keys);
  void onClosed(const std::shared_ptr<Peer>& peer);
  void sendPicture();
  void updatePeer(Peer& peer);
  void beatHeart();
  void scheduleHeartbeat();
  void endGame();
  std::size_t countSeated(Seat seat) const;
  void changeStatus(const std::function<void(HostStatus&)>& change);

  HostOptions options_;
  asio::io_context io_;
  Listener listener_;
  asio::steady_timer heartbeat_;
  asio::steady_timer goodbyeTimer_;
  std::list<std::shared_ptr<Peer>> peers_;
  std::map<std::string, WrongCodes> wrongCodes_;
  Screen picture_{80, 25};  // the newest picture, on the network's thread
  bool ending_ = false;

  mutable std::mutex shared_;  // guards everything below
  Screen publishedPicture_{80, 25};
  bool picturePosted_ = false;
  std::string pilotKeys_;
  bool keysExpected_ = false;
  HostStatus status_;
  std::function<void()> wake_;

  std::thread thread_;  // last: it starts once everything else is ready
};

HostServer::Network::Network(HostOptions options)
    : options_(std::move(options)),
      listener_(io_, options_.address, options_.port),
      heartbeat_(io_),
      goodbyeTimer_(io_) {
  options_.joinCode = normalJoinCode(options_.joinCode);
  listener_.start([this](asio::ip::tcp::socket socket) { welcome(std::move(socket)); });
  scheduleHeartbeat();
  thread_ = std::thread([this] { io_.run(); });
}

HostServer::Network::~Network() {
  asio::post(io_, [this] { endGame(); });
  thread_.join();
}

void HostServer::Network::welcome(asio::ip::tcp::socket socket) {
  auto connection = std::make_shared<PeerConnection>(std::move(socket), options_.mostQueuedBytes);
  auto peer = std::make_shared<Peer>(connection, io_.get_executor());
  peers_.push_back(peer);
  std::weak_ptr<Peer> weak = peer;
  connection->start({
      [this, weak](Message& message) {
        if (auto peer = weak.lock()) {
          onMessage(peer, message);
        }
      },
      [this, weak](const std::string&) {
        if (auto peer = weak.lock()) {
          onClosed(peer);
        }
      },
      [this, weak] {
        if (auto peer = weak.lock(); peer && peer->skippedPicture) {
          updatePeer(*peer);
        }
      },
  });
  if (countSeated(Seat::Waiting) > options_.mostWaiting) {
    refuse(peer, RefusalReason::TooManyConnections);
    return;
  }
  awaitHello(peer);
}

void HostServer::Network::awaitHello(const std::shared_ptr<Peer>& peer) {
  peer->helloTimer.expires_after(options_.helloLimit);
  std::weak_ptr<PeerConnection> connection = peer->connection;
  peer->helloTimer.async_wait([connection](const asio::error_code& error) {
    if (auto open = connection.lock(); !error && open) {
      open->close("sent no hello in time");
    }
  });
}

void HostServer::Network::onMessage(const std::shared_ptr<Peer>& peer, Message& message) {
  if (peer->seat == Seat::Waiting) {
    // Anything before the answer, such as another guess while a wrong code's
    // refusal is held back, ends the connection.
    if (peer->heardFirst) {
      peer->connection->close("sent a message before its answer");
    } else if (const Hello* hello = std::get_if<Hello>(&message)) {
      peer->heardFirst = true;
      onHello(peer, *hello);
    } else {
      peer->heardFirst = true;
      refuse(peer, RefusalReason::MalformedHello);
    }
    return;
  }
  if (const Ping* ping = std::get_if<Ping>(&message)) {
    peer->connection->send(Pong{ping->timestamp});
  } else if (const Pong* pong = std::get_if<Pong>(&message)) {
    if (peer->seat == Seat::Pilot) {
      const auto roundTrip = static_cast<int>(
          std::min<std::uint64_t>(steadyMicroseconds() - pong->timestamp, 60'000'000));
      changeStatus(
          [roundTrip](HostStatus& status) { status.pilotRoundTripMicroseconds = roundTrip; });
    }
  } else if (const Keys* keys = std::get_if<Keys>(&message); keys && peer->seat == Seat::Pilot) {
    onKeys(*keys);
  } else if (std::holds_alternative<Goodbye>(message)) {
    peer->connection->close("left");
  } else {
    peer->connection->close("sent a message out of place");
  }
}

void HostServer::Network::onHello(const std::shared_ptr<Peer>& peer, const Hello& hello) {
  if (hello.version != kProtocolVersion) {
    refuse(peer, RefusalReason::VersionMismatch, hello.version);
    return;
  }
  const bool rightCode = normalJoinCode(hello.joinCode) == options_.joinCode;
  const std::chrono::milliseconds delay =
      answerDelay(guesserOf(peer->connection->address()), rightCode);
  if (delay.count() == 0) {
    answerHello(peer, hello, rightCode);
    return;
  }
  peer->helloTimer.cancel();
  peer->helloTimer.expires_after(delay);
  std::weak_ptr<Peer> weak = peer;
  peer->helloTimer.async_wait([this, weak, hello, rightCode](const asio::error_code& error) {
    if (auto peer = weak.lock(); !error && peer) {
      answerHello(peer, hello, rightCode);
    }
  });
}

// The first wrong code from an address is refused at once. After it, every
// hello from that address within a minute is answered only after a while,
// a right code's as well as a wrong one's (a terminal that gave up waiting
// would otherwise know its code was wrong): first after wrongCodeDelay, and
// after each further wrong code twice as long, so that codes cannot be tried
// quickly. A right code forgets the address's wrong ones.
std::chrono::milliseconds HostServer::Network::answerDelay(const std::string& address,
                                                           bool rightCode) {
  const SteadyTime now = std::chrono::steady_clock::now();
  for (auto it = wrongCodes_.begin(); it != wrongCodes_.end();) {
    it = now - it->second.last > kWrongCodeMemory ? wrongCodes_.erase(it) : std::next(it);
  }
  auto found = wrongCodes_.find(address);
  std::chrono::milliseconds delay{0};
  if (found != wrongCodes_.end()) {
    delay = std::min<std::chrono::milliseconds>(
        options_.wrongCodeDelay * (1 << std::min(found->second.count - 1, 10)),
        kLongestWrongCodeDelay);
  }
  if (rightCode) {
    if (found != wrongCodes_.end()) {
      wrongCodes_.erase(found);
    }
    return delay;
  }
  if (wrongCodes_.size() >= kMostRememberedAddresses && found == wrongCodes_.end()) {
    wrongCodes_.erase(std::min_element(
        wrongCodes_.begin(), wrongCodes_.end(),
        [](const auto& a, const auto& b) { return a.second.last < b.second.last; }));
  }
  WrongCodes& tries = wrongCodes_[address];
  tries.count += 1;
  tries.last = now;
  return delay;
}

void HostServer::Network::answerHello(const std::shared_ptr<Peer>& peer, const Hello& hello,
                                      bool rightCode) {
  if (!rightCode) {
    refuse(peer, RefusalReason::WrongCode);
  } else if (!hello.roomName.empty()) {
    refuse(peer, RefusalReason::NoSuchRoom);  // the host runs its one game only
  } else if (hello.role == Role::Watcher && countSeated(Seat::Watcher) >= options_.mostWatchers) {
    refuse(peer, RefusalReason::RoomFull);
  } else {
    seat(peer, hello.role);
  }
}

void HostServer::Network::refuse(const std::shared_ptr<Peer>& peer, RefusalReason reason,
                                 std::uint16_t version) {
  peer->helloTimer.cancel();
  peer->connection->sendAndClose(Refusal{reason, refusalText(reason, version)},
                                 "refused: " + refusalText(reason, version));
}

// Pilot 2's seat goes to the newest terminal that asks with the code: the
// one that dropped, joining again, takes over from its silent self.
void HostServer::Network::seat(const std::shared_ptr<Peer>& peer, Role role) {
  peer->helloTimer.cancel();
  if (role == Role::Pilot) {
    for (const std::shared_ptr<Peer>& other : peers_) {
      if (other->seat == Seat::Pilot) {
        other->seat = Seat::Leaving;  // no longer the pilot, whatever it sends
        other->connection->sendAndClose(Goodbye{"another terminal took pilot 2's seat"},
                                        "replaced by another terminal");
      }
    }
  }
  peer->seat = role == Role::Pilot ? Seat::Pilot : Seat::Watcher;
  peer->connection->send(Welcome{role, static_cast<std::uint16_t>(picture_.columns()),
                                 static_cast<std::uint16_t>(picture_.rows()), ""});
  updatePeer(*peer);
  const std::string address = peer->connection->address();
  const int watchers = static_cast<int>(countSeated(Seat::Watcher));
  changeStatus([&](HostStatus& status) {
    if (role == Role::Pilot) {
      status.pilotJoined = true;
      status.pilotAddress = address;
      status.pilotRoundTripMicroseconds = -1;
    }
    status.watchers = watchers;
  });
}

void HostServer::Network::onKeys(const Keys& keys) {
  std::lock_guard lock(shared_);
  if (!keysExpected_) {
    return;
  }
  const std::size_t room = kMostWaitingKeys - std::min(kMostWaitingKeys, pilotKeys_.size());
  if (room == 0) {
    return;  // a full buffer drops keys without waking the game for them
  }
  pilotKeys_ += keys.bytes.substr(0, room);
  if (wake_) {
    wake_();
  }
}

void HostServer::Network::onClosed(const std::shared_ptr<Peer>& peer) {
  peer->helloTimer.cancel();
  const bool wasPilot = peer->seat == Seat::Pilot;
  const bool wasSeated = peer->seat == Seat::Pilot || peer->seat == Seat::Watcher;
  peers_.remove(peer);
  if (ending_) {
    if (peers_.empty()) {
      io_.stop();
    }
    return;
  }
  if (!wasSeated) {
    return;
  }
  const int watchers = static_cast<int>(countSeated(Seat::Watcher));
  changeStatus([&](HostStatus& status) {
    if (wasPilot) {
      status.pilotJoined = false;
      status.pilotRoundTripMicroseconds = -1;
      pilotKeys_.clear();  // under the same lock: the game must not take them now
    }
    status.watchers = watchers;
  });
}

void HostServer::Network::publish(const Screen& screen, bool cursorShown) {
  std::lock_guard lock(shared_);
  publishedPicture_ = screen;
  if (!cursorShown) {
    publishedPicture_.setCursorShape(false, screen.cursorSizePercent());
  }
  if (!picturePosted_) {
    picturePosted_ = true;
    asio::post(io_, [this] { sendPicture(); });
  }
}

void HostServer::Network::sendPicture() {
  {
    std::lock_guard lock(shared_);
    picture_ = publishedPicture_;
    picturePosted_ = false;
  }
  for (const std::shared_ptr<Peer>& peer : peers_) {
    if (peer->seat != Seat::Waiting) {
      updatePeer(*peer);
    }
  }
}

// A peer whose output is over half its bound skips pictures and is sent a
// whole one once its output has drained; one that stays behind is let go,
// so that it never holds the game or the others back.
void HostServer::Network::updatePeer(Peer& peer) {
  if (!peer.connection->isOpen()) {
    return;
  }
  if (peer.connection->queuedBytes() > options_.mostQueuedBytes / 2) {
    peer.skippedPicture = true;
    peer.picture.holdsPicture = false;
    if (!peer.behindSince) {
      peer.behindSince = std::chrono::steady_clock::now();
    }
    return;
  }
  std::vector<Message> updates;
  appendScreenUpdates(picture_, peer.picture, updates);
  for (const Message& update : updates) {
    if (!peer.connection->send(update)) {
      peer.picture.holdsPicture = false;
      peer.skippedPicture = true;
      return;
    }
  }
  peer.skippedPicture = false;
  peer.behindSince.reset();
}

void HostServer::Network::scheduleHeartbeat() {
  heartbeat_.expires_after(options_.heartbeatPeriod);
  heartbeat_.async_wait([this](const asio::error_code& error) {
    if (!error && !ending_) {
      beatHeart();
      scheduleHeartbeat();
    }
  });
}

// Once a period: a ping to every seated peer, and a goodbye to any peer that
// has gone silent or stayed behind.
void HostServer::Network::beatHeart() {
  const SteadyTime now = std::chrono::steady_clock::now();
  const std::list<std::shared_ptr<Peer>> peers = peers_;  // closing one changes the list
  for (const std::shared_ptr<Peer>& peer : peers) {
    if (peer->seat == Seat::Waiting) {
      continue;
    }
    if (now - peer->connection->lastHeard() > options_.silenceLimit) {
      peer->connection->sendAndClose(Goodbye{"no sign of life for a while"},
                                     "went silent (no sign of life for a while)");
    } else if (peer->behindSince && now - *peer->behindSince > options_.behindLimit) {
      peer->connection->close("fell behind the game and was let go");
    } else {
      peer->connection->send(Ping{steadyMicroseconds()});
    }
  }
}

void HostServer::Network::endGame() {
  ending_ = true;
  heartbeat_.cancel();
  listener_.close();
  if (peers_.empty()) {
    io_.stop();
    return;
  }
  const std::list<std::shared_ptr<Peer>> peers = peers_;
  for (const std::shared_ptr<Peer>& peer : peers) {
    peer->connection->sendAndClose(Goodbye{std::string(kGameEndedReason)}, "the game ended");
  }
  goodbyeTimer_.expires_after(kGoodbyeLimit);
  goodbyeTimer_.async_wait([this](const asio::error_code&) { io_.stop(); });
}

std::size_t HostServer::Network::countSeated(Seat seat) const {
  return static_cast<std::size_t>(
      std::count_if(peers_.begin(), peers_.end(), [seat](const std::shared_ptr<Peer>& peer) {
        return peer->seat == seat && peer->connection->isOpen();
      }));
}

// The game is woken under the lock, so that once onNews has changed whom to
// wake, the one before is never woken again (it may be gone).
void HostServer::Network::changeStatus(const std::function<void(HostStatus&)>& change) {
  std::lock_guard lock(shared_);
  change(status_);
  status_.changes += 1;
  if (wake_) {
    wake_();
  }
}

void HostServer::Network::onNews(std::function<void()> wake) {
  std::lock_guard lock(shared_);
  wake_ = std::move(wake);
}

void HostServer::Network::takeKeys(std::string& bytes) {
  std::lock_guard lock(shared_);
  bytes += pilotKeys_;
  pilotKeys_.clear();
}

void HostServer::Network::expectKeys(bool expected) {
  std::lock_guard lock(shared_);
  keysExpected_ = expected;
  if (!expected) {
    pilotKeys_.clear();
  }
}

HostStatus HostServer::Network::status() const {
  std::lock_guard lock(shared_);
  return status_;
}

// --- The server's face ---------------------------------------------------------------

HostServer::HostServer(HostOptions options)
    : network_(std::make_unique<Network>(std::move(options))) {}

HostServer::~HostServer() = default;

std::uint16_t HostServer::port() const {
  return network_->port();
}

void HostServer::onNews(std::function<void()> wake) {
  network_->onNews(std::move(wake));
}

void HostServer::publish(const Screen& screen, bool cursorShown) {
  network_->publish(screen, cursorShown);
}

void HostServer::takeTyped(std::string& bytes) {
  network_->takeKeys(bytes);
}

void HostServer::expectKeys(bool expected) {
  network_->expectKeys(expected);
}

HostStatus HostServer::status() const {
  return network_->status();
}

}  // namespace skyrazor::network
