#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "console/screen.h"
#include "platform/network/join_client.h"
#include "platform/network/wire_format.h"

// A server's lobby on the player's terminal: the rooms listed a page at a
// time, a room chosen with the keys, and the picture of it all. Both are
// pure, so that the lobby's session only carries keys and news between them
// and the network.
namespace skyrazor {

// The rooms one page of the lobby shows: the picture's rows between the
// column titles and the footer.
inline constexpr int kLobbyPageRows = 19;

// What the player asked for in the lobby: the hello that asks for it.
struct LobbyChoice {
  network::Role role = network::Role::Pilot;
  network::RoomWanted wanted = network::RoomWanted::Named;
  std::string roomName;  // empty: a room the server picks or opens
  bool operator==(const LobbyChoice&) const = default;
};

// Where the player is in the lobby: the selected room, the page it is on, a
// room's name being typed, and the line that tells how the last choice went.
class LobbyState {
 public:
  explicit LobbyState(int pageRows = kLobbyPageRows);

  // The listing as last told; the selection stays on the listing.
  void setListing(const network::LobbyListing& listing);
  const network::LobbyListing& listing() const { return listing_; }

  // One key typed (navigation::kUp and the rest for the arrows and page
  // keys): moves the selection, or types the room's name asked for, or makes
  // a choice.
  std::optional<LobbyChoice> onKey(unsigned char key);

  // The rows the server is to send news of: the page on screen.
  network::LobbyView view() const;

  int pageRows() const { return pageRows_; }
  // The selected room's index in the listing; -1 while there is none.
  int selected() const { return selected_; }
  int firstOnPage() const;
  int page() const;   // counted from 0
  int pages() const;  // at least 1

  // A room's name is being typed (after r): the line below the keys asks for it.
  bool typingName() const { return typingName_; }
  const std::string& typedName() const { return typedName_; }

  // The line that tells the player how a choice went (a refusal's text);
  // any key takes it off.
  const std::string& message() const { return message_; }
  void tell(std::string message) { message_ = std::move(message); }

 private:
  std::optional<LobbyChoice> onNameKey(unsigned char key);
  std::optional<LobbyChoice> selectedRoom(network::Role role) const;
  void select(int index);

  int pageRows_;
  network::LobbyListing listing_;
  int selected_ = -1;
  bool typingName_ = false;
  std::string typedName_;
  std::string message_;
};

// How long a room has been open, in its largest whole unit: 45s, 12m, 3h, 2d.
std::string openTimeText(std::uint64_t seconds);

// What a listed room's game is doing, in at most `width` cells: "at the
// menus", "Ann (12) vs Bob (7)", "Ann (12) vs computer level 3 (9)", "arcade
// run of Ann, 3 wins". Long names are cut so that the whole fits.
std::string activityText(const network::ListedRoom& room, std::size_t width);

// The lobby's picture, 80x25: the title with the server's name and the page,
// the keys, the message (two rows at most) or the name being typed, the column titles,
// a page of rooms with the selected one in reverse video, and the footer.
// Open times count on from each row's arrival to `now`.
void drawLobby(Screen& screen, const LobbyState& state, const std::string& serverName,
               std::chrono::steady_clock::time_point now);

}  // namespace skyrazor
