#pragma once

#include <memory>
#include <optional>

#include "asio.hpp"
#include "platform/network/peer_connection.h"
#include "platform/network/screen_updates.h"

namespace skyrazor::network {

class Room;

// Where a terminal sits. Waiting: its hello is awaited, or its answer held
// back. Leaving: another terminal took its seat, or the room let it go, and
// its goodbye is on its way out.
enum class Seat : int { Waiting, RoomHost, Pilot, Watcher, Leaving };

// One joined or joining terminal, on the network's thread.
struct Peer {
  Peer(std::shared_ptr<PeerConnection> connection, asio::any_io_executor executor)
      : connection(std::move(connection)), helloTimer(std::move(executor)) {}
  std::shared_ptr<PeerConnection> connection;
  Seat seat = Seat::Waiting;
  // It joined to play, not only to watch: a free pilot's seat may go to it.
  bool askedToPlay = false;
  // Its first message has come: a waiting peer says nothing more until it is
  // answered.
  bool heardFirst = false;
  asio::steady_timer helloTimer;
  Room* room = nullptr;  // once seated; the room outlives its peers
  PeerPicture picture;
  // A picture was skipped while its output was over the bound: the next one
  // it is sent is whole.
  bool skippedPicture = false;
  std::optional<SteadyTime> behindSince;
  // What it was last told of who sits in its room (at a server).
  std::optional<RoomSeats> toldSeats;
};

}  // namespace skyrazor::network
