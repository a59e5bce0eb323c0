#include "server/game_server.h"

#if defined(__linux__)
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <csignal>
#include <list>
#include <map>
#include <thread>

#include "platform/network/boost_asio.h"
#include "platform/network/join_code.h"
#include "platform/network/listener.h"
#include "server/lobby.h"
#include "server/metrics.h"
#include "server/peer.h"
#include "server/reception.h"
#include "server/web_face.h"

namespace skyrazor::network {
namespace {

// A room's game gives way to the network thread. With many rooms ready to run
// at once, the one thread that reads every terminal's keys and heartbeats must
// not queue behind all their games, or healthy terminals seem silent and are
// let go; a game that runs a little later only draws its frame a little later.
void giveWayToTheNetwork() {
#if defined(__linux__)
  // On Linux the nice value is each thread's own.
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
#elif defined(_WIN32)
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
#endif
}

// How long a stopping server waits for its goodbyes to leave and its games
// to end.
constexpr std::chrono::milliseconds kStoppingLimit{2000};

ReceptionOptions receptionOptions(const ServerOptions& options, ServerCounters* counters) {
  ReceptionOptions reception;
  reception.mostWaiting = options.mostWaiting;
  reception.mostPerAddress = options.mostPerAddress;
  reception.mostWaitingPerAddress = options.mostWaitingPerAddress;
  reception.helloLimit = options.helloLimit;
  reception.mostQueuedBytes = options.mostQueuedBytes;
  reception.wrongGuessDelay = options.wrongGuessDelay;
  reception.trustedProxy = options.trustedProxy;
  reception.counters = counters;
  return reception;
}

WebFaceOptions webFaceOptions(const ServerOptions& options, ServerCounters* counters) {
  WebFaceOptions web;
  web.webOrigin = options.webOrigin;
  web.trustedProxy = options.trustedProxy;
  web.metricsFrom = options.metricsFrom;
  web.counters = counters;
  return web;
}

LobbyOptions lobbyOptions(const ServerOptions& options) {
  LobbyOptions lobby;
  lobby.silenceLimit = options.silenceLimit;
  lobby.behindLimit = options.behindLimit;
  lobby.mostQueuedBytes = options.mostQueuedBytes;
  return lobby;
}

Listener listenerFor(asio::io_context& io, const ServerOptions& options) {
  if (!options.passedSockets.empty()) {
    return Listener(io, options.passedSockets);
  }
  return Listener(io, options.address, options.port);
}

}  // namespace

// A room and the thread its game plays on.
struct OpenRoom {
  std::shared_ptr<Room> room;
  std::thread game;
  bool gameEnded = false;
  std::string closingNote;  // what the game said about itself
};

class GameServer::Network {
 public:
  Network(ServerOptions options, RoomPlayer play, EventLog log);
  ~Network();

  std::uint16_t port() const { return listener_.port(); }
  void serveUntilStopped();
  void stop() {
    asio::post(io_, [this] { stopServing("stopped"); });
  }

 private:
  Guess judge(const Hello& hello) const;
  std::optional<Refusal> seat(const std::shared_ptr<Peer>& peer, const Hello& hello);
  std::optional<Refusal> seatInRoom(const std::shared_ptr<Peer>& peer,
                                    const std::shared_ptr<OpenRoom>& open, Role role);
  std::optional<Refusal> openAndSeat(const std::shared_ptr<Peer>& peer, const std::string& name,
                                     bool listed);
  std::shared_ptr<OpenRoom> longestWaitingForPilot() const;
  const std::vector<ListedRoom>& listedRooms();
  std::shared_ptr<OpenRoom> openRoom(const std::string& name, bool listed);
  std::string freshRoomName() const;
  void onRoomEmptied(const std::shared_ptr<OpenRoom>& open);
  void onGameEnded(const std::shared_ptr<OpenRoom>& open, std::string note);
  void closeIfDone(const std::shared_ptr<OpenRoom>& open);
  void scheduleHeartbeat();
  void scheduleKeepAlive();
  std::string metrics();
  void stopServing(const std::string& why);

