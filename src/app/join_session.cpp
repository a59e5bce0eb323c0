#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "app/duel_log.h"
#include "app/joined_duel.h"
#include "app/live_platform.h"
#include "app/lobby.h"
#include "app/lobby_session.h"
#include "app/network_sessions.h"
#include "app/network_status.h"
#include "console/screen.h"
#include "platform/network/join_client.h"
#include "platform/network/join_code.h"

namespace skyrazor {
namespace {

using network::JoinClient;
using network::JoinState;

// Ctrl-D (Ctrl-Z in a Windows console) leaves a joined game, as it ends the
// game at its host.
constexpr unsigned char kLeaveKey = LivePlatform::kEndOfInputKey;

bool outputIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stdout)) != 0;
#else
  return isatty(STDOUT_FILENO) != 0;
#endif
}

// A join code typed wrong is asked for again, this many codes in all: over
// ssh, the game is all the player's session has.
constexpr int kJoinCodeTries = 3;

// Asked on the terminal, before the game's picture takes it over, naming
// the host it is for.
std::optional<std::string> askJoinCode(const std::string& host) {
  std::cout << "Join code for " << host << ": " << std::flush;
  std::string code;
  if (!std::getline(std::cin, code)) {
    std::cout << "\n";
    return std::nullopt;
  }
  while (!code.empty() && (code.back() == '\r' || code.back() == ' ')) {
    code.pop_back();
  }
  return code;
}

// This terminal's seat in a server's room; its host also learns whether
// pilot 2 has come, so as to know when a two-person game can start.
std::string roomSeatText(const JoinState& state) {
  if (state.seat == network::Role::Pilot) {
    return "pilot 2";
  }
  if (state.seat == network::Role::Watcher) {
    return "watching";
  }
  if (!state.roomSeats) {
    return "you host";
  }
  return state.roomSeats->pilotSeated ? "you host, pilot 2 here" : "you host, no pilot 2 yet";
}

// At a host: whose seat and where. In a server's room: the room's name
// first, so that it can be passed on, then the seat and who watches (the
// server's address adds nothing there: over ssh it is the server's own).
std::string statusLine(const JoinState& state, const std::string& host) {
  const std::string roundTrip = roundTripText(state.roundTripMicroseconds);
  if (state.roomName.empty()) {
    return (state.seat == network::Role::Pilot ? "Pilot 2 at " : "Watching ") + host + " - " +
           roundTrip;
  }
  const int watchers = state.roomSeats ? state.roomSeats->watchers : 0;
  return "Room " + state.roomName + " - " + roomSeatText(state) + watchersText(watchers) + " - " +
         roundTrip;
}

// Whether this terminal's keys reach a keyboard of the game.
bool holdsKeyboard(const JoinState& state) {
  return state.seat == network::Role::Pilot || state.seat == network::Role::RoomHost;
}

// What ended a joined game, for the line the player is left with.
struct JoinEnd {
  int exitStatus = 0;
  std::string message;  // empty: nothing to say
};

// How long the host's messages take to get here: half the round trip,
// once measured.
std::int64_t oneWayMs(const JoinState& state) {
  return state.roundTripMicroseconds < 0 ? 0 : state.roundTripMicroseconds / 2000;
}

// This pilot's duels: the battles the host hands over, played here.
class DuelSeat {
 public:
  DuelSeat(JoinClient& client, LivePlatform& terminal, Screen& screen, DuelLog& log)
      : client_(client), terminal_(terminal), screen_(screen), log_(log) {}
  // Leaving in a duel (the host ended, the player left) still notes its
  // figures so far.
  ~DuelSeat() {
    if (duel_) {
      log_.note("duel: left at frame " + std::to_string(duel_->figures().frames));
      log_.figures(duel_->figures());
    }
  }
  DuelSeat(const DuelSeat&) = delete;
  DuelSeat& operator=(const DuelSeat&) = delete;

  bool inDuel() const { return duel_.has_value(); }

  // The host's duel messages; the picture shows again when a duel is over.
  void takeNews(const JoinState& state, const Screen& hostPicture) {
    messages_.clear();
    client_.takeDuelMessages(messages_);
    const std::int64_t now = terminal_.wallMs();
    for (const network::DuelMessage& message : messages_) {
      if (const auto* start = std::get_if<network::BattleStart>(&message)) {
        duel_ = JoinedDuel::begin(*start, now, oneWayMs(state));
        if (!duel_) {
          log_.note("duel: the host's battle could not be played here; its picture shows");
        }
      } else if (const auto* keys = std::get_if<network::FrameKeys>(&message)) {
        if (duel_ && !duel_->takeOtherKeys(*keys, now)) {
          giveUp("the other pilot's keys came out of order", hostPicture);
        }
      } else if (const auto* repair = std::get_if<network::BattleRepair>(&message)) {
        log_.note("duel: this terminal drifted from the host's battle; repaired from frame " +
                  std::to_string(repair->frame));
        if (duel_ && !duel_->repair(*repair)) {
          giveUp("the host's repair could not be played here", hostPicture);
        }
      } else if (std::holds_alternative<network::BattleOver>(message) && duel_) {
        log_.figures(duel_->figures());
        duel_.reset();
        showHostPicture(hostPicture);
      }
    }
  }

