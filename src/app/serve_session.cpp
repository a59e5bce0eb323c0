#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "app/network_sessions.h"
#include "app/network_status.h"
#include "platform/network/network_error.h"
#include "platform/scripted/printable_text.h"
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

}  // namespace

int serveRooms(const NetworkOptions& network, const ServeOptions& serve) {
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
  std::unique_ptr<network::GameServer> server;
  try {
    server = std::make_unique<network::GameServer>(
        options, [&games](network::Room& room) { return games.play(room); },
        [&log](const std::string& line) { log.write(line); });
  } catch (const network::NetworkError& error) {
    std::cerr << "skyrazor: " << error.what() << "\n";
    return 1;
  }
  const std::string where =
      network.address.empty() ? "every address" : endpointText(network.address, server->port());
  log.write("serving on " +
            (network.address.empty() ? "port " + std::to_string(server->port()) + " of " + where
                                     : where) +
            (serve.sshSocket.empty() ? "" : ", and for ssh on " + serve.sshSocket));
  server->serveUntilStopped();
  server.reset();
  log.write("stopped");
  return 0;
}

}  // namespace skyrazor
