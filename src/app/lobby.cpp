#include "app/lobby.h"

#include <algorithm>
#include <string_view>

#include "platform/live/navigation_keys.h"
#include "platform/network/join_code.h"

namespace skyrazor {
namespace {

using network::ListedRoom;
using network::RoomActivity;

constexpr unsigned char kBackspace = 0x08;
constexpr unsigned char kDelete = 0x7F;
constexpr unsigned char kEscape = 0x1B;

// The picture's rows: what matters most comes first, so that a window
// smaller than the picture, which shows its top-left part, still shows the
// title, the keys and the first rooms.
constexpr int kTitleRow = 0;
constexpr int kKeysRow = 1;
constexpr int kMessageRow = 2;  // and the row below, for a long refusal
constexpr int kColumnTitlesRow = 4;
constexpr int kFirstRoomRow = 5;
constexpr int kFooterRow = kFirstRoomRow + kLobbyPageRows;

// The columns of a room's row. A room's name may be twice as long as its
// column, but names that long are rare and their start tells them apart.
constexpr int kNameColumn = 2;
constexpr int kNameWidth = 16;
constexpr int kGameColumn = 19;
constexpr int kGameWidth = 42;
constexpr int kPilot2Column = 62;
constexpr int kWatchersEnd = 75;  // right-aligned, up to here
constexpr int kOpenEnd = 80;

constexpr std::uint16_t kTextLook = 0x07;      // grey on black
constexpr std::uint16_t kTitleLook = 0x0F;     // bright white
constexpr std::uint16_t kMessageLook = 0x0E;   // yellow: how the last choice went
constexpr std::uint16_t kSelectedLook = 0x70;  // reverse video

constexpr std::string_view kKeysLine =
    "Enter join  w watch  q quick match  n new room  p private room  r room by name";
constexpr std::string_view kFooterLine =
    "Up/Down choose a room  PgUp/PgDn turn pages  Ctrl-C leaves";
constexpr std::string_view kNamePrompt = "Room to join (Enter joins, Esc goes back): ";

// Writes `text` from `column` on, as many of its bytes as fit in `width`
// cells and the row: each byte is a glyph, whatever it is, so that no name
// can move the cursor or spill into the next column.
void put(Screen& screen, int column, int row, std::string_view text, int width,
         std::uint16_t attribute) {
  const int fits = std::min({static_cast<int>(text.size()), width, screen.columns() - column});
  for (int i = 0; i < fits; ++i) {
    screen.setCell(column + i, row,
                   Cell{static_cast<unsigned char>(text[static_cast<std::size_t>(i)]), attribute});
  }
}

// Right-aligned, ending just before `end`.
void putRight(Screen& screen, int end, int row, std::string_view text, std::uint16_t attribute) {
  const int width = static_cast<int>(text.size());
  put(screen, end - width, row, text, width, attribute);
}

void blankRow(Screen& screen, int row, std::uint16_t attribute) {
  for (int column = 0; column < screen.columns(); ++column) {
    screen.setCell(column, row, Cell{' ', attribute});
  }
}

// Cuts two names so that both fit in `room` bytes together: each keeps at
// least half, and a short one leaves the rest to the other.
void fitNames(std::string& first, std::string& second, std::size_t room) {
  if (first.size() + second.size() <= room) {
    return;
  }
  const std::size_t half = room / 2;
  if (first.size() <= half) {
    second.resize(room - first.size());
  } else if (second.size() <= half) {
    first.resize(room - second.size());
  } else {
    first.resize(half);
    second.resize(room - half);
  }
}

// Writes a message over two rows at most, the first broken at a space.
void putMessage(Screen& screen, int row, std::string_view text, std::uint16_t attribute) {
  const std::size_t width = static_cast<std::size_t>(screen.columns() - 1);
  std::size_t firstRow = text.size();
  if (text.size() > width) {
    const std::size_t space = text.rfind(' ', width);
    firstRow = space != std::string_view::npos && space > 0 ? space : width;
  }
  put(screen, 1, row, text.substr(0, firstRow), static_cast<int>(width), attribute);
  std::string_view rest = text.substr(firstRow);
  while (!rest.empty() && rest.front() == ' ') {
    rest.remove_prefix(1);
  }
  put(screen, 1, row + 1, rest, static_cast<int>(width), attribute);
}

std::string cut(std::string text, std::size_t width) {
  if (text.size() > width) {
    text.resize(width);
  }
  return text;
}

std::string hitPoints(std::uint8_t points) {
  return " (" + std::to_string(points) + ")";
}

std::string roomsText(int listed) {
  return std::to_string(listed) + (listed == 1 ? " room" : " rooms");
}

void drawRoom(Screen& screen, int row, const network::LobbyListing::Row& listed, bool selected,
              std::chrono::steady_clock::time_point now) {
  const std::uint16_t look = selected ? kSelectedLook : kTextLook;
  const ListedRoom& room = listed.room;
  put(screen, kNameColumn, row, room.name, kNameWidth, look);
  put(screen, kGameColumn, row, activityText(room, kGameWidth), kGameWidth, look);
  put(screen, kPilot2Column, row, room.pilot2Free ? "free" : "taken", 7, look);
  putRight(screen, kWatchersEnd, row, std::to_string(room.watchers), look);
  const auto since = std::chrono::duration_cast<std::chrono::seconds>(now - listed.arrived);
  const std::uint64_t open =
      room.openSeconds + static_cast<std::uint64_t>(std::max<std::int64_t>(since.count(), 0));
  putRight(screen, kOpenEnd, row, openTimeText(open), look);
}

}  // namespace

LobbyState::LobbyState(int pageRows) : pageRows_(std::max(pageRows, 1)) {}

void LobbyState::setListing(const network::LobbyListing& listing) {
  listing_ = listing;
  const int listed = listing_.listed;
  if (listed == 0) {
    selected_ = -1;
  } else {
    select(std::max(selected_, 0));
  }
}

void LobbyState::select(int index) {
  selected_ = std::clamp(index, 0, std::max(static_cast<int>(listing_.listed) - 1, 0));
}

int LobbyState::firstOnPage() const {
  return page() * pageRows_;
}

int LobbyState::page() const {
  return std::max(selected_, 0) / pageRows_;
}

int LobbyState::pages() const {
  return std::max((static_cast<int>(listing_.listed) + pageRows_ - 1) / pageRows_, 1);
}

network::LobbyView LobbyState::view() const {
  return network::LobbyView{static_cast<std::uint16_t>(firstOnPage()),
                            static_cast<std::uint8_t>(pageRows_)};
}

std::optional<LobbyChoice> LobbyState::selectedRoom(network::Role role) const {
  if (selected_ < 0) {
    return std::nullopt;
  }
  auto row = listing_.rows.find(static_cast<std::uint16_t>(selected_));
  if (row == listing_.rows.end() || row->second.room.name.empty()) {
    return std::nullopt;  // not told of yet
  }
  return LobbyChoice{role, network::RoomWanted::Named, row->second.room.name};
}

std::optional<LobbyChoice> LobbyState::onKey(unsigned char key) {
  if (typingName_) {
    return onNameKey(key);
  }
  message_.clear();
  switch (key) {
    case navigation::kUp:
      if (selected_ > 0) {
        select(selected_ - 1);
      }
      return std::nullopt;
    case navigation::kDown:
      if (selected_ >= 0) {
        select(selected_ + 1);
      }
      return std::nullopt;
    case navigation::kPageUp:
      if (selected_ >= 0) {
        select(selected_ - pageRows_);
      }
      return std::nullopt;
    case navigation::kPageDown:
      if (selected_ >= 0) {
        select(selected_ + pageRows_);
      }
      return std::nullopt;
    case '\n':
    case '\r':
      return selectedRoom(network::Role::Pilot);
    case 'w':
    case 'W':
      return selectedRoom(network::Role::Watcher);
    case 'q':
    case 'Q':
      return LobbyChoice{network::Role::Pilot, network::RoomWanted::QuickMatch, ""};
    case 'n':
    case 'N':
      return LobbyChoice{network::Role::Pilot, network::RoomWanted::NewListed, ""};
    case 'p':
    case 'P':
      return LobbyChoice{network::Role::Pilot, network::RoomWanted::Named, ""};
    case 'r':
    case 'R':
      typingName_ = true;
      typedName_.clear();
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

// A room's name is checked as the server would before it is asked for, so
// that a typo is told at once, on the line where it was typed.
std::optional<LobbyChoice> LobbyState::onNameKey(unsigned char key) {
  if (key == '\n' || key == '\r') {
    typingName_ = false;
    if (typedName_.empty()) {
      return std::nullopt;
    }
    const std::string name = network::normalRoomName(typedName_);
    if (name.empty()) {
      message_ = "A room's name is 1 to 32 letters, digits, '-' or '_'.";
      return std::nullopt;
    }
    return LobbyChoice{network::Role::Pilot, network::RoomWanted::Named, name};
  }
  if (key == kEscape) {
    typingName_ = false;
  } else if (key == kBackspace || key == kDelete) {
    if (!typedName_.empty()) {
      typedName_.pop_back();
    }
  } else if (key >= 0x20 && key < 0x7F && typedName_.size() < network::kLongestRoomName) {
    typedName_ += static_cast<char>(key);
  }
  return std::nullopt;
}

std::string openTimeText(std::uint64_t seconds) {
  constexpr std::uint64_t kMinute = 60;
  constexpr std::uint64_t kHour = 60 * kMinute;
  constexpr std::uint64_t kDay = 24 * kHour;
  if (seconds < kMinute) {
    return std::to_string(seconds) + "s";
  }
  if (seconds < kHour) {
    return std::to_string(seconds / kMinute) + "m";
  }
  if (seconds < kDay) {
    return std::to_string(seconds / kHour) + "h";
  }
  return std::to_string(std::min<std::uint64_t>(seconds / kDay, 999)) + "d";
}

std::string activityText(const ListedRoom& room, std::size_t width) {
  std::string left = room.leftPilot;
  std::string right = room.rightPilot;
  switch (room.activity) {
    case RoomActivity::Menus:
      return cut("at the menus", width);
    case RoomActivity::TwoPersonBattle: {
      const std::string leftPoints = hitPoints(room.leftHitPoints);
      const std::string rightPoints = hitPoints(room.rightHitPoints);
      const std::size_t fixed = leftPoints.size() + 4 + rightPoints.size();
      fitNames(left, right, width > fixed ? width - fixed : 0);
      return cut(left + leftPoints + " vs " + right + rightPoints, width);
    }
    case RoomActivity::ComputerBattle: {
      const std::string rest = hitPoints(room.leftHitPoints) + " vs computer level " +
                               std::to_string(room.computerLevel) + hitPoints(room.rightHitPoints);
      return cut(cut(left, width > rest.size() ? width - rest.size() : 0) + rest, width);
    }
    case RoomActivity::ArcadeRun: {
      const std::string rest =
          ", " + std::to_string(room.arcadeWins) + (room.arcadeWins == 1 ? " win" : " wins");
      const std::string start = "arcade run of ";
      const std::size_t fixed = start.size() + rest.size();
      return cut(start + cut(left, width > fixed ? width - fixed : 0) + rest, width);
    }
  }
  return "";
}

void drawLobby(Screen& screen, const LobbyState& state, const std::string& serverName,
               std::chrono::steady_clock::time_point now) {
  for (int row = 0; row < screen.rows(); ++row) {
    blankRow(screen, row, kTextLook);
  }
  const int listed = state.listing().listed;

  std::string pageText = roomsText(listed);
  if (state.pages() > 1) {
    pageText += " - page " + std::to_string(state.page() + 1) + "/" + std::to_string(state.pages());
  }
  const std::string title =
      serverName.empty() ? std::string("SKYRAZOR  Rooms") : "SKYRAZOR  Rooms at " + serverName;
  const int titleWidth = kOpenEnd - static_cast<int>(pageText.size()) - 2;
  put(screen, 1, kTitleRow, title, titleWidth, kTitleLook);
  putRight(screen, kOpenEnd, kTitleRow, pageText, kTitleLook);
  put(screen, 1, kKeysRow, kKeysLine, screen.columns() - 1, kTextLook);

  screen.setCursorShape(state.typingName(), 25);
  if (state.typingName()) {
    const std::string line = std::string(kNamePrompt) + state.typedName();
    put(screen, 1, kMessageRow, line, screen.columns() - 1, kTitleLook);
    screen.placeCursor(std::min(1 + static_cast<int>(line.size()), screen.columns() - 1),
                       kMessageRow);
  } else {
    putMessage(screen, kMessageRow, state.message(), kMessageLook);
  }

  if (listed == 0) {
    put(screen, 1, kFirstRoomRow, "No rooms are open to join yet.", screen.columns() - 1,
        kTextLook);
    put(screen, 1, kFirstRoomRow + 1, "Press q to meet the next player, or n to open a room.",
        screen.columns() - 1, kTextLook);
  } else {
    put(screen, kNameColumn, kColumnTitlesRow, "Room", kNameWidth, kTitleLook);
    put(screen, kGameColumn, kColumnTitlesRow, "Game", kGameWidth, kTitleLook);
    put(screen, kPilot2Column, kColumnTitlesRow, "Pilot 2", 7, kTitleLook);
    putRight(screen, kWatchersEnd, kColumnTitlesRow, "Watch", kTitleLook);
    putRight(screen, kOpenEnd, kColumnTitlesRow, "Open", kTitleLook);
    const int first = state.firstOnPage();
    const int shown = std::min({state.pageRows(), listed - first, kLobbyPageRows});
    for (int i = 0; i < shown; ++i) {
      const int index = first + i;
      const int row = kFirstRoomRow + i;
      const bool selected = index == state.selected();
      if (selected) {
        blankRow(screen, row, kSelectedLook);
        put(screen, 0, row, ">", 1, kSelectedLook);
      }
      auto known = state.listing().rows.find(static_cast<std::uint16_t>(index));
      if (known != state.listing().rows.end()) {
        drawRoom(screen, row, known->second, selected, now);
      }
    }
  }
  put(screen, 1, kFooterRow, kFooterLine, screen.columns() - 1, kTextLook);
}

}  // namespace skyrazor
