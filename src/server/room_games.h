#pragma once

#include <functional>
#include <string>

#include "server/room.h"

namespace skyrazor::network {

// Each room's game, the whole game as one terminal plays it, with the room's
// terminals as its keyboards and its display; recorded, one file a room
// session, when a directory for recordings is given. A server's RoomPlayer.
class RoomGames {
 public:
  using EventLog = std::function<void(const std::string&)>;

  // `recordDirectory` empty: nothing is recorded. It must exist.
  RoomGames(std::string recordDirectory, EventLog log);

  // The whole game for one room, on the room's own thread, until it ends or
  // the room's first keyboard is closed; gives a few words on how evenly
  // its battles ran. Nothing that goes wrong in it may take the server
  // down: it ends that room only.
  std::string play(Room& room);

 private:
  std::string playUnrecorded(Room& room);
  std::string playRecorded(Room& room);
  // A duel's lines for the server's log, naming the room.
  EventLog roomLog(const Room& room) const;

  std::string recordDirectory_;
  EventLog log_;
};

}  // namespace skyrazor::network
