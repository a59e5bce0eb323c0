#include "server/lobby.h"

#include <algorithm>

namespace skyrazor::network {
namespace {

// Rows are compared without their open time, which every row's changes each
// second: a lobby counts it on from when the row arrived.
bool sameRow(ListedRoom told, const ListedRoom& now) {
  told.openSeconds = now.openSeconds;
  return told == now;
}

}  // namespace

Lobby::Lobby(LobbyOptions options, Listing listing, EventLog log)
    : options_(options), listing_(std::move(listing)), log_(std::move(log)) {}

void Lobby::seat(const std::shared_ptr<Peer>& peer) {
  peer->home = this;
  peer->seat = Seat::InLobby;
  visitors_[peer.get()] = Visitor{peer, std::nullopt, std::nullopt, {}, false, 0};
  peer->connection->send(Welcome{Role::Lobby, 80, 25, ""});
  peer->connection->watchForSilence(options_.silenceLimit);
  logEvent(peer->connection->address() + " came in");
}

void Lobby::onMessage(const std::shared_ptr<Peer>& peer, Message& message) {
  auto found = visitors_.find(peer.get());
  if (found == visitors_.end()) {
    return;
  }
  if (const LobbyView* view = std::get_if<LobbyView>(&message)) {
    onView(found->second, *view);
  } else if (const Ping* ping = std::get_if<Ping>(&message)) {
    peer->connection->send(Pong{ping->timestamp});
  } else if (std::holds_alternative<Pong>(message)) {
    // a sign of life is all it is
  } else if (std::holds_alternative<Goodbye>(message)) {
    peer->connection->close("left");
  } else {
    peer->connection->close("sent a message out of place");
  }
}

// A page turned is shown at once, as long as the lobby keeps to its share of
// listings; past that, the tick tells it.
void Lobby::onView(Visitor& visitor, const LobbyView& view) {
  if (visitor.view != view) {
    visitor.view = view;
    visitor.owed = true;
  }
  if (visitor.owed && visitor.listingsThisSecond < options_.mostListingsPerSecond) {
    tell(visitor, listing_());
  }
}

// The rows of its view that changed since it was told, and the count of
// listed rooms when that changed; nothing when nothing did. A lobby whose
// output is over half its bound is told later, once it has drained.
void Lobby::tell(Visitor& visitor, const std::vector<ListedRoom>& listing) {
  Peer& peer = *visitor.peer;
  if (!visitor.view || !peer.connection->isOpen()) {
    return;
  }
  if (peer.connection->queuedBytes() > options_.mostQueuedBytes / 2) {
    visitor.owed = true;
    if (!peer.behindSince) {
      peer.behindSince = std::chrono::steady_clock::now();
    }
    return;
  }
  LobbyRooms news;
  news.listed = static_cast<std::uint16_t>(std::min<std::size_t>(listing.size(), 65535));
  const std::size_t first = visitor.view->firstIndex;
  const std::size_t end = std::min(listing.size(), first + visitor.view->rows);
  for (std::size_t index = first; index < end; ++index) {
    const auto key = static_cast<std::uint16_t>(index);
    auto told = visitor.toldRows.find(key);
    if (told == visitor.toldRows.end() || !sameRow(told->second, listing[index])) {
      news.rows.emplace_back(key, listing[index]);
    }
  }
  if (news.rows.empty() && visitor.toldListed == news.listed) {
    visitor.owed = false;
    return;
  }
  if (!peer.connection->send(news)) {
    visitor.owed = true;
    return;
  }
  // Only the rows in view are remembered: a page turned back is told whole.
  visitor.toldRows.clear();
  for (std::size_t index = first; index < end; ++index) {
    visitor.toldRows.emplace(static_cast<std::uint16_t>(index), listing[index]);
  }
  visitor.toldListed = news.listed;
  visitor.owed = false;
  visitor.listingsThisSecond += 1;
  peer.behindSince.reset();
}

void Lobby::onClosed(const std::shared_ptr<Peer>& peer, const std::string& why) {
  if (visitors_.erase(peer.get()) != 0) {
    logEvent(peer->connection->address() + " left (" + why + ")");
  }
}

void Lobby::onDrained(Peer& peer) {
  auto found = visitors_.find(&peer);
  if (found != visitors_.end() && found->second.owed) {
    tell(found->second, listing_());
  }
}

void Lobby::onSilent(const std::shared_ptr<Peer>& peer) {
  const std::string why = "went silent (no sign of life for a while)";
  peer->seat = Seat::Leaving;
  peer->connection->sendAndClose(Goodbye{"no sign of life for a while"}, why);
}

bool Lobby::isBehind(const Visitor& visitor, SteadyTime now) const {
  const Peer& peer = *visitor.peer;
  return peer.behindSince && now - *peer.behindSince > options_.behindLimit;
}

void Lobby::tick() {
  if (visitors_.empty()) {
    return;
  }
  const SteadyTime now = std::chrono::steady_clock::now();
  const std::vector<ListedRoom>& listing = listing_();
  std::vector<std::shared_ptr<Peer>> behind;
  for (auto& [key, visitor] : visitors_) {
    visitor.listingsThisSecond = 0;
    if (isBehind(visitor, now)) {
      behind.push_back(visitor.peer);
      continue;
    }
    tell(visitor, listing);
    visitor.peer->connection->send(Ping{steadyMicroseconds()});
  }
  // Closing changes the visitors, so only once they are all seen.
  for (const std::shared_ptr<Peer>& peer : behind) {
    peer->connection->close("fell behind the lobby and was let go");
  }
}

void Lobby::sayGoodbye(const std::string& reason) {
  std::vector<std::shared_ptr<Peer>> peers;
  for (const auto& [key, visitor] : visitors_) {
    peers.push_back(visitor.peer);
  }
  for (const std::shared_ptr<Peer>& peer : peers) {
    peer->seat = Seat::Leaving;
    peer->connection->sendAndClose(Goodbye{reason}, "the server stopped");
  }
}

void Lobby::logEvent(const std::string& line) const {
  if (log_) {
    log_("lobby: " + line);
  }
}

}  // namespace skyrazor::network
