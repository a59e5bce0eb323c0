#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/network/boost_asio.h"
#include "platform/network/peer_connection.h"
#include "platform/network/screen_updates.h"
#include "server/peer_home.h"

namespace skyrazor::network {

// Where a terminal sits. Waiting: its hello is awaited, or its answer held
// back. Leaving: another terminal took its seat, or the room let it go, and
// its goodbye is on its way out.
enum class Seat : int { Waiting, RoomHost, Pilot, Watcher, InLobby, Leaving };

// One joined or joining terminal, on the network's thread.
struct Peer {
  Peer(std::shared_ptr<PeerConnection> connection, asio::any_io_executor executor)
      : connection(std::move(connection)), helloTimer(std::move(executor)) {}
  std::shared_ptr<PeerConnection> connection;
  // Who it counts as for the limits per address (guesserOf its address): the
  // player's own address for one the server's ssh entrance vouched for.
  // Empty while not yet counted (a local connection before its hello).
  std::string limitAddress;
  // It came on the server's local socket: only such a hello may say where
  // its player really is.
  bool local = false;
  Seat seat = Seat::Waiting;
  // The protocol version its hello spoke: it is never sent a newer message.
  std::uint16_t version = 0;
  // The ship it flies in the room's duel under way (0 left, 1 right), if any.
  int duelShip = -1;
  // The first battle frame whose keys it has yet to send in that duel.
  std::uint32_t nextKeyFrame = 1;
  // Its duel has ended (or it was sent one that did): duel messages it sent
  // before it heard so are dropped without a fuss.
  bool duelOver = false;
  // It joined to play, not only to watch: a free pilot's seat may go to it.
  bool askedToPlay = false;
  // It holds the first keyboard only until the two-person match under way
  // is over, flying the left ship that the room's host left behind.
  bool standsIn = false;
  // Its first message has come: a waiting peer says nothing more until it is
  // answered.
  bool heardFirst = false;
  asio::steady_timer helloTimer;
  PeerHome* home = nullptr;  // once seated; the room or lobby outlives its peers
  PeerPicture picture;
  // A picture was skipped while its output was over the bound: the next one
  // it is sent is whole.
  bool skippedPicture = false;
  std::optional<SteadyTime> behindSince;
  // What it was last told of who sits in its room (at a server).
  std::optional<RoomSeats> toldSeats;
};

}  // namespace skyrazor::network
