#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/network/wire_format.h"
#include "server/peer.h"

namespace skyrazor::network {

struct LobbyOptions {
  std::chrono::milliseconds silenceLimit{5000};
  // A lobby whose output has stayed over its bound this long is let go.
  std::chrono::milliseconds behindLimit{5000};
  std::size_t mostQueuedBytes = 64 * 1024;
  // A lobby is sent at most this many listings a second, however often it
  // turns its page: the server's tick sends it the rest.
  int mostListingsPerSecond = 8;
};

// The server's front room: terminals that look at the listed rooms before
// entering one. Each asks for the rows it shows (its view) and is sent the
// rows of it that changed since it was last told, at once when it turns its
// page and then with the server's tick, so that what one terminal is sent is
// bounded by what it shows. Entering a room is a new connection with its own
// hello; a lobby only ever looks. All on the network's thread.
class Lobby final : public PeerHome {
 public:
  // The listed rooms, in the order they opened, as of the server's last
  // tick or the last room opened or closed.
  using Listing = std::function<const std::vector<ListedRoom>&()>;
  using EventLog = std::function<void(const std::string&)>;

  Lobby(LobbyOptions options, Listing listing, EventLog log);
  Lobby(const Lobby&) = delete;
  Lobby& operator=(const Lobby&) = delete;

  // Welcomes a terminal whose hello asked for the lobby.
  void seat(const std::shared_ptr<Peer>& peer);
  void onMessage(const std::shared_ptr<Peer>& peer, Message& message) override;
  void onClosed(const std::shared_ptr<Peer>& peer, const std::string& why) override;
  void onDrained(Peer& peer) override;
  void onSilent(const std::shared_ptr<Peer>& peer) override;

  // The server's tick: every lobby is told what changed in its view, pinged,
  // and let go if it stayed behind.
  void tick();
  void sayGoodbye(const std::string& reason);
  std::size_t size() const { return visitors_.size(); }

 private:
  struct Visitor {
    std::shared_ptr<Peer> peer;
    std::optional<LobbyView> view;  // none until it asks
    std::optional<std::uint16_t> toldListed;
    std::map<std::uint16_t, ListedRoom> toldRows;
    bool owed = false;  // its view changed while it could not be told
    int listingsThisSecond = 0;
  };

  void onView(Visitor& visitor, const LobbyView& view);
  void tell(Visitor& visitor, const std::vector<ListedRoom>& listing);
  bool isBehind(const Visitor& visitor, SteadyTime now) const;
  void logEvent(const std::string& line) const;

  LobbyOptions options_;
  Listing listing_;
  EventLog log_;
  std::map<const Peer*, Visitor> visitors_;
};

}  // namespace skyrazor::network