  // Plays the frames due, sends what they give the host, shows the battle.
  void play(const JoinState& state) {
    if (!duel_) {
      return;
    }
    JoinedDuel::ToSend toSend = duel_->playDueFrames(terminal_.wallMs(), oneWayMs(state));
    for (const network::FrameKeys& keys : toSend.keys) {
      client_.sendFrameKeys(keys);
    }
    for (const network::FrameChecksums& checksums : toSend.checksums) {
      client_.sendChecksums(checksums);
    }
    if (duel_->takeViewChanged()) {
      screen_ = duel_->view();
      terminal_.typingLine(false);
      terminal_.present();
    }
  }

  void keysTyped(const std::string& typed) {
    for (char key : typed) {
      duel_->keyTyped(static_cast<unsigned char>(key));
    }
  }

  // Until the next frame is due, or news comes.
  void wait() {
    const std::int64_t now = terminal_.wallMs();
    terminal_.waitUntil(duel_->nextFrameDue().value_or(now + kLongestWaitMs));
  }

 private:
  // Without a frame due, news is still looked for this often.
  static constexpr std::int64_t kLongestWaitMs = 250;

  void giveUp(const std::string& why, const Screen& hostPicture) {
    log_.note("duel: " + why + "; the host's picture shows");
    duel_.reset();
    showHostPicture(hostPicture);
  }
  void showHostPicture(const Screen& hostPicture) {
    screen_ = hostPicture;
    terminal_.typingLine(screen_.cursorVisible());
    terminal_.present();
  }

  JoinClient& client_;
  LivePlatform& terminal_;
  Screen& screen_;
  DuelLog& log_;
  std::optional<JoinedDuel> duel_;
  std::vector<network::DuelMessage> messages_;
};

// Shows the host's picture as it comes on `terminal` (whose picture is
// `screen`) and sends what is typed, until the game ends one way or another.
// In a duel it shows the battle this pilot plays instead.
JoinEnd followHost(JoinClient& client, const std::string& host, LivePlatform& terminal,
                   Screen& screen, DuelLog& duelLog) {
  client.onNews([&terminal] { terminal.wake(); });
  NewsStop newsStop(client);
  std::uint64_t shownChanges = 0;
  bool typedYet = false;
  bool shownOverPicture = false;
  // Who sat where when last shown; none yet, so that taking a seat shows too.
  std::optional<std::pair<network::Role, std::optional<network::RoomSeats>>> shownSeats;
  Screen hostPicture(screen.columns(), screen.rows());
  DuelSeat duel(client, terminal, screen, duelLog);
  try {
    for (;;) {
      JoinState state = client.state();
      if (state.phase == JoinState::Phase::Ended) {
        return {state.endedByHost ? 0 : 1, state.endReason};
      }
      // A room's host must see the room's name to pass it on, even in a
      // window with no row below the picture: over the picture's bottom row
      // until the host's first key.
      const bool overPicture = state.seat == network::Role::RoomHost && !typedYet;
      if (state.changes != shownChanges || overPicture != shownOverPicture) {
        shownChanges = state.changes;
        shownOverPicture = overPicture;
        terminal.showStatus(statusLine(state, host), overPicture);
        // A change of seats is brought up even over the picture, a while.
        const auto seats = std::make_pair(state.seat, state.roomSeats);
        if (seats != shownSeats) {
          shownSeats = seats;
          terminal.bringUpStatus();
        }
      }
      if (client.takePicture(hostPicture) && !duel.inDuel()) {
        screen = hostPicture;
        terminal.typingLine(screen.cursorVisible());
        terminal.present();
      }
      duel.takeNews(state, hostPicture);
      duel.play(state);
      std::string typed;
      if (duel.inDuel()) {
        duel.wait();
        terminal.takeTyped(typed, false);
      } else {
        terminal.takeTyped(typed, terminal.waitForInput());
      }
      if (typed.find(static_cast<char>(kLeaveKey)) != std::string::npos) {
        return {0, ""};
      }
      if (holdsKeyboard(state) && !typed.empty()) {
        if (duel.inDuel()) {
          duel.keysTyped(typed);
        } else {
          client.sendKeys(typed);
        }
        typedYet = true;
      }
    }
  } catch (const SessionEnded& ended) {
    return {ended.exitStatus, ""};
  }
}

// Says where it is connecting on the terminal, which shows nothing else
// until the answer comes (a host may hold it back for seconds after wrong
// codes, and a slow link adds its round trip); only on a terminal, so that
// a refusal on a script's standard output stays the one line on its error.
void sayConnecting(const std::string& host) {
  if (outputIsTerminal()) {
    std::cout << "Connecting to " << host << "...\n" << std::flush;
  }
}

