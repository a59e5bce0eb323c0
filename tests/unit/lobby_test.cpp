#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "app/lobby.h"
#include "platform/live/navigation_keys.h"

namespace skyrazor {
namespace {

using network::ListedRoom;
using network::LobbyListing;
using network::Role;
using network::RoomActivity;
using network::RoomWanted;
using std::chrono::seconds;

const auto kNow = std::chrono::steady_clock::time_point{} + std::chrono::hours(1000);

std::string rowText(const Screen& screen, int row) {
  std::string text;
  for (const Cell& cell : screen.rowCells(row)) {
    text += static_cast<char>(cell.byte);
  }
  return text.substr(0, text.find_last_not_of(' ') + 1);
}

ListedRoom room(std::string name) {
  ListedRoom listed;
  listed.name = std::move(name);
  return listed;
}

// `listed` rooms named room0, room1, ..., all told of, as the server tells
// them: `openSeconds` when sent, `agoSeconds` before kNow.
LobbyListing manyRooms(int listed) {
  LobbyListing listing;
  listing.listed = static_cast<std::uint16_t>(listed);
  for (int i = 0; i < listed; ++i) {
    listing.rows[static_cast<std::uint16_t>(i)] = {room("room" + std::to_string(i)), kNow};
  }
  return listing;
}

Screen drawn(const LobbyState& state) {
  Screen screen(80, 25);
  drawLobby(screen, state, "127.0.0.1:5199", kNow);
  return screen;
}

LobbyState stateWith(const LobbyListing& listing) {
  LobbyState state;
  state.setListing(listing);
  return state;
}

TEST(LobbyPicture, EachRoomSaysWhatItIsDoingWhoMayJoinWhoWatchesAndHowLongItHasBeenOpen) {
  LobbyListing listing;
  listing.listed = 4;
  ListedRoom menus = room("k7qf9m");
  menus.pilot2Free = true;
  menus.openSeconds = 15;
  ListedRoom duel = room("duel");
  duel.activity = RoomActivity::TwoPersonBattle;
  duel.leftPilot = "Ann";
  duel.rightPilot = "Bob";
  duel.leftHitPoints = 12;
  duel.rightHitPoints = 7;
  duel.watchers = 3;
  duel.openSeconds = 700;
  ListedRoom computer = room("solo");
  computer.activity = RoomActivity::ComputerBattle;
  computer.leftPilot = "Cy";
  computer.leftHitPoints = 9;
  computer.rightHitPoints = 4;
  computer.computerLevel = 3;
  computer.pilot2Free = true;
  computer.openSeconds = 3 * 3600 + 5;
  ListedRoom arcade = room("run");
  arcade.activity = RoomActivity::ArcadeRun;
  arcade.leftPilot = "Dee";
  arcade.arcadeWins = 1;
  arcade.watchers = 12;
  arcade.openSeconds = 2 * 86400;
  // The first row came 30 seconds ago: its open time counts on since.
  listing.rows = {{0, {menus, kNow - seconds(30)}},
                  {1, {duel, kNow}},
                  {2, {computer, kNow}},
                  {3, {arcade, kNow}}};
  const Screen screen = drawn(stateWith(listing));

  EXPECT_EQ(rowText(screen, 0).substr(0, 34), " SKYRAZOR  Rooms at 127.0.0.1:5199");
  EXPECT_EQ(rowText(screen, 0).substr(73), "4 rooms");
  EXPECT_NE(rowText(screen, 1).find("Enter join"), std::string::npos);
  EXPECT_NE(rowText(screen, 1).find("q quick match"), std::string::npos);
  EXPECT_EQ(rowText(screen, 4),
            "  Room             Game                                       Pilot 2 Watch Open");
  EXPECT_EQ(rowText(screen, 5),
            "> k7qf9m           at the menus                               free        0  45s");
  EXPECT_EQ(rowText(screen, 6),
            "  duel             Ann (12) vs Bob (7)                        taken       3  11m");
  EXPECT_EQ(rowText(screen, 7),
            "  solo             Cy (9) vs computer level 3 (4)             free        0   3h");
  EXPECT_EQ(rowText(screen, 8),
            "  run              arcade run of Dee, 1 win                   taken      12   2d");
  EXPECT_EQ(rowText(screen, 9), "");
  EXPECT_NE(rowText(screen, 24).find("PgUp/PgDn"), std::string::npos);
}

TEST(LobbyPicture, LongNamesAreCutToTheirColumnsAndNeverMoveTheRest) {
  const std::string longest(16, '\xDB');  // a pilot's name at its longest, in block glyphs
  LobbyListing listing;
  listing.listed = 3;
  ListedRoom duel = room("a-room-name-as-long-as-any-is-32");
  duel.activity = RoomActivity::TwoPersonBattle;
  duel.leftPilot = longest;
  // Whatever bytes they are, each is one glyph.
  duel.rightPilot = std::string("Bo\n\r\t") + std::string(11, 'o');
  duel.leftHitPoints = 120;
  duel.rightHitPoints = 115;
  duel.pilot2Free = true;
  duel.watchers = 65535;
  ListedRoom computer = room("cpu");
  computer.activity = RoomActivity::ComputerBattle;
  computer.leftPilot = longest;
  computer.leftHitPoints = 100;
  computer.rightHitPoints = 100;
  computer.computerLevel = 9;
  ListedRoom arcade = room("arc");
  arcade.activity = RoomActivity::ArcadeRun;
  arcade.leftPilot = longest + longest;
  arcade.arcadeWins = 65535;
  listing.rows = {{0, {duel, kNow}}, {1, {computer, kNow}}, {2, {arcade, kNow}}};
  const Screen screen = drawn(stateWith(listing));

  const std::string duelRow = rowText(screen, 5);
  // Both names give way alike, and both ships' hit points stay.
  EXPECT_EQ(duelRow, "> a-room-name-as-l " + std::string(13, '\xDB') +
                         " (120) vs Bo\n\r\toooooooo" + " (115) free    65535   0s");
  EXPECT_EQ(rowText(screen, 6).substr(19, 48),
            std::string(10, '\xDB') + " (100) vs computer level 9 (100) taken");
  EXPECT_EQ(rowText(screen, 7).substr(19, 48),
            "arcade run of " + std::string(16, '\xDB') + ", 65535 wins taken");
  // Nothing spills below the rooms drawn: the cursor was never moved by a name.
  EXPECT_EQ(rowText(screen, 8), "");
}

TEST(LobbyPicture, ManyRoomsArePagedWithTheSelectedOneInReverseVideo) {
  LobbyState state = stateWith(manyRooms(45));
  for (int i = 0; i < 23; ++i) {
    state.onKey(navigation::kDown);
  }
  const Screen screen = drawn(state);
  EXPECT_EQ(rowText(screen, 0).substr(61), "45 rooms - page 2/3");
  EXPECT_EQ(rowText(screen, 5).substr(0, 8), "  room19");
  EXPECT_EQ(rowText(screen, 9).substr(0, 8), "> room23");
  EXPECT_EQ(rowText(screen, 23).substr(0, 8), "  room37");
  for (int column = 0; column < 80; ++column) {
    EXPECT_EQ(screen.cell(column, 9).attribute, 0x70) << "column " << column;
    EXPECT_EQ(screen.cell(column, 8).attribute & 0xF0, 0) << "column " << column;
  }
  EXPECT_FALSE(screen.cursorVisible());

  // A listing that fits one page says nothing of pages.
  EXPECT_EQ(rowText(drawn(stateWith(manyRooms(kLobbyPageRows))), 0).substr(72), "19 rooms");
  EXPECT_EQ(rowText(drawn(stateWith(manyRooms(1))), 0).substr(74), "1 room");
}

TEST(LobbyPicture, AnEmptyListingSaysHowToPlayAnyway) {
  const Screen screen = drawn(stateWith(LobbyListing{}));
  EXPECT_EQ(rowText(screen, 0).substr(73), "0 rooms");
  EXPECT_EQ(rowText(screen, 4), "");
  EXPECT_EQ(rowText(screen, 5), " No rooms are open to join yet.");
  EXPECT_EQ(rowText(screen, 6), " Press q to meet the next player, or n to open a room.");
}

TEST(LobbyPicture, TheMessageLineTellsHowAChoiceWentOrAsksForTheRoomsName) {
  LobbyState state = stateWith(manyRooms(2));
  state.tell("the server refused: There is no room " + std::string(100, 'x'));
  Screen screen = drawn(state);
  // A long message goes on over the next row, broken at a space, and no further.
  EXPECT_EQ(rowText(screen, 2), " the server refused: There is no room");
  EXPECT_EQ(rowText(screen, 3), " " + std::string(79, 'x'));
  EXPECT_EQ(rowText(screen, 4).substr(0, 6), "  Room");

  state.onKey('r');
  for (char key : std::string("duel")) {
    state.onKey(static_cast<unsigned char>(key));
  }
  screen = drawn(state);
  EXPECT_EQ(rowText(screen, 2), " Room to join (Enter joins, Esc goes back): duel");
  EXPECT_TRUE(screen.cursorVisible());
  EXPECT_EQ(screen.cursorColumn(), static_cast<int>(rowText(screen, 2).size()));
  EXPECT_EQ(screen.cursorRow(), 2);
}

TEST(LobbyPicture, OpenTimesShowTheirLargestWholeUnit) {
  EXPECT_EQ(openTimeText(0), "0s");
  EXPECT_EQ(openTimeText(59), "59s");
  EXPECT_EQ(openTimeText(60), "1m");
  EXPECT_EQ(openTimeText(3599), "59m");
  EXPECT_EQ(openTimeText(3600), "1h");
  EXPECT_EQ(openTimeText(86399), "23h");
  EXPECT_EQ(openTimeText(86400), "1d");
  EXPECT_EQ(openTimeText(4294967295u), "999d");  // never wider than its column
}

TEST(LobbyKeys, TheSelectionMovesRowByRowAndPageByPageWithinTheListing) {
  LobbyState state(20);
  state.setListing(manyRooms(45));
  EXPECT_EQ(state.selected(), 0);
  EXPECT_EQ(state.view(), (network::LobbyView{0, 20}));
  state.onKey(navigation::kUp);
  EXPECT_EQ(state.selected(), 0);
  for (int i = 0; i < 20; ++i) {
    state.onKey(navigation::kDown);
  }
  EXPECT_EQ(state.selected(), 20);  // past the page's edge: the next page
  EXPECT_EQ(state.view(), (network::LobbyView{20, 20}));
  state.onKey(navigation::kUp);
  EXPECT_EQ(state.view(), (network::LobbyView{0, 20}));
  state.onKey(navigation::kPageDown);
  state.onKey(navigation::kPageDown);
  EXPECT_EQ(state.selected(), 44);  // the last room, not past it
  EXPECT_EQ(state.view(), (network::LobbyView{40, 20}));
  EXPECT_EQ(state.pages(), 3);
  state.onKey(navigation::kDown);
  EXPECT_EQ(state.selected(), 44);
  state.onKey(navigation::kPageUp);
  EXPECT_EQ(state.selected(), 24);
  state.onKey(navigation::kPageUp);
  state.onKey(navigation::kPageUp);
  EXPECT_EQ(state.selected(), 0);

  // Rooms that close take the selection back within the listing.
  state.setListing(manyRooms(45));
  state.onKey(navigation::kPageDown);
  state.onKey(navigation::kPageDown);
  state.setListing(manyRooms(10));
  EXPECT_EQ(state.selected(), 9);
  EXPECT_EQ(state.view(), (network::LobbyView{0, 20}));
  state.setListing(LobbyListing{});
  EXPECT_EQ(state.selected(), -1);
  EXPECT_EQ(state.view(), (network::LobbyView{0, 20}));
  state.onKey(navigation::kDown);
  state.setListing(manyRooms(3));
  EXPECT_EQ(state.selected(), 0);
}

TEST(LobbyKeys, EachChoiceAsksForItsOwnHello) {
  LobbyState state = stateWith(manyRooms(3));
  state.onKey(navigation::kDown);
  EXPECT_EQ(state.onKey('\n'), (LobbyChoice{Role::Pilot, RoomWanted::Named, "room1"}));
  EXPECT_EQ(state.onKey('\r'), (LobbyChoice{Role::Pilot, RoomWanted::Named, "room1"}));
  EXPECT_EQ(state.onKey('w'), (LobbyChoice{Role::Watcher, RoomWanted::Named, "room1"}));
  EXPECT_EQ(state.onKey('q'), (LobbyChoice{Role::Pilot, RoomWanted::QuickMatch, ""}));
  EXPECT_EQ(state.onKey('n'), (LobbyChoice{Role::Pilot, RoomWanted::NewListed, ""}));
  EXPECT_EQ(state.onKey('p'), (LobbyChoice{Role::Pilot, RoomWanted::Named, ""}));
  EXPECT_EQ(state.onKey('x'), std::nullopt);

  // A room not told of yet, or no room at all, cannot be joined or watched.
  LobbyListing unknown = manyRooms(1);
  unknown.listed = 2;
  state.setListing(unknown);
  state.onKey(navigation::kDown);
  EXPECT_EQ(state.onKey('\n'), std::nullopt);
  EXPECT_EQ(state.onKey('w'), std::nullopt);
  state.setListing(LobbyListing{});
  EXPECT_EQ(state.onKey('\n'), std::nullopt);
  EXPECT_EQ(state.onKey('q'), (LobbyChoice{Role::Pilot, RoomWanted::QuickMatch, ""}));

  // Any key takes the last message off.
  state.tell("the server refused: The room is full");
  state.onKey(navigation::kDown);
  EXPECT_EQ(state.message(), "");
}

TEST(LobbyKeys, ARoomsNameTypedAfterRJoinsItOnceItCouldBeOne) {
  LobbyState state = stateWith(manyRooms(3));
  auto type = [&state](const std::string& keys) {
    std::optional<LobbyChoice> choice;
    for (char key : keys) {
      choice = state.onKey(static_cast<unsigned char>(key));
    }
    return choice;
  };
  // Letters are the name's while it is typed, not choices; the server's
  // small letters are asked for.
  EXPECT_EQ(type("rqnK7qXX\b\x7F"
                 "F9m\n"),
            (LobbyChoice{Role::Pilot, RoomWanted::Named, "qnk7qf9m"}));
  EXPECT_FALSE(state.typingName());
  EXPECT_EQ(type("rduel\x1B"), std::nullopt);  // Escape goes back to the rooms
  EXPECT_FALSE(state.typingName());
  EXPECT_EQ(state.onKey('\n'), (LobbyChoice{Role::Pilot, RoomWanted::Named, "room0"}));
  EXPECT_EQ(type("r\n"), std::nullopt);  // nothing typed: nothing asked
  EXPECT_EQ(type("rno such;room\n"), std::nullopt);
  EXPECT_EQ(state.message(), "A room's name is 1 to 32 letters, digits, '-' or '_'.");
  EXPECT_EQ(type("r" + std::string(40, 'a')), std::nullopt);
  EXPECT_EQ(state.typedName(), std::string(32, 'a'));  // as long as a name may be
  EXPECT_EQ(state.onKey(navigation::kDown), std::nullopt);
  EXPECT_EQ(state.onKey('\n'), (LobbyChoice{Role::Pilot, RoomWanted::Named, std::string(32, 'a')}));
}

}  // namespace
}  // namespace skyrazor
