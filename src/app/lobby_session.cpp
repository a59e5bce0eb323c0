#include "app/lobby_session.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <utility>

#include "app/network_status.h"

namespace skyrazor {
namespace {

using network::JoinClient;
using network::JoinState;

// Ctrl-D (Ctrl-Z in a Windows console) leaves the lobby, as it leaves a
// joined game.
constexpr unsigned char kLeaveKey = LivePlatform::kEndOfInputKey;

// What the message line says while the server answers a choice.
std::string waitingText(const LobbyChoice& choice) {
  switch (choice.wanted) {
    case network::RoomWanted::QuickMatch:
      return "Looking for a match...";
    case network::RoomWanted::NewListed:
      return "Opening a new room...";
    case network::RoomWanted::Named:
    case network::RoomWanted::NewNamed:
      break;
  }
  if (choice.roomName.empty()) {
    return "Opening a private room...";
  }
  return (choice.role == network::Role::Watcher ? "Going to watch room " : "Joining room ") +
         choice.roomName + "...";
}

// A refusal's reason as a line of its own on the lobby: from a capital.
std::string asLine(std::string reason) {
  if (!reason.empty() && reason.front() >= 'a' && reason.front() <= 'z') {
    reason.front() = static_cast<char>(reason.front() - 'a' + 'A');
  }
  return reason;
}

// The arrows and page keys reach the lobby while it is shown, and only then:
// the room's game, which follows on the same terminal, never sees them.
class NavigationKeys {
 public:
  explicit NavigationKeys(LivePlatform& terminal) : terminal_(terminal) {
    terminal_.passNavigationKeys(true);
  }
  ~NavigationKeys() { terminal_.passNavigationKeys(false); }
  NavigationKeys(const NavigationKeys&) = delete;
  NavigationKeys& operator=(const NavigationKeys&) = delete;

 private:
  LivePlatform& terminal_;
};

}  // namespace

LobbyExit runLobby(std::unique_ptr<JoinClient> lobby, const LobbyOpener& reopenLobby,
                   const std::string& serverName, const RoomOpener& openRoom,
                   LivePlatform& terminal, Screen& screen) {
  NavigationKeys navigationKeys(terminal);
  auto wake = [&terminal] { terminal.wake(); };
  lobby->onNews(wake);
  LobbyState state;
  network::LobbyListing listing;
  std::optional<network::LobbyView> askedView;
  std::optional<std::uint64_t> shownChanges;
  // The room asked for while its answer is awaited, the lobby left meanwhile.
  std::unique_ptr<JoinClient> asked;
  for (;;) {
    if (lobby) {
      const JoinState lobbyState = lobby->state();
      if (lobbyState.phase == JoinState::Phase::Ended) {
        return {nullptr, lobbyState.endedByHost ? 0 : 1, lobbyState.endReason};
      }
      if (lobbyState.changes != shownChanges) {
        shownChanges = lobbyState.changes;
        terminal.showStatus("Lobby - " + roundTripText(lobbyState.roundTripMicroseconds), false);
      }
      if (lobby->takeLobby(listing)) {
        state.setListing(listing);
      }
      // Only a lobby that has been welcomed is told its view.
      const network::LobbyView view = state.view();
      if (lobbyState.phase == JoinState::Phase::Joined && view != askedView) {
        lobby->viewLobby(view);
        askedView = view;
      }
    }
    if (asked) {
      const JoinState answer = asked->state();
      if (answer.phase == JoinState::Phase::Joined) {
        asked->onNews(nullptr);
        return {std::move(asked), 0, ""};
      }
      if (answer.phase == JoinState::Phase::Ended) {
        asked.reset();
        state.tell(asLine(answer.endReason));
        lobby = reopenLobby();
        lobby->onNews(wake);
        askedView.reset();
        shownChanges.reset();
      }
    }
    // Drawn at every wake: news, keys, and the heartbeat's round trip about
    // once a second, which keeps the open times counting.
    drawLobby(screen, state, serverName, std::chrono::steady_clock::now());
    terminal.typingLine(screen.cursorVisible());
    terminal.present();
    std::string typed;
    terminal.takeTyped(typed, terminal.waitForInput());
    for (char byte : typed) {
      if (static_cast<unsigned char>(byte) == kLeaveKey) {
        return {nullptr, 0, ""};
      }
      if (asked || !lobby) {
        continue;  // one choice at a time
      }
      if (std::optional<LobbyChoice> choice = state.onKey(static_cast<unsigned char>(byte))) {
        state.tell(waitingText(*choice));
        drawLobby(screen, state, serverName, std::chrono::steady_clock::now());
        terminal.present();
        lobby.reset();  // says goodbye, so that the room's hello is not one too many
        asked = openRoom(*choice);
        asked->onNews(wake);
      }
    }
  }
}

}  // namespace skyrazor