// What this terminal asks the host or server at `network` for: every
// connection it makes goes the same way (through the ssh entrance's local
// socket, saying where the player came from, when it came that way).
network::JoinOptions joinOptions(const NetworkOptions& network, network::Role role,
                                 network::RoomWanted wanted, const std::string& roomName) {
  network::JoinOptions options;
  options.host = network.address;
  options.port = network.port;
  options.role = role;
  options.joinCode = network::normalJoinCode(network.joinCode);
  options.roomName = roomName;
  options.roomWanted = wanted;
  options.localSocket = network.localSocket;
  options.playerAddress = network.playerAddress;
  // A player who came in over ssh sits far from this terminal, which runs on
  // the server's own machine: a duel played here would show them the other
  // pilot's corrections, not their own keys any sooner. They are shown the
  // room's picture, as a terminal of the protocol before duels is.
  if (!network.localSocket.empty()) {
    options.protocolVersion = network::kOldestServedVersion;
  }
  return options;
}

// Joins with the code given, or none; a host that wants a code it was not
// given is asked again with the one the player types, and a typed code the
// host turns down is asked for again, kJoinCodeTries typed codes in all.
// Null when the player gave none; an ended state when the host cannot be
// joined.
std::unique_ptr<JoinClient> connect(const NetworkOptions& network, network::Role role,
                                    JoinState& answer) {
  network::JoinOptions options = joinOptions(
      network, role, network.newRoom ? network::RoomWanted::NewNamed : network::RoomWanted::Named,
      network.roomName);
  // The ssh entrance's local socket is a server's, on its own machine.
  const std::string host = network.localSocket.empty() ? endpointText(network.address, network.port)
                                                       : std::string("the server");
  sayConnecting(host);
  auto client = std::make_unique<JoinClient>(options);
  answer = client->awaitAnswer();
  const bool codeGiven = !options.joinCode.empty();
  for (int typed = 0; answer.refusedForCode && !codeGiven && typed < kJoinCodeTries; ++typed) {
    client.reset();
    if (typed > 0) {
      std::cerr << "skyrazor: " << answer.endReason << "\n";
    }
    std::optional<std::string> asked = askJoinCode(host);
    if (!asked || asked->empty()) {
      return nullptr;
    }
    options.joinCode = network::normalJoinCode(*asked);
    sayConnecting(host);
    client = std::make_unique<JoinClient>(options);
    answer = client->awaitAnswer();
  }
  return client;
}

// The server's lobby, then the room chosen there, on the one terminal.
// The lobby goes as the room welcomes the player.
JoinEnd visitLobby(std::unique_ptr<JoinClient> lobby, const NetworkOptions& network,
                   const std::string& host, LivePlatform& terminal, Screen& screen,
                   DuelLog& duelLog) {
  const std::string serverName =
      network.localSocket.empty() ? endpointText(network.address, network.port) : "";
  auto openRoom = [&network](const LobbyChoice& choice) {
    return std::make_unique<JoinClient>(
        joinOptions(network, choice.role, choice.wanted, choice.roomName));
  };
  auto reopenLobby = [&network] {
    return std::make_unique<JoinClient>(
        joinOptions(network, network::Role::Lobby, network::RoomWanted::Named, ""));
  };
  LobbyExit exit;
  try {
    exit = runLobby(std::move(lobby), reopenLobby, serverName, openRoom, terminal, screen);
  } catch (const SessionEnded& ended) {
    return {ended.exitStatus, ""};
  }
  if (!exit.room) {
    return {exit.exitStatus, exit.message};
  }
  return followHost(*exit.room, host, terminal, screen, duelLog);
}

}  // namespace

int joinOnTerminal(const NetworkOptions& network, bool asPilot) {
  // A player who names no room meets the server's lobby, to choose one
  // there; a host of one game, which has none, seats them as pilot 2.
  const bool toLobby = asPilot && network.roomName.empty() && !network.newRoom;
  const network::Role role = toLobby   ? network::Role::Lobby
                             : asPilot ? network::Role::Pilot
                                       : network::Role::Watcher;
  JoinState answer;
  std::unique_ptr<JoinClient> client = connect(network, role, answer);
  if (!client) {
    std::cerr << "skyrazor: no join code given\n";
    return 2;
  }
  if (answer.phase == JoinState::Phase::Ended) {
    std::cerr << "skyrazor: " << answer.endReason << "\n";
    return 1;
  }
  const std::string host = endpointText(network.address, network.port);
  JoinEnd end;
  try {
    // Goes after the terminal is given back, to tell of a log it could not write.
    DuelLog duelLog(network.duelLog);
    Screen screen(80, 25);
    LivePlatform terminal(screen);
    end = answer.seat == network::Role::Lobby
              ? visitLobby(std::move(client), network, host, terminal, screen, duelLog)
              : followHost(*client, host, terminal, screen, duelLog);
  } catch (const TerminalUnavailable& unavailable) {
    std::cerr << "skyrazor: " << unavailable.what() << "\n";
    return 1;
  }
  if (!end.message.empty()) {
    std::cerr << "skyrazor: " << end.message << "\n";
  }
  return end.exitStatus;
}

}  // namespace skyrazor
