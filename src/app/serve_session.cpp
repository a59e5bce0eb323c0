#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/network_sessions.h"
#include "app/network_status.h"
#include "platform/network/network_error.h"
#include "platform/scripted/printable_text.h"
#include "platform/service/service_manager.h"
#include "server/game_server.h"
#include "server/room_games.h"
#include "server/server_log.h"

namespace skyrazor {
namespace {

bool prepareRecordDirectory(const std::string& directory) {
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  return std::filesystem::is_directory(directory, error) && !error;
}

// What systemd is told while the server runs, when systemd started it
// (nothing otherwise): ready once it serves, stopping when it stops, and a
// sign of life from the network thread at least twice in every watchdog
// period while it serves. `status` is read once it serves.
void tellTheServiceManager(network::ServerOptions& options, const std::string& status) {
  options.onServing = [&status] { service::tellReady("serving on " + status); };
  options.onStopping = [] { service::tellStopping(); };
  if (const auto period = service::watchdogPeriod()) {
    options.keepAlive = [] { service::tellWatchdog(); };
    options.keepAlivePeriod = *period / 3;
  }
}

std::string whereServing(const NetworkOptions& network, const network::GameServer& server,
                         bool passedSockets) {
  if (passedSockets) {
    return "the sockets systemd passed (port " + std::to_string(server.port()) + ")";
  }
  return network.address.empty() ? "port " + std::to_string(server.port()) + " of every address"
                                 : endpointText(network.address, server.port());
}

}  // namespace

int serveRooms(const NetworkOptions& network, const ServeOptions& serve) {
  service::PassedSockets passedSockets;
  if (serve.passedSockets) {
    passedSockets = service::listeningSocketsPassed();
    if (passedSockets.network.empty()) {
      std::cerr << "skyrazor: --serve needs [ADDRESS:]PORT, or listening sockets passed by "
                   "systemd (socket activation)\n";
      return 2;
    }
  }
  if (!serve.recordDirectory.empty() && !prepareRecordDirectory(serve.recordDirectory)) {
    std::cerr << "skyrazor: cannot write recordings in '"
              << printableFileName(serve.recordDirectory) << "'\n";
    return 2;
  }
  network::ServerLog log;
  network::RoomGames games(serve.recordDirectory,
                           [&log](const std::string& line) { log.write(line); });
  network::ServerOptions options;
  options.address = network.address;
  options.port = network.port;
  options.mostPerAddress = serve.mostPerAddress;
  options.mostRooms = serve.mostRooms;
  options.localSocket = serve.sshSocket;
  options.webOrigin = serve.webOrigin;
  options.trustedProxy = serve.trustedProxy;
  options.metricsFrom = serve.metricsFrom;
  options.passedSockets = passedSockets.network;
  options.passedLocalSockets = passedSockets.local;
  std::string where;
  tellTheServiceManager(options, where);
  std::unique_ptr<network::GameServer> server;
  try {
    server = std::make_unique<network::GameServer>(
        options, [&games](network::Room& room) { return games.play(room); },
        [&log](const std::string& line) { log.write(line); });
  } catch (const network::NetworkError& error) {
    std::cerr << "skyrazor: " << error.what() << "\n";
    return 1;
  }
  where = whereServing(network, *server, serve.passedSockets) +
          (serve.sshSocket.empty() ? "" : ", and for ssh on " + serve.sshSocket) +
          (passedSockets.local.empty() ? "" : ", and for ssh on the local socket systemd passed");
  log.write("serving on " + where);
  server->serveUntilStopped();
  server.reset();
  log.write("stopped");
  return 0;
}

}  // namespace skyrazor
