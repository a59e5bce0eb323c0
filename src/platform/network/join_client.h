#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "console/screen.h"
#include "platform/network/wire_format.h"

namespace skyrazor::network {

struct JoinOptions {
  std::string host;  // a name or an address
  std::uint16_t port = 0;
  Role role = Role::Pilot;
  std::string joinCode;
  // At a server: the room to join, or empty for a new private one; with
  // NewNamed, the name of a new room to open. Role::Lobby asks for the
  // server's lobby (at a host: pilot 2's seat).
  std::string roomName;
  RoomWanted roomWanted = RoomWanted::Named;
  // Instead of host and port: the server's local socket (its ssh entrance),
  // and where the player came from, which the server believes only there.
  std::string localSocket;
  std::string playerAddress;
  std::chrono::milliseconds connectLimit{5000};
  // After wrong guesses from an address, a host answers even a right one
  // only after a while. The wait for the answer allows the longest such
  // hold, and the link's round trip on top: a few times the connect's own
  // duration (about one round trip), at least linkAllowance (a connect
  // through a proxy says little of the link beyond it) and at most
  // connectLimit.
  std::chrono::milliseconds answerLimit{kLongestHeldAnswer};
  std::chrono::milliseconds linkAllowance{2000};
  std::chrono::milliseconds heartbeatPeriod{1000};
  std::chrono::milliseconds silenceLimit{5000};
  std::size_t mostQueuedBytes = 16 * 1024;
  // The version its hello speaks: kOldestServedVersion for a terminal of the
  // one before duels (in tests), which is then never sent a duel.
  std::uint16_t protocolVersion = kProtocolVersion;
};

// What the host sends a pilot's terminal about a duel it plays.
using DuelMessage = std::variant<BattleStart, FrameKeys, BattleRepair, BattleOver>;

// Where a joined terminal's connection stands, for its status line and for
// the line it leaves with.
struct JoinState {
  enum class Phase { Connecting, Joined, Ended };
  Phase phase = Phase::Connecting;
  // Once ended: why, in the player's words, and whether the host said
  // goodbye (the game is over) rather than refused or vanished.
  std::string endReason;
  bool endedByHost = false;
  // Refused for want of the host's join code: none was given, or a wrong one.
  bool refusedForCode = false;
  int roundTripMicroseconds = -1;  // -1 until measured
  // Once joined: the seat given (a server's room may move it up later) and,
  // at a server, the room's name.
  Role seat = Role::Watcher;
  std::string roomName;
  // At a server: who sits in the room, once told.
  std::optional<RoomSeats> roomSeats;
  std::uint64_t changes = 0;
};

// A server's listing as a lobby holds it: how many rooms are listed, and
// the rows it was told of, by index, each with the moment it arrived (its
// open time counts on from there).
struct LobbyListing {
  struct Row {
    ListedRoom room;
    std::chrono::steady_clock::time_point arrived;
  };
  std::uint16_t listed = 0;
  std::map<std::uint16_t, Row> rows;
};

// A terminal joined to a host: pilot 2, who sends keys, or a watcher. It
// connects, says hello and then keeps the host's picture, all on a thread of
// its own; the terminal's thread takes the picture when it changes and hands
// it the keys typed. Whoever it calls on news must be safe to call from its
// thread.
class JoinClient {
 public:
  explicit JoinClient(JoinOptions options);
  // Says goodbye to the host (a short while at most) and stops.
  ~JoinClient();
  JoinClient(const JoinClient&) = delete;
  JoinClient& operator=(const JoinClient&) = delete;

  // `wake` is called from the network's thread when the picture or the state
  // changes, under the client's lock: it must only wake, not call back in.
  void onNews(std::function<void()> wake);

  // Sends keys typed at this terminal (one that joined to play).
  void sendKeys(std::string_view keys);

  // Copies the host's picture into `screen` when it changed since the last
  // call, and says whether it did.
  bool takePicture(Screen& screen);

  // In a server's lobby: which rows of the listing to be told of.
  void viewLobby(const LobbyView& view);
  // Copies the lobby's listing into `listing` when it changed since the last
  // call, and says whether it did.
  bool takeLobby(LobbyListing& listing);

  // The duel's messages from the host, in the order they came, since the
  // last call: appended to `out`.
  void takeDuelMessages(std::vector<DuelMessage>& out);
  // This terminal's pilot's keys in the duel, and its checksums of the
  // frames it has final.
  void sendFrameKeys(const FrameKeys& keys);
  void sendChecksums(const FrameChecksums& checksums);

  JoinState state() const;
  // Waits until the host has answered (welcomed or refused) or cannot be
  // reached; the connect and answer limits bound the wait.
  JoinState awaitAnswer();

 private:
  class Network;
  std::unique_ptr<Network> network_;
};

}  // namespace skyrazor::network