  ServerOptions options_;
  RoomPlayer play_;
  EventLog log_;
  // Before everything that counts into it: the rooms' games and the
  // connections' writes end first.
  ServerCounters counters_;
  asio::io_context io_;
  // Rooms that take terminals, by name; and rooms whose game is over or whose
  // terminals have all gone, until both are true.
  std::map<std::string, std::shared_ptr<OpenRoom>> rooms_;
  std::list<std::shared_ptr<OpenRoom>> closing_;
  // The lobby's rows, built again only after a tick or a room's opening or
  // closing, so that a thousand lobbies turning pages cost a thousand copies
  // of a few rows, not a thousand listings.
  std::vector<ListedRoom> listing_;
  bool listingStale_ = true;
  Lobby lobby_;
  Reception reception_;
  WebFace webFace_;
  Listener listener_;
  asio::steady_timer heartbeat_;
  asio::steady_timer keepAlive_;
  asio::steady_timer stoppingTimer_;
  asio::signal_set signals_;
  bool stopping_ = false;
};

GameServer::Network::Network(ServerOptions options, RoomPlayer play, EventLog log)
    : options_(std::move(options)),
      play_(std::move(play)),
      log_(std::move(log)),
      lobby_(
          lobbyOptions(options_),
          [this]() -> const std::vector<ListedRoom>& { return listedRooms(); }, log_),
      reception_(
          io_, receptionOptions(options_, &counters_),
          [this](const Hello& hello) { return judge(hello); },
          [this](const std::shared_ptr<Peer>& peer, const Hello& hello) {
            return seat(peer, hello);
          },
          log_),
      webFace_(
          webFaceOptions(options_, &counters_),
          [this]() -> const std::vector<ListedRoom>& { return listedRooms(); },
          [this](std::unique_ptr<WebSocketStream> webSocket, std::string address) {
            reception_.takeWebSocket(std::move(webSocket), std::move(address));
          },
          [this] { return metrics(); }),
      listener_(listenerFor(io_, options_)),
      heartbeat_(io_),
      keepAlive_(io_),
      stoppingTimer_(io_),
      signals_(io_, SIGINT, SIGTERM) {
  reception_.passRequestsTo([this](Accepted accepted) { webFace_.take(std::move(accepted)); });
  if (!options_.localSocket.empty()) {
    listener_.listenLocally(options_.localSocket);
  }
  for (const int passedLocalSocket : options_.passedLocalSockets) {
    listener_.adoptLocally(passedLocalSocket);
  }
}

GameServer::Network::~Network() {
  // Whatever the serving left: every game is told to end and waited for.
  for (auto& [name, open] : rooms_) {
    closing_.push_back(open);
  }
  for (const std::shared_ptr<OpenRoom>& open : closing_) {
    open->room->firstKeys().close();
    if (open->game.joinable()) {
      open->game.join();
    }
  }
}

void GameServer::Network::serveUntilStopped() {
  signals_.async_wait([this](const boost::system::error_code& error, int signal) {
    if (!error) {
      stopServing(signal == SIGINT ? "interrupted (SIGINT)" : "terminated (SIGTERM)");
    }
  });
  listener_.start([this](Accepted accepted) {
    if (!stopping_) {
      reception_.take(std::move(accepted));
    }
  });
  scheduleHeartbeat();
  scheduleKeepAlive();
  if (options_.onServing) {
    asio::post(io_, options_.onServing);
  }
  io_.run();
}

// Naming a room that is open, or one that is not, is a guess; so is a new
// room's chosen name, whose answer tells whether a room of that name is open.
// A new room under a drawn name, or a hello refused whatever the rooms are,
// guesses nothing.
Guess GameServer::Network::judge(const Hello& hello) const {
  const std::string name = normalRoomName(hello.roomName);
  if (!hello.joinCode.empty() || name.empty()) {
    return Guess::None;
  }
  const bool open = rooms_.count(name) != 0;
  if (hello.roomWanted == RoomWanted::NewNamed) {
    return open ? Guess::Wrong : Guess::FreeName;
  }
  return open ? Guess::Right : Guess::Wrong;
}

// A named room is only ever joined: a mistyped name is told, never opened
// empty for nobody to find. A new room is opened under the name asked for,
// when it is free, or else under a drawn one; only a room opened without a
// name from the lobby (a new listed room, or quick match's) is listed.
std::optional<Refusal> GameServer::Network::seat(const std::shared_ptr<Peer>& peer,
                                                 const Hello& hello) {
  if (!hello.joinCode.empty()) {
    return Refusal{RefusalReason::WrongCode, "This server's rooms take no join code"};
  }
  if (hello.role == Role::Lobby) {
    lobby_.seat(peer);
    return std::nullopt;
  }
  if (hello.roomWanted == RoomWanted::QuickMatch) {
    if (std::shared_ptr<OpenRoom> waiting = longestWaitingForPilot()) {
      return seatInRoom(peer, waiting, Role::Pilot);
    }
    return openAndSeat(peer, freshRoomName(), true);
  }
  if (hello.roomWanted == RoomWanted::NewListed) {
    return openAndSeat(peer, freshRoomName(), true);
  }
  const std::string name = normalRoomName(hello.roomName);
  if (!hello.roomName.empty() && name.empty()) {
    return Refusal{RefusalReason::NoSuchRoom,
                   "A room's name is 1 to 32 letters, digits, '-' or '_'"};
  }
  if (hello.role == Role::Watcher && (name.empty() || hello.roomWanted == RoomWanted::NewNamed)) {
    return Refusal{RefusalReason::NoSuchRoom, "Name the room to watch"};
  }
  auto found = rooms_.find(name);
  const bool opening = name.empty() || hello.roomWanted == RoomWanted::NewNamed;
  if (opening && found != rooms_.end()) {
    return Refusal{RefusalReason::RoomNameTaken,
                   "There is a room " + name + " already; choose another name"};
  }
  if (!opening && found == rooms_.end()) {
    return Refusal{RefusalReason::NoSuchRoom, "There is no room " + name};
  }
  if (opening) {
    return openAndSeat(peer, name.empty() ? freshRoomName() : name, false);
  }
  return seatInRoom(peer, found->second, hello.role);
}

std::optional<Refusal> GameServer::Network::openAndSeat(const std::shared_ptr<Peer>& peer,
                                                        const std::string& name, bool listed) {
  if (rooms_.size() >= options_.mostRooms) {
    return Refusal{RefusalReason::TooManyRooms, "The server has as many rooms as it takes (" +
                                                    std::to_string(options_.mostRooms) +
                                                    "); try again later"};
  }
  const std::shared_ptr<OpenRoom> open = openRoom(name, listed);
  rooms_.emplace(name, open);
  listingStale_ = true;
  return seatInRoom(peer, open, Role::Pilot);
}

std::optional<Refusal> GameServer::Network::seatInRoom(const std::shared_ptr<Peer>& peer,
                                                       const std::shared_ptr<OpenRoom>& open,
                                                       Role role) {
  std::optional<Refusal> refusal = open->room->seat(peer, role);
  if (refusal && open->room->isEmpty()) {
    onRoomEmptied(open);
  }
  return refusal;
}

// Quick match's partner: the listed room whose pilot 2 seat has been free
// the longest, so that whoever asked first is met first.
std::shared_ptr<OpenRoom> GameServer::Network::longestWaitingForPilot() const {
  std::shared_ptr<OpenRoom> longest;
  std::optional<SteadyTime> longestSince;
  for (const auto& [name, open] : rooms_) {
    const std::optional<SteadyTime> since = open->room->pilotSeatFreeSince();
    if (open->room->listed() && since && !open->room->isEmpty() &&
        (!longestSince || *since < *longestSince)) {
      longest = open;
      longestSince = since;
    }
  }
  return longest;
}

// The lobby's rows: the listed rooms, oldest first.
const std::vector<ListedRoom>& GameServer::Network::listedRooms() {
  if (!listingStale_) {
    return listing_;
  }
  std::vector<const Room*> listed;
  for (const auto& [name, open] : rooms_) {
    if (open->room->listed()) {
      listed.push_back(open->room.get());
    }
  }
  std::stable_sort(listed.begin(), listed.end(), [](const Room* one, const Room* other) {
    return one->openedAt() < other->openedAt();
  });
  const SteadyTime now = std::chrono::steady_clock::now();
  listing_.clear();
  for (const Room* room : listed) {
    listing_.push_back(room->listing(now));
  }
  listingStale_ = false;
  return listing_;
}

std::string GameServer::Network::freshRoomName() const {
  for (;;) {
    std::string name = drawRoomName();
    if (rooms_.count(name) == 0) {
      return name;
    }
  }
}

std::shared_ptr<OpenRoom> GameServer::Network::openRoom(const std::string& name, bool listed) {
  RoomOptions roomOptions;
  roomOptions.name = name;
  roomOptions.listed = listed;
  roomOptions.mostWatchers = options_.mostWatchersPerRoom;
  roomOptions.silenceLimit = options_.silenceLimit;
  roomOptions.behindLimit = options_.behindLimit;
  roomOptions.mostQueuedBytes = options_.mostQueuedBytes;
  roomOptions.counters = &counters_;
  auto open = std::make_shared<OpenRoom>();
  open->room = std::make_shared<Room>(roomOptions, log_);
  std::weak_ptr<OpenRoom> weak = open;
  open->room->onPublished([this](std::function<void()> send) { asio::post(io_, std::move(send)); });
  // Later, not from within the room: closing it may let it go. A terminal
  // may have joined it by name in between, and then it plays on.
  open->room->onEmptied([this, weak] {
    asio::post(io_, [this, weak] {
      if (auto open = weak.lock(); open && open->room->isEmpty()) {
        onRoomEmptied(open);
      }
    });
  });
  log_("room " + name + " opened" + (listed ? " (listed)" : ""));
  open->game = std::thread([this, open] {
    giveWayToTheNetwork();
    std::string note = play_(*open->room);
    asio::post(io_, [this, open, note] { onGameEnded(open, note); });
  });
  return open;
}

// Nobody left to play: the game is ended at its next wait.
void GameServer::Network::onRoomEmptied(const std::shared_ptr<OpenRoom>& open) {
  if (auto found = rooms_.find(open->room->name());
      found != rooms_.end() && found->second == open) {
    rooms_.erase(found);
    listingStale_ = true;
    closing_.push_back(open);
  }
  open->room->firstKeys().close();
  closeIfDone(open);
}

void GameServer::Network::onGameEnded(const std::shared_ptr<OpenRoom>& open, std::string note) {
  open->gameEnded = true;
  open->closingNote = std::move(note);
  open->game.join();
  if (auto found = rooms_.find(open->room->name());
      found != rooms_.end() && found->second == open) {
    rooms_.erase(found);
    listingStale_ = true;
    closing_.push_back(open);
  }
  open->room->sayGoodbye(std::string(kGameEndedReason), "the room's game ended");
  closeIfDone(open);
}

void GameServer::Network::closeIfDone(const std::shared_ptr<OpenRoom>& open) {
  if (!open->gameEnded || !open->room->isEmpty()) {
    return;
  }
  closing_.remove(open);
  log_("room " + open->room->name() + " closed" +
       (open->closingNote.empty() ? "" : " (" + open->closingNote + ")"));
  if (stopping_ && rooms_.empty() && closing_.empty()) {
    io_.stop();
  }
}

void GameServer::Network::scheduleHeartbeat() {
  heartbeat_.expires_after(options_.heartbeatPeriod);
  heartbeat_.async_wait([this](const boost::system::error_code& error) {
    if (error || stopping_) {
      return;
    }
    // A terminal let go may close its room, which changes the map.
    const auto rooms = rooms_;
    for (const auto& [name, open] : rooms) {
      open->room->beatHeart();
    }
    listingStale_ = true;
    lobby_.tick();
    scheduleHeartbeat();
  });
}

// The sign of life comes from the network thread's own timer, so that a
// thread stuck anywhere stops giving it.
void GameServer::Network::scheduleKeepAlive() {
  if (!options_.keepAlive || options_.keepAlivePeriod.count() <= 0) {
    return;
  }
  options_.keepAlive();
  keepAlive_.expires_after(options_.keepAlivePeriod);
  keepAlive_.async_wait([this](const boost::system::error_code& error) {
    if (!error && !stopping_) {
      scheduleKeepAlive();
    }
  });
}

// The gauges are counted afresh, on the network thread that owns the rooms'
// seats, without any room's lock; the counters are read as they stand.
std::string GameServer::Network::metrics() {
  MetricFigures figures;
  figures.rooms = rooms_.size();
  for (const auto& [name, open] : rooms_) {
    open->room->countSeats(figures.seats);
  }
  figures.lobbyVisitors = lobby_.size();
  for (std::size_t kind = 0; kind < counters_.refusals.size(); ++kind) {
    figures.refusals.emplace_back(refusalLabel(static_cast<RefusalKind>(kind)),
                                  counters_.refusals[kind].load(std::memory_order_relaxed));
  }
  const auto& bounds = FramePeriodHistogram::kBounds;
  const auto counts = counters_.framePeriods.bucketCounts();
  figures.frameBounds.assign(bounds.begin(), bounds.end());
  figures.frameCounts.assign(counts.begin(), counts.end());
  figures.frameSumSeconds = counters_.framePeriods.sumSeconds();
  figures.sentBytes = counters_.sentBytes.load(std::memory_order_relaxed);
  figures.duels = counters_.duels.load(std::memory_order_relaxed);
  figures.duelRepairs = counters_.duelRepairs.load(std::memory_order_relaxed);
  figures.process = readProcessFigures();
  return metricsText(figures);
}

void GameServer::Network::stopServing(const std::string& why) {
  if (stopping_) {
    return;
  }
  stopping_ = true;
  log_("stopping: " + why);
  if (options_.onStopping) {
    options_.onStopping();
  }
  signals_.cancel();
  heartbeat_.cancel();
  keepAlive_.cancel();
  listener_.close();
  reception_.sayGoodbye(std::string(kServerStoppedReason));
  webFace_.closeAll();
  lobby_.sayGoodbye(std::string(kServerStoppedReason));
  const auto rooms = rooms_;
  for (const auto& [name, open] : rooms) {
    open->room->sayGoodbye(std::string(kServerStoppedReason), "the server stopped");
    onRoomEmptied(open);
  }
  if (rooms_.empty() && closing_.empty()) {
    io_.stop();
    return;
  }
  stoppingTimer_.expires_after(kStoppingLimit);
  stoppingTimer_.async_wait([this](const boost::system::error_code& error) {
    if (!error) {
      io_.stop();
    }
  });
}

// --- The server's face ---------------------------------------------------------------

GameServer::GameServer(ServerOptions options, RoomPlayer play, EventLog log)
    : network_(std::make_unique<Network>(std::move(options), std::move(play), std::move(log))) {}

GameServer::~GameServer() = default;

std::uint16_t GameServer::port() const {
  return network_->port();
}

void GameServer::serveUntilStopped() {
  network_->serveUntilStopped();
}

void GameServer::stop() {
  network_->stop();
}

}  // namespace skyrazor::network
