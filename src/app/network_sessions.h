#pragma once

#include "app/command_line.h"
#include "platform/scripted/script_recorder.h"

namespace skyrazor {

// Plays the game at this terminal as usual while another terminal may join
// as pilot 2 and others watch; with a recorder, records both keyboards.
// Gives the status to exit with.
int hostOnTerminal(const NetworkOptions& network, ScriptRecorder* recorder);

// Joins a host's game at this terminal, as pilot 2 or as a watcher, until
// the host ends it, the connection is lost or the player leaves.
int joinOnTerminal(const NetworkOptions& network, bool asPilot);

// Serves rooms of the network game, each its own game, until SIGINT or
// SIGTERM. Gives the status to exit with.
int serveRooms(const NetworkOptions& network, const ServeOptions& serve);

}  // namespace skyrazor
