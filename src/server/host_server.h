#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "console/screen.h"
#include "platform/live/key_clock.h"
#include "platform/network/network_error.h"
#include "server/room.h"

namespace skyrazor::network {

struct HostOptions {
  std::string address;     // empty: every address of this machine, IPv4 and IPv6
  std::uint16_t port = 0;  // 0: any free port
  std::string joinCode;    // what a terminal must give to join or watch
  std::size_t mostWatchers = 32;
  // Connections that have not yet been given a seat (their hello is awaited,
  // or a wrong code's refusal is being held back).
  std::size_t mostWaiting = 16;
  std::chrono::milliseconds helloLimit{5000};
  std::chrono::milliseconds heartbeatPeriod{1000};
  std::chrono::milliseconds silenceLimit{5000};
  // A watcher whose output has stayed over its bound this long is let go.
  std::chrono::milliseconds behindLimit{5000};
  std::size_t mostQueuedBytes = 64 * 1024;
  // After a wrong code from an address, the next hello from it (whatever its
  // code) is answered after this long, and after each further wrong code
  // twice as long as before.
  std::chrono::milliseconds wrongCodeDelay{1000};
  // Connections from one address at a time, and of those how many may wait
  // for their answer at once, so that no one address can keep everybody
  // else from joining; 0: any.
  std::size_t mostPerAddress = 16;
  std::size_t mostWaitingPerAddress = 4;
};

// The host's view of its connections, for its status line.
using HostStatus = RoomStatus;

// The host of a network game: it listens for terminals that join (pilot 2,
// one at a time) or watch, and runs their connections on a thread of its
// own. The game's thread hands it every picture it presents and takes pilot
// 2's keys from it as the second seat of the live keyboard; nothing else from
// the wire reaches the game. Whoever it calls on news (keys, a terminal
// joined or left) must be safe to call from its thread.
class HostServer final : public SeatInbox, public DuelTerminals {
 public:
  // Listens at once, or throws NetworkError.
  explicit HostServer(HostOptions options);
  // Tells every joined terminal that the game has ended, and waits (a short
  // while at most) for that to leave.
  ~HostServer() override;
  HostServer(const HostServer&) = delete;
  HostServer& operator=(const HostServer&) = delete;

  // The port it listens on (the one it was given, or the one it was given
  // when it asked for any).
  std::uint16_t port() const;

  // `wake` is called from the network's thread when keys or news arrive,
  // under the server's lock: it must only wake, not call back into the server.
  void onNews(std::function<void()> wake);

  // The picture as the game presents it; the cursor shows on the joined
  // terminals only with `cursorShown`.
  void publish(const Screen& screen, bool cursorShown);

  // Pilot 2's keys, as the second seat's inbox.
  void takeTyped(std::string& bytes) override;
  void expectKeys(bool expected) override;
  // Whether pilot 2 has joined: until then the host plays both pilots.
  bool seated() const override;

  HostStatus status() const;

  // The duel with pilot 2's terminal, as Room's (the left ship is the host's
  // own keyboard): called on the game's thread.
  bool beginDuel(std::uint16_t correctionFrames, std::uint32_t frame,
                 const std::string& state) override;
  void sendFrameKeys(int ship, const FrameKeys& keys) override;
  void sendRepair(int ship, const BattleRepair& repair) override;
  void endDuel(std::uint32_t frames) override;
  DuelNews takeDuelNews() override;

 private:
  class Network;
  std::unique_ptr<Network> network_;
};

}  // namespace skyrazor::network
