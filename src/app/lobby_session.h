#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/live_platform.h"
#include "app/lobby.h"
#include "console/screen.h"
#include "platform/network/join_client.h"

namespace skyrazor {

// How a player left a server's lobby: for a room that welcomed them, its
// connection, to be followed; else the status to exit with and the line to
// leave with (empty: nothing to say).
struct LobbyExit {
  std::unique_ptr<network::JoinClient> room;
  int exitStatus = 0;
  std::string message;
};

// Opens the connection a choice in the lobby asks for, as any other of this
// terminal's (the same server, the same ssh entrance); it answers later.
using RoomOpener = std::function<std::unique_ptr<network::JoinClient>(const LobbyChoice&)>;
// Opens the lobby's own connection again; it answers later.
using LobbyOpener = std::function<std::unique_ptr<network::JoinClient>()>;

// Shows the lobby of the server `lobby` is welcomed at, on `terminal` (whose
// picture is `screen`), until the player leaves, the connection ends, or a
// room chosen there welcomes the player. The lobby is left before a room is
// asked for, so that a server that lets one address hold a single
// connection still seats its player; a room that refuses says why on the
// lobby's message line, and the lobby is opened again and carries on.
// `serverName` is shown in the title (empty: none known).
LobbyExit runLobby(std::unique_ptr<network::JoinClient> lobby, const LobbyOpener& reopenLobby,
                   const std::string& serverName, const RoomOpener& openRoom,
                   LivePlatform& terminal, Screen& screen);

}  // namespace skyrazor
