#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/network/message_decoder.h"
#include "platform/network/wire_format.h"

namespace skyrazor::network {
namespace {

using namespace std::string_literals;

std::string bigEndian16(std::uint16_t value) {
  return {static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
}

// A frame written by hand, its length prefix counting the type byte too.
std::string frame(std::uint8_t type, std::string_view payload, std::size_t length) {
  std::string bytes;
  for (int shift = 24; shift >= 0; shift -= 8) {
    bytes.push_back(static_cast<char>((length >> shift) & 0xFF));
  }
  bytes.push_back(static_cast<char>(type));
  return bytes.append(payload);
}

std::string frame(MessageType type, std::string_view payload) {
  return frame(static_cast<std::uint8_t>(type), payload, payload.size() + 1);
}

std::string text(std::string_view text) {
  return static_cast<char>(text.size()) + std::string(text);
}

std::string helloPayload(std::string_view magic, std::string_view code, std::string_view room,
                         char role = 1, char wanted = 0, std::string_view playerAddress = "") {
  return std::string(magic) + bigEndian16(kProtocolVersion) + role + text(code) + text(room) +
         wanted + text(playerAddress);
}

std::string encoded(const Message& message) {
  std::string bytes;
  EXPECT_TRUE(encodeMessage(message, bytes));
  return bytes;
}

std::vector<Message> oneOfEveryKind() {
  return {
      Hello{kProtocolVersion, Role::Watcher, "tiger-7", "lobby", RoomWanted::Named, ""},
      Hello{kProtocolVersion, Role::Pilot, "", "duel-9", RoomWanted::NewNamed, "2001:db8::7"},
      Welcome{Role::Pilot, 80, 25, ""},
      Welcome{Role::RoomHost, 80, 25, "x4kp9m"},
      SeatChange{Role::RoomHost},
      RoomSeats{true, 32},
      Refusal{RefusalReason::WrongCode, "That is not this game's join code."},
      Keys{"pl\x03k"s + '\0'},
      WholeScreen{3,
                  2,
                  Cursor{2, 1, 100},
                  {{'A', 0x1F}, {0xDB, 0x4E}, {' ', 0x07}, {0, 0}, {0xFF, 0xFFFF}, {'z', 0x70}}},
      ScreenChanges{Cursor{0, 24, 0},
                    {CellRun{1, 79, {{'x', 0x0A}}}, CellRun{24, 0, {{'#', 0x02}, {'#', 0x0C}}}}},
      ScreenChanges{Cursor{5, 5, 25}, {}},
      Ping{0x0102030405060708},
      Pong{0xFFFFFFFFFFFFFFFF},
      Goodbye{"the host has ended the game"},
      Hello{kProtocolVersion, Role::Lobby, "", "", RoomWanted::Named, ""},
      Hello{kProtocolVersion, Role::Pilot, "", "", RoomWanted::QuickMatch, ""},
      Welcome{Role::Lobby, 80, 25, ""},
      LobbyView{40, 20},
      LobbyRooms{2,
                 {{0, ListedRoom{"k3vx9a", RoomActivity::TwoPersonBattle, "Ann",
                                 "B\x82"
                                 "b",
                                 3, 1, 0, 0, false, 4, 125}},
                  {1, ListedRoom{"duel-9", RoomActivity::ArcadeRun, "Cy", "", 0, 0, 0, 65535, true,
                                 0, 0xFFFFFFFF}}}},
      LobbyRooms{0, {}},
      Hello{kOldestServedVersion, Role::Pilot, "ab", "", RoomWanted::Named, ""},
      BattleStart{1, 1000, 0, std::string(kLongestBattleState, '\xA5')},
      BattleStart{0, 1, 0xFFFFFFFF, "s"},
      FrameKeys{1, 0, {FrameKey{true, 'f'}, FrameKey{false, 0}, FrameKey{true, 0xFF}}},
      FrameKeys{0xFFFFFFFF - 63, 65535, std::vector<FrameKey>(kMostFramesPerMessage)},
      FrameChecksums{7, {0xDEADBEEF, 0}},
      FrameChecksums{0xFFFFFFFF, {1}},
      BattleRepair{120, "state"},
      BattleOver{0xFFFFFFFF},
  };
}

// Every message the decoder reads out of `bytes` handed over `piece` bytes at
// a time; a malformed message fails the test.
std::vector<Message> decodeInPieces(std::string_view bytes, std::size_t piece) {
  MessageDecoder decoder;
  std::vector<Message> messages;
  while (!bytes.empty()) {
    std::string_view offered = bytes.substr(0, piece);
    while (!offered.empty()) {
      const std::size_t taken = decoder.feed(offered);
      offered.remove_prefix(taken);
      bytes.remove_prefix(taken);
      DecodeStep step = decoder.next();
      if (const auto* malformed = std::get_if<MalformedMessage>(&step)) {
        ADD_FAILURE() << malformed->reason;
        return messages;
      }
      if (auto* message = std::get_if<Message>(&step)) {
        messages.push_back(std::move(*message));
      }
    }
  }
  EXPECT_TRUE(std::holds_alternative<NeedMoreBytes>(decoder.next()));
  return messages;
}

TEST(WireFormat, EveryKindOfMessageReadsBackTheSameInOneBlockOrByteByByte) {
  const std::vector<Message> messages = oneOfEveryKind();
  std::string stream;
  for (const Message& message : messages) {
    stream += encoded(message);
  }
  EXPECT_EQ(decodeInPieces(stream, stream.size()), messages);
  EXPECT_EQ(decodeInPieces(stream, 1), messages);
  EXPECT_EQ(decodeInPieces(stream, 7), messages);
}

TEST(WireFormat, TheDecoderTakesNoMoreThanTheMessageItIsReading) {
  const std::string first = encoded(Ping{1});
  const std::string stream = first + encoded(Pong{2});
  MessageDecoder decoder;
  EXPECT_EQ(decoder.feed(stream), first.size());
  EXPECT_EQ(decoder.feed(std::string_view(stream).substr(first.size())), 0u);
  EXPECT_EQ(decoder.next(), DecodeStep(Message(Ping{1})));
  EXPECT_EQ(decoder.feed(std::string_view(stream).substr(first.size())),
            stream.size() - first.size());
  EXPECT_EQ(decoder.next(), DecodeStep(Message(Pong{2})));
}

TEST(WireFormat, WhatNeverChangesBetweenVersionsIsPinnedByteByByte) {
  // A hello's magic and version, and a whole refusal, read the same in every
  // version, so that peers of different versions part with a readable reason.
  EXPECT_EQ(encoded(Hello{kProtocolVersion, Role::Pilot, "ab", "", RoomWanted::Named, ""}),
            "\0\0\0\x12\x01SKYRAZOR\0\x06\x01\x02"
            "ab\0\0\0"s);
  // The version before the duel lays its hello out alike.
  EXPECT_EQ(encoded(Hello{5, Role::Pilot, "ab", "", RoomWanted::Named, ""}),
            "\0\0\0\x12\x01SKYRAZOR\0\x05\x01\x02"
            "ab\0\0\0"s);
  EXPECT_EQ(encoded(Refusal{RefusalReason::VersionMismatch, "v2 only"}),
            "\0\0\0\x0A\x03\x02\x07v2 only"s);

  // A newer peer's hello is read as far as its version, whatever follows.
  std::string newerHello =
      std::string(kHelloMagic) + bigEndian16(kProtocolVersion + 1) + "\x05more fields\xFF"s;
  const std::vector<Message> readAsNewer{
      Hello{kProtocolVersion + 1, Role::Pilot, "", "", RoomWanted::Named, ""}};
  EXPECT_EQ(decodeInPieces(frame(MessageType::Hello, newerHello), 1), readAsNewer);
  // And a reason newer than this reader knows still carries its text.
  const std::vector<Message> newerReason{
      Refusal{static_cast<RefusalReason>(200), "closed for repairs"}};
  EXPECT_EQ(decodeInPieces(frame(MessageType::Refusal, "\xC8" + text("closed for repairs")), 1),
            newerReason);
}

TEST(WireFormat, EveryMalformedMessageEndsTheStream) {
  const std::string goodHello = helloPayload(kHelloMagic, "code", "room");
  const std::string runOfOne = "\0\x01\0\x02\0\x01x\0\x07"s;
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"a zero length", "\0\0\0\0"s},
      {"a length over the limit, refused from its prefix alone",
       frame(7, "", kLongestMessage + 1).substr(0, kLengthPrefixBytes)},
      {"an unknown type", frame(0x63, "", 1)},
      {"type 0", frame(0, "", 1)},
      {"a ping cut short", frame(MessageType::Ping, "1234567")},
      {"a ping with a byte after its end", frame(MessageType::Ping, "123456789")},
      {"a hello with another magic", frame(MessageType::Hello, helloPayload("SKYRAZOX", "", ""))},
      {"a hello cut short", frame(MessageType::Hello, goodHello.substr(0, goodHello.size() - 1))},
      {"a hello asking for a room host's seat",
       frame(MessageType::Hello, helloPayload(kHelloMagic, "", "", 3))},
      {"a join code over its bound",
       frame(MessageType::Hello, helloPayload(kHelloMagic, std::string(17, 'c'), ""))},
      {"a join code with a blank", frame(MessageType::Hello, helloPayload(kHelloMagic, "a b", ""))},
      {"a room name over its bound",
       frame(MessageType::Hello, helloPayload(kHelloMagic, "", std::string(33, 'r')))},
      {"a hello wanting no known kind of room",
       frame(MessageType::Hello, helloPayload(kHelloMagic, "", "duel", 1, 4))},
      {"a new room without its name",
       frame(MessageType::Hello, helloPayload(kHelloMagic, "", "", 1, 1))},
      {"a player's address over its bound",
       frame(MessageType::Hello, helloPayload(kHelloMagic, "", "", 1, 0, std::string(46, '1')))},
      {"a player's address with a control byte",
       frame(MessageType::Hello, helloPayload(kHelloMagic, "", "", 1, 0, "127.0.0.1\n"))},
      {"no keys", frame(MessageType::Keys, "\0"s)},
      {"more keys than a message carries", frame(MessageType::Keys, "\x41" + std::string(65, 'k'))},
      {"a key count past the bytes", frame(MessageType::Keys,
                                           "\x05"
                                           "abcd")},
      {"a welcome to no columns", frame(MessageType::Welcome, "\x01\0\0\0\x19\0"s)},
      {"a welcome without its room name", frame(MessageType::Welcome, "\x01\0\x50\0\x19"s)},
      {"a seat change to no known seat", frame(MessageType::SeatChange, "\x05")},
      {"a pilot's seat neither taken nor free", frame(MessageType::RoomSeats, "\x02\0\x01"s)},
      {"a refusal whose text moves the cursor",
       frame(MessageType::Refusal, "\x01" + text("go \x1B[2J away"))},
      {"a goodbye over its bound", frame(MessageType::Goodbye, text(std::string(121, 'g')))},
      {"a whole screen short of a cell", frame(MessageType::WholeScreen,
                                               "\0\x01\0\x02\0\0\0\0\0"
                                               "a\0\x07"s)},
      {"a whole screen with its cursor outside", frame(MessageType::WholeScreen,
                                                       "\0\x01\0\x01\0\x01\0\0\0"
                                                       "a\0\x07"s)},
      {"screen changes with an empty run", frame(MessageType::ScreenChanges,
                                                 "\0\0\0\0\0\0\x01\0\0\0\0\0\0"
                                                 "x\0\x07"s)},
      {"screen changes counting more runs than they hold",
       frame(MessageType::ScreenChanges, "\0\0\0\0\0\0\x02"s + runOfOne)},
      {"screen changes with a cursor of no known shape",
       frame(MessageType::ScreenChanges, "\0\0\0\0\x65\0\0"s)},
      // A duel's messages.
      {"a battle's start for a third ship",
       frame(MessageType::BattleStart, "\x02\0\x08\0\0\0\0\0\x01s"s)},
      {"a battle's start correcting no frames",
       frame(MessageType::BattleStart, "\x01\0\0\0\0\0\0\0\x01s"s)},
      {"a battle's start correcting too many frames",
       frame(MessageType::BattleStart, "\x01\x03\xE9\0\0\0\0\0\x01s"s)},
      {"a battle's start with no state",
       frame(MessageType::BattleStart, "\x01\0\x08\0\0\0\0\0\0"s)},
      {"a battle's state longer than its bound",
       frame(MessageType::BattleRepair, "\0\0\0\x01\x30\x01"s + std::string(0x3001, 's'))},
      {"a battle's state short of its length", frame(MessageType::BattleRepair,
                                                     "\0\0\0\x01\0\x03"
                                                     "ab"s)},
      {"a battle's state with a byte after it", frame(MessageType::BattleRepair,
                                                      "\0\0\0\x01\0\x01"
                                                      "ab"s)},
      {"frames' keys from frame 0", frame(MessageType::FrameKeys, "\0\0\0\0\0\0\x01\x01k"s)},
      {"frames' keys of no frames", frame(MessageType::FrameKeys, "\0\0\0\x01\0\0\0"s)},
      {"a frame's key pressed twice", frame(MessageType::FrameKeys, "\0\0\0\x01\0\0\x01\x02k"s)},
      {"frames' keys past the last frame",
       frame(MessageType::FrameKeys, "\xFF\xFF\xFF\xFF\0\0\x02\x01k\x01k"s)},
      {"frames' keys counting more than they hold",
       frame(MessageType::FrameKeys, "\0\0\0\x01\0\0\x02\x01k"s)},
      {"more checksums than a message carries",
       frame(MessageType::FrameChecksums, "\0\0\0\x01\x41"s + std::string(4 * 65, 'c'))},
      {"checksums with a byte after them",
       frame(MessageType::FrameChecksums, "\0\0\0\x01\x01sum!!"s)},
      {"a battle's end cut short", frame(MessageType::BattleOver, "\0\0\x01"s)},
  };
  for (const auto& malformedCase : cases) {
    SCOPED_TRACE(malformedCase.what);
    MessageDecoder decoder;
    EXPECT_EQ(decoder.feed(malformedCase.bytes), malformedCase.bytes.size());
    EXPECT_TRUE(std::holds_alternative<MalformedMessage>(decoder.next()));
    // Failed for good: a sound message after it is not read.
    const std::string ping = encoded(Ping{9});
    EXPECT_EQ(decoder.feed(ping), ping.size());
    EXPECT_TRUE(std::holds_alternative<MalformedMessage>(decoder.next()));
  }
}

TEST(WireFormat, WhatAPeerWouldRefuseIsNeverWritten) {
  const Message refused[] = {
      Keys{std::string(kMostKeysPerMessage + 1, 'k')},
      Keys{""},
      Hello{kProtocolVersion, Role::Pilot, "two words", "", RoomWanted::Named, ""},
      Goodbye{std::string(kLongestText + 1, 'g')},
      Goodbye{std::string(300, 'g')},  // more than a length byte can count
      Welcome{Role::Watcher, 200, 200, ""},
      Welcome{Role::Pilot, 80, 25, "two words"},
      WholeScreen{2, 2, Cursor{}, std::vector<Cell>(3)},
      ScreenChanges{Cursor{}, {CellRun{0, 0, std::vector<Cell>(kLongestMessage / kCellBytes)}}},
      // A lobby only looks, and a listed room is one the server names.
      Hello{kProtocolVersion, Role::Lobby, "", "duel-9", RoomWanted::Named, ""},
      Hello{kProtocolVersion, Role::Watcher, "", "", RoomWanted::QuickMatch, ""},
      Hello{kProtocolVersion, Role::Pilot, "", "duel-9", RoomWanted::NewListed, ""},
      LobbyView{0, 0},
      LobbyView{0, kMostLobbyRows + 1},
      // A pilot's name can never break a lobby's rows.
      LobbyRooms{
          1, {{0, ListedRoom{"r", RoomActivity::Menus, "A\x1b[2J", "", 0, 0, 0, 0, false, 0, 0}}}},
      LobbyRooms{1,
                 {{0, ListedRoom{"r", RoomActivity::Menus, std::string(17, 'a'), "", 0, 0, 0, 0,
                                 false, 0, 0}}}},
      LobbyRooms{1, {{0, ListedRoom{"", RoomActivity::Menus, "", "", 0, 0, 0, 0, false, 0, 0}}}},
      LobbyRooms{
          1, {{0, ListedRoom{"r", static_cast<RoomActivity>(4), "", "", 0, 0, 0, 0, false, 0, 0}}}},
      BattleStart{2, 8, 0, "s"},
      BattleStart{0, 0, 0, "s"},
      BattleStart{0, kMostCorrectionFrames + 1, 0, "s"},
      BattleStart{0, 8, 0, ""},
      BattleRepair{1, std::string(kLongestBattleState + 1, 's')},
      FrameKeys{0, 0, {FrameKey{}}},
      FrameKeys{1, 0, {}},
      FrameKeys{1, 0, std::vector<FrameKey>(kMostFramesPerMessage + 1)},
      FrameKeys{0xFFFFFFFF, 0, {FrameKey{}, FrameKey{}}},
      FrameChecksums{1, {}},
      FrameChecksums{0, {1}},
      FrameChecksums{1, std::vector<std::uint32_t>(kMostFramesPerMessage + 1)},
  };
  for (const Message& message : refused) {
    SCOPED_TRACE(message.index());
    std::string out = "before";
    EXPECT_FALSE(encodeMessage(message, out));
    EXPECT_EQ(out, "before");
  }
}

}  // namespace
}  // namespace skyrazor::network
