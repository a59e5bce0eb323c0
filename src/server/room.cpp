#include "server/room.h"

#include <algorithm>
#include <vector>

#include "platform/network/boost_asio.h"
#include "server/peer.h"

namespace skyrazor::network {
namespace {

// Pilot 2's keys that the game has not taken yet; more than a person types
// between two battle frames, so nothing real is dropped.
constexpr std::size_t kMostWaitingKeys = 1024;
// A duel terminal's battle frames (of keys, or of checksums) that the game
// has not taken yet: over a minute of battle. A game that far behind has
// lost that terminal.
constexpr std::size_t kMostUntakenDuelFrames = 4096;

// Whether a terminal plays a duel itself: a browser only shows pictures.
bool playsDuels(const std::shared_ptr<Peer>& peer) {
  return peer && peer->version >= kFirstDuelVersion && !peer->connection->overWebSocket();
}

bool isBattleState(const std::string& state) {
  return !state.empty() && state.size() <= kLongestBattleState;
}

const char* seatName(Seat seat) {
  switch (seat) {
    case Seat::RoomHost:
      return "host";
    case Seat::Pilot:
      return "pilot 2";
    default:
      return "watcher";
  }
}

Role roleOf(Seat seat) {
  switch (seat) {
    case Seat::RoomHost:
      return Role::RoomHost;
    case Seat::Pilot:
      return Role::Pilot;
    default:
      return Role::Watcher;
  }
}

}  // namespace

std::string guesserOf(const std::string& address) {
  boost::system::error_code error;
  const asio::ip::address parsed = asio::ip::make_address(address, error);
  if (error || !parsed.is_v6()) {
    return address;
  }
  asio::ip::address_v6::bytes_type bytes = parsed.to_v6().to_bytes();
  std::fill(bytes.begin() + 8, bytes.end(), 0);
  return asio::ip::address_v6(bytes).to_string() + "/64";
}

namespace {

// A pilot's name in a lobby's row: cut to its column, and every byte a
// console would take as a control shown as '?', so that no name can break
// the rows or reach a terminal as anything but glyphs.
std::string listablePilotName(const std::string& name) {
  std::string listable = name.substr(0, kLongestListedPilot);
  for (char& character : listable) {
    const auto byte = static_cast<unsigned char>(character);
    if (byte < 0x20 || byte == 0x7F) {
      character = '?';
    }
  }
  return listable;
}

std::uint8_t smallCount(int count) {
  return static_cast<std::uint8_t>(std::clamp(count, 0, 255));
}

RoomActivity activityOf(GameFacts::Activity activity) {
  switch (activity) {
    case GameFacts::Activity::TwoPersonBattle:
      return RoomActivity::TwoPersonBattle;
    case GameFacts::Activity::ComputerBattle:
      return RoomActivity::ComputerBattle;
    case GameFacts::Activity::ArcadeRun:
      return RoomActivity::ArcadeRun;
    default:
      return RoomActivity::Menus;
  }
}

}  // namespace

Room::Room(RoomOptions options, EventLog log)
    : options_(std::move(options)),
      log_(std::move(log)),
      openedAt_(std::chrono::steady_clock::now()),
      pilotSeatFreeSince_(openedAt_) {
  if (atServer()) {
    // The room host's keys are the first keyboard's: they wake the game as
    // pilot 2's do.
    wake_ = [this] { firstKeys_.wake(); };
  }
}

std::optional<Refusal> Room::seat(const std::shared_ptr<Peer>& peer, Role asked) {
  peer->askedToPlay = asked == Role::Pilot;
  Seat seat = Seat::Watcher;
  if (!atServer()) {
    // Pilot 2's seat goes to the newest terminal that asks with the code: the
    // one that dropped, joining again, takes over from its silent self.
    if (asked == Role::Pilot) {
      if (std::shared_ptr<Peer> old = seatedAt(Seat::Pilot)) {
        // No longer the pilot, whatever it sends; nor are its waiting keys.
        const std::string why = "replaced by another terminal";
        unseat(old, why);
        old->connection->sendAndClose(Goodbye{"another terminal took pilot 2's seat"}, why);
      }
      seat = Seat::Pilot;
    }
  } else if (!seatedAt(Seat::RoomHost)) {
    seat = Seat::RoomHost;
    peer->standsIn = shipsHeld();
  } else if (asked == Role::Pilot && !seatedAt(Seat::Pilot)) {
    seat = Seat::Pilot;
  }
  if (seat == Seat::Watcher && countSeated(Seat::Watcher) >= options_.mostWatchers) {
    return Refusal{RefusalReason::RoomFull,
                   atServer() ? "Room " + options_.name + " has as many watchers as it takes"
                              : "The game has as many watchers as it takes"};
  }
  peer->home = this;
  peers_.push_back(peer);
  seatAt(peer, seat);
  peer->connection->watchForSilence(options_.silenceLimit);
  return std::nullopt;
}

void Room::seatAt(const std::shared_ptr<Peer>& peer, Seat seat) {
  peer->seat = seat;
  peer->connection->send(Welcome{roleOf(seat), static_cast<std::uint16_t>(picture_.columns()),
                                 static_cast<std::uint16_t>(picture_.rows()), options_.name});
  logEvent(peer->connection->address() + " joined as " + seatName(seat));
  noteSeats();
  updatePeer(*peer);
}

void Room::moveUp(const std::shared_ptr<Peer>& peer, Seat seat) {
  peer->seat = seat;
  peer->connection->send(SeatChange{roleOf(seat)});
  logEvent(peer->connection->address() + " moved up to " + seatName(seat));
}

// The host's seat never stays empty while anyone is in the room: pilot 2
// moves up, else the longest-joined watcher. A free pilot's seat goes to the
// longest-joined watcher that joined to play. During a two-person match
// pilot 2 stays in the right ship, and a watcher only stands in for the left
// one until the match is over.
void Room::fillFreeSeats() {
  if (!atServer()) {
    return;
  }
  if (!seatedAt(Seat::RoomHost)) {
    const bool held = shipsHeld();
    std::shared_ptr<Peer> next = held ? nullptr : seatedAt(Seat::Pilot);
    if (!next) {
      next = seatedAt(Seat::Watcher);
    }
    if (next) {
      next->standsIn = held;
      moveUp(next, Seat::RoomHost);
    }
  }
  if (!seatedAt(Seat::Pilot)) {
    for (const std::shared_ptr<Peer>& peer : peers_) {
      if (peer->seat == Seat::Watcher && peer->askedToPlay && peer->connection->isOpen()) {
        moveUp(peer, Seat::Pilot);
        break;
      }
    }
  }
}

bool Room::shipsHeld() const {
  std::lock_guard lock(shared_);
  return keysExpected_;
}

// The match is over: pilot 2 moves up to host as it would have when the
// host left, and whoever stood in for the left ship steps back to pilot 2
// (if it joined to play) or to watching.
void Room::afterTwoPersonMatch() {
  if (shipsHeld()) {
    return;  // the next match has begun already
  }
  std::shared_ptr<Peer> standIn = seatedAt(Seat::RoomHost);
  std::shared_ptr<Peer> pilot = seatedAt(Seat::Pilot);
  if (standIn && standIn->standsIn) {
    standIn->standsIn = false;
    if (pilot) {
      moveUp(pilot, Seat::RoomHost);
      standIn->seat = standIn->askedToPlay ? Seat::Pilot : Seat::Watcher;
      standIn->connection->send(SeatChange{roleOf(standIn->seat)});
      logEvent(standIn->connection->address() + " stepped back to " + seatName(standIn->seat));
    }
  }
  fillFreeSeats();
  noteSeats();
}

void Room::onMessage(const std::shared_ptr<Peer>& peer, Message& message) {
  if (const Ping* ping = std::get_if<Ping>(&message)) {
    peer->connection->send(Pong{ping->timestamp});
  } else if (const Pong* pong = std::get_if<Pong>(&message)) {
    onPong(*peer, *pong);
  } else if (const Keys* keys = std::get_if<Keys>(&message)) {
    if (peer->seat == Seat::RoomHost) {
      firstKeys_.handIn(keys->bytes);
    } else if (peer->seat == Seat::Pilot) {
      onPilotKeys(*keys);
    } else if (peer->seat == Seat::Watcher) {
      peer->connection->close("sent keys while watching");
    }
  } else if (const FrameKeys* frameKeys = std::get_if<FrameKeys>(&message)) {
    onFrameKeys(peer, *frameKeys);
  } else if (const FrameChecksums* checksums = std::get_if<FrameChecksums>(&message)) {
    onFrameChecksums(peer, *checksums);
  } else if (std::holds_alternative<Goodbye>(message)) {
    peer->connection->close("left");
  } else {
    peer->connection->close("sent a message out of place");
  }
}

void Room::onPong(const Peer& peer, const Pong& pong) {
  if (peer.seat != Seat::Pilot) {
    return;
  }
  const auto roundTrip =
      static_cast<int>(std::min<std::uint64_t>(steadyMicroseconds() - pong.timestamp, 60'000'000));
  changeStatus([roundTrip](RoomStatus& status) { status.pilotRoundTripMicroseconds = roundTrip; });
}

void Room::onPilotKeys(const Keys& keys) {
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

void Room::onClosed(const std::shared_ptr<Peer>& peer, const std::string& why) {
  if (peer->seat != Seat::Leaving) {
    unseat(peer, why);
  }
  leaveDuel(*peer);
  peers_.remove(peer);
  if (peers_.empty() && emptied_) {
    emptied_();
  }
}

// A silent terminal's seat is free at once: its goodbye may take a while to
// leave, or never be read.
void Room::onSilent(const std::shared_ptr<Peer>& peer) {
  if (peer->seat == Seat::Leaving) {
    return;
  }
  const std::string why = "went silent (no sign of life for a while)";
  unseat(peer, why);
  peer->connection->sendAndClose(Goodbye{"no sign of life for a while"}, why);
}

void Room::unseat(const std::shared_ptr<Peer>& peer, const std::string& why) {
  logEvent(peer->connection->address() + " left as " + seatName(peer->seat) + " (" + why + ")");
  leaveDuel(*peer);
  if (peer->seat == Seat::Pilot) {
    std::lock_guard lock(shared_);
    pilotKeys_.clear();  // the game must not take the old pilot's keys now
  }
  peer->seat = Seat::Leaving;
  fillFreeSeats();
  noteSeats();
}

std::size_t Room::terminals() const {
  return countSeated(Seat::RoomHost) + countSeated(Seat::Pilot) + countSeated(Seat::Watcher);
}

void Room::countSeats(SeatCounts& seats) const {
  for (const std::shared_ptr<Peer>& peer : peers_) {
    const bool browser = peer->connection->overWebSocket();
    if (peer->seat == Seat::RoomHost || peer->seat == Seat::Pilot) {
      (browser ? seats.browserPilots : seats.terminalPilots) += 1;
    } else if (peer->seat == Seat::Watcher) {
      (browser ? seats.browserWatchers : seats.terminalWatchers) += 1;
    }
  }
}

// The picture is posted to the network's thread once the lock is given up,
// so that the network's thread never waits on a game's post.
void Room::publish(const Screen& screen, bool cursorShown) {
  bool toPost = false;
  {
    std::lock_guard lock(shared_);
    publishedPicture_ = screen;
    if (!cursorShown) {
      publishedPicture_.setCursorShape(false, screen.cursorSizePercent());
    }
    toPost = !picturePosted_ && post_;
    picturePosted_ = picturePosted_ || toPost;
  }
  if (toPost) {
    post_([this] { sendPicture(); });
  }
}

void Room::sendPicture() {
  {
    std::lock_guard lock(shared_);
    picture_ = publishedPicture_;
    picturePosted_ = false;
  }
  for (const std::shared_ptr<Peer>& peer : peers_) {
    if (peer->seat != Seat::Leaving) {
      updatePeer(*peer);
    }
  }
}

// A peer whose output is over half its bound skips pictures and is sent a
// whole one once its output has drained; one that stays behind is let go,
// so that it never holds the game or the others back.
void Room::updatePeer(Peer& peer) {
  if (!peer.connection->isOpen()) {
    return;
  }
  tellSeats(peer);
  // A pilot's terminal in a duel shows its own battle: the pictures would
  // only stand in its keys' way. It is sent the whole picture at the end.
  if (peer.duelShip >= 0) {
    peer.skippedPicture = true;
    peer.picture.holdsPicture = false;
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

void Room::beatHeart() {
  const SteadyTime now = std::chrono::steady_clock::now();
  const std::list<std::shared_ptr<Peer>> peers = peers_;  // closing one changes the list
  for (const std::shared_ptr<Peer>& peer : peers) {
    if (peer->seat == Seat::Leaving) {
      continue;
    }
    if (peer->behindSince && now - *peer->behindSince > options_.behindLimit) {
      peer->connection->close("fell behind the game and was let go");
    } else {
      peer->connection->send(Ping{steadyMicroseconds()});
    }
  }
}

void Room::onDrained(Peer& peer) {
  const bool owedSeats = atServer() && peer.toldSeats != seats_;
  if ((peer.skippedPicture || owedSeats) && peer.seat != Seat::Leaving) {
    updatePeer(peer);
  }
}

void Room::sayGoodbye(const std::string& reason, const std::string& why) {
  const std::list<std::shared_ptr<Peer>> peers = peers_;
  for (const std::shared_ptr<Peer>& peer : peers) {
    peer->seat = Seat::Leaving;  // nobody moves up into a room that is closing
    peer->connection->sendAndClose(Goodbye{reason}, why);
  }
}

// The game is woken under the lock, so that once onNews has changed whom to
// wake, the one before is never woken again (it may be gone).
void Room::changeStatus(const std::function<void(RoomStatus&)>& change) {
  std::lock_guard lock(shared_);
  change(status_);
  status_.changes += 1;
  if (wake_) {
    wake_();
  }
}

void Room::noteSeats() {
  const std::shared_ptr<Peer> pilot = seatedAt(Seat::Pilot);
  const std::string address = pilot ? pilot->connection->address() : "";
  const int watchers = static_cast<int>(countSeated(Seat::Watcher));
  noteDuelSeats();  // before the game is woken to the change
  changeStatus([&](RoomStatus& status) {
    if (!pilot || status.pilotAddress != address || !status.pilotJoined) {
      status.pilotRoundTripMicroseconds = -1;
    }
    status.pilotJoined = pilot != nullptr;
    status.pilotAddress = address;
    status.watchers = watchers;
  });
  if (!pilot && !pilotSeatFreeSince_) {
    pilotSeatFreeSince_ = std::chrono::steady_clock::now();
  } else if (pilot) {
    pilotSeatFreeSince_.reset();
  }
  if (atServer()) {
    seats_ = RoomSeats{pilot != nullptr, static_cast<std::uint16_t>(watchers)};
    for (const std::shared_ptr<Peer>& peer : peers_) {
      if (peer->seat != Seat::Leaving) {
        tellSeats(*peer);
      }
    }
  }
}

// A terminal whose output was full when the seats changed is told once it
// has room again.
void Room::tellSeats(Peer& peer) {
  if (atServer() && peer.toldSeats != seats_ && peer.connection->send(seats_)) {
    peer.toldSeats = seats_;
  }
}

std::shared_ptr<Peer> Room::seatedAt(Seat seat) const {
  for (const std::shared_ptr<Peer>& peer : peers_) {
    if (peer->seat == seat && peer->connection->isOpen()) {
      return peer;
    }
  }
  return nullptr;
}

std::size_t Room::countSeated(Seat seat) const {
  return static_cast<std::size_t>(
      std::count_if(peers_.begin(), peers_.end(), [seat](const std::shared_ptr<Peer>& peer) {
        return peer->seat == seat && peer->connection->isOpen();
      }));
}

void Room::logEvent(const std::string& line) const {
  if (log_) {
    log_("room " + options_.name + ": " + line);
  }
}

void Room::onNews(std::function<void()> wake) {
  std::lock_guard lock(shared_);
  wake_ = std::move(wake);
}

void Room::takeTyped(std::string& bytes) {
  std::lock_guard lock(shared_);
  bytes += pilotKeys_;
  pilotKeys_.clear();
}

void Room::expectKeys(bool expected) {
  std::lock_guard lock(shared_);
  const bool matchOver = keysExpected_ && !expected;
  keysExpected_ = expected;
  if (!expected) {
    pilotKeys_.clear();
  }
  if (matchOver && atServer() && post_) {
    post_([this] { afterTwoPersonMatch(); });
  }
}

bool Room::seated() const {
  std::lock_guard lock(shared_);
  return status_.pilotJoined;
}

RoomStatus Room::status() const {
  std::lock_guard lock(shared_);
  return status_;
}

// Handed to the network's thread, which alone keeps them for the lobby's
// row: listing a thousand rooms never waits for a game that holds its lock.
void Room::tellFacts(const GameFacts& facts) {
  if (post_) {
    post_([this, facts] { facts_ = facts; });
  }
}

// --- The duel ------------------------------------------------------------------------

// The game decides on its own thread whether a duel can begin: it is told
// whenever the seats change.
void Room::noteDuelSeats() {
  const bool leftReady = playsDuels(duelSeatHolder(0));
  const bool rightReady = playsDuels(duelSeatHolder(1));
  std::lock_guard lock(shared_);
  duelSeatsReady_ = {leftReady, rightReady};
}

// The terminal that flies `ship`: at a host the left ship is the host's own
// keyboard, at a server the first keyboard's terminal (a stand-in included).
std::shared_ptr<Peer> Room::duelSeatHolder(int ship) const {
  if (ship == 1) {
    return seatedAt(Seat::Pilot);
  }
  return atServer() ? seatedAt(Seat::RoomHost) : nullptr;
}

bool Room::beginDuel(std::uint16_t correctionFrames, std::uint32_t frame,
                     const std::string& state) {
  if (correctionFrames == 0 || correctionFrames > kMostCorrectionFrames || !isBattleState(state) ||
      !post_) {
    return false;
  }
  {
    std::lock_guard lock(shared_);
    if (!duelSeatsReady_[1] || (atServer() && !duelSeatsReady_[0])) {
      return false;
    }
    duelUnderWay_ = true;
    duelNews_ = DuelNews{};
    untakenKeyFrames_ = {};
    untakenChecksumFrames_ = {};
  }
  post_([this, start = BattleStart{0, correctionFrames, frame, state}] { startDuel(start); });
  return true;
}

// The seats may have changed since the game asked: a ship whose terminal
// is no longer there (or no longer one that plays duels) is gone at once.
void Room::startDuel(const BattleStart& start) {
  for (std::shared_ptr<Peer>& old : duelPeers_) {
    if (old) {
      old->duelShip = -1;
      old->duelOver = true;  // what it still sends of the old duel is dropped
      old.reset();
    }
  }
  std::string pilots;
  for (int ship = 0; ship < 2; ++ship) {
    const std::shared_ptr<Peer> peer = duelSeatHolder(ship);
    if (ship == 0 && !atServer()) {
      continue;  // the host's own keyboard
    }
    if (!playsDuels(peer)) {
      markDuelGone(ship);
      continue;
    }
    peer->duelShip = ship;
    peer->nextKeyFrame = start.frame + 1;
    duelCorrectionFrames_ = start.correctionFrames;
    peer->duelOver = false;
    duelPeers_[static_cast<std::size_t>(ship)] = peer;
    pilots += (pilots.empty() ? "" : " and ") + peer->connection->address();
  }
  logEvent("a duel began at frame " + std::to_string(start.frame) + " (" +
           (pilots.empty() ? "no terminal" : pilots) + ")");
  for (int ship = 0; ship < 2; ++ship) {
    BattleStart own = start;
    own.ship = static_cast<std::uint8_t>(ship);
    sendToDuel(ship, own);
  }
}

void Room::sendFrameKeys(int ship, const FrameKeys& keys) {
  if (ship < 0 || ship > 1 || !post_) {
    return;
  }
  post_([this, ship, keys] { sendToDuel(ship, keys); });
}

void Room::sendRepair(int ship, const BattleRepair& repair) {
  if (ship < 0 || ship > 1 || !post_) {
    return;
  }
  post_([this, ship, repair] { sendToDuel(ship, repair); });
}

// What a duel terminal is sent cannot be skipped as a picture can: one
// that cannot take it is let go.
void Room::sendToDuel(int ship, const Message& message) {
  const std::shared_ptr<Peer> peer = duelPeers_[static_cast<std::size_t>(ship)];
  if (peer && !peer->connection->send(message)) {
    peer->connection->close("fell behind its duel and was let go");
  }
}

void Room::endDuel(std::uint32_t frames) {
  {
    std::lock_guard lock(shared_);
    duelUnderWay_ = false;
    duelNews_ = DuelNews{};
    untakenKeyFrames_ = {};
    untakenChecksumFrames_ = {};
  }
  if (post_) {
    post_([this, frames] { finishDuel(frames); });
  }
}

void Room::finishDuel(std::uint32_t frames) {
  bool any = false;
  for (int ship = 0; ship < 2; ++ship) {
    const std::shared_ptr<Peer> peer = duelPeers_[static_cast<std::size_t>(ship)];
    if (!peer) {
      continue;
    }
    any = true;
    sendToDuel(ship, BattleOver{frames});
    peer->duelShip = -1;
    peer->duelOver = true;
    duelPeers_[static_cast<std::size_t>(ship)].reset();
    updatePeer(*peer);  // the whole picture it shows again
  }
  if (any) {
    logEvent("a duel ended after " + std::to_string(frames) + " frames");
  }
}

DuelNews Room::takeDuelNews() {
  std::lock_guard lock(shared_);
  DuelNews news = std::move(duelNews_);
  duelNews_ = DuelNews{};
  untakenKeyFrames_ = {};
  untakenChecksumFrames_ = {};
  return news;
}

// Keys from one ship's terminal must follow on from the last it sent; at a
// server they go on to the other ship's terminal at once, so that its wait
// for them is one hop, not two.
void Room::onFrameKeys(const std::shared_ptr<Peer>& peer, const FrameKeys& keys) {
  if (!inDuel(peer, "keys")) {
    return;
  }
  if (keys.firstFrame != peer->nextKeyFrame) {
    peer->connection->close("sent a battle's keys out of their order");
    return;
  }
  peer->nextKeyFrame += static_cast<std::uint32_t>(keys.keys.size());
  const int ship = peer->duelShip;
  // A terminal plays no further ahead of the other pilot's keys than a
  // correction reaches; one that sends more would only pile them up here and
  // at the other terminal.
  const std::shared_ptr<Peer>& other = duelPeers_[static_cast<std::size_t>(1 - ship)];
  if (other && peer->nextKeyFrame > other->nextKeyFrame + 2u * duelCorrectionFrames_) {
    peer->connection->close("ran its battle's keys too far ahead of the other pilot's");
    return;
  }
  if (!queueDuelNews(ship, keys)) {
    peer->connection->close("sent more of its duel than the game could take, and was let go");
    return;
  }
  if (atServer()) {
    sendToDuel(1 - ship, keys);
  }
}

void Room::onFrameChecksums(const std::shared_ptr<Peer>& peer, const FrameChecksums& checksums) {
  if (inDuel(peer, "checksums") && !queueDuelNews(peer->duelShip, checksums)) {
    peer->connection->close("sent more of its duel than the game could take, and was let go");
  }
}

// Whether a duel message comes from a terminal of the duel under way. One
// whose duel has ended may still have some on the way; from anyone else it
// is out of place.
bool Room::inDuel(const std::shared_ptr<Peer>& peer, const char* what) {
  if (peer->duelShip >= 0) {
    return true;
  }
  if (!peer->duelOver) {
    peer->connection->close(std::string("sent a battle's ") + what + " with no duel of its own");
  }
  return false;
}

// Queued for the game's thread, unless the game has ended the duel already.
// False when the game has too much of that ship's news untaken.
bool Room::queueDuelNews(int ship, const Message& message) {
  const auto index = static_cast<std::size_t>(ship);
  std::lock_guard lock(shared_);
  if (!duelUnderWay_) {
    return true;
  }
  if (const auto* keys = std::get_if<FrameKeys>(&message)) {
    untakenKeyFrames_[index] += keys->keys.size();
    if (untakenKeyFrames_[index] > kMostUntakenDuelFrames) {
      return false;
    }
    duelNews_.keys[index].push_back(*keys);
  } else if (const auto* checksums = std::get_if<FrameChecksums>(&message)) {
    untakenChecksumFrames_[index] += checksums->checksums.size();
    if (untakenChecksumFrames_[index] > kMostUntakenDuelFrames) {
      return false;
    }
    duelNews_.checksums[index].push_back(*checksums);
  }
  if (wake_) {
    wake_();
  }
  return true;
}

void Room::leaveDuel(Peer& peer) {
  if (peer.duelShip < 0) {
    return;
  }
  const int ship = peer.duelShip;
  peer.duelShip = -1;
  duelPeers_[static_cast<std::size_t>(ship)].reset();
  logEvent(peer.connection->address() + " left its duel");
  markDuelGone(ship);
}

void Room::markDuelGone(int ship) {
  std::lock_guard lock(shared_);
  if (duelUnderWay_) {
    duelNews_.gone[static_cast<std::size_t>(ship)] = true;
    if (wake_) {
      wake_();
    }
  }
}

ListedRoom Room::listing(SteadyTime now) const {
  ListedRoom row;
  row.activity = activityOf(facts_.activity);
  row.leftPilot = listablePilotName(facts_.leftPilot);
  row.rightPilot = listablePilotName(facts_.rightPilot);
  row.leftHitPoints = smallCount(facts_.leftHitPoints);
  row.rightHitPoints = smallCount(facts_.rightHitPoints);
  row.computerLevel = smallCount(facts_.computerLevel);
  row.arcadeWins = static_cast<std::uint16_t>(std::clamp(facts_.arcadeWins, 0, 65535));
  row.name = options_.name;
  row.pilot2Free = pilotSeatFreeSince_.has_value();
  row.watchers = static_cast<std::uint16_t>(countSeated(Seat::Watcher));
  row.openSeconds = static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::seconds>(now - openedAt_).count());
  return row;
}

}  // namespace skyrazor::network
