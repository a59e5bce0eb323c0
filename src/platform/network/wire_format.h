#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "console/screen.h"
#include "console/seam.h"

// The messages two Skyrazor terminals exchange over the network, and their
// bytes. The host's game is the only game: a joined pilot sends keys, the host
// sends the picture. Every message is framed the same way: a 4-byte big-endian
// length counting what follows, a one-byte message type, the payload.
// doc/protocol.md writes the layouts down byte by byte.
namespace skyrazor::network {

inline constexpr std::uint16_t kProtocolVersion = 6;
// The oldest version a host or server still takes in: its hello is laid out
// as this version's, and it is never sent a message newer than its own.
inline constexpr std::uint16_t kOldestServedVersion = 5;
// The first version whose terminals play a two-person battle themselves (a duel).
inline constexpr std::uint16_t kFirstDuelVersion = 6;
// The longest a host or server holds back its answer to a hello, after wrong
// guesses from the hello's address; a joining terminal waits this long for
// its answer, and the link's round trip on top.
inline constexpr std::chrono::milliseconds kLongestHeldAnswer{4000};
// The first eight bytes of every hello, whatever its version.
inline constexpr std::string_view kHelloMagic = "SKYRAZOR";

inline constexpr std::size_t kLengthPrefixBytes = 4;
// The most a length prefix may count (type byte and payload): well above a
// whole 80x25 picture (6014 bytes framed), and little to buffer per connection.
inline constexpr std::size_t kLongestMessage = 16 * 1024;

inline constexpr std::size_t kLongestJoinCode = 16;
inline constexpr std::size_t kLongestRoomName = 32;
// An address as people write it: the longest IPv6 one with an IPv4 tail.
inline constexpr std::size_t kLongestAddress = 45;
// A refusal's or goodbye's text: one line on the player's screen.
inline constexpr std::size_t kLongestText = 120;
inline constexpr std::size_t kMostKeysPerMessage = 64;
// A pilot's name as a lobby shows it: cut to this many bytes.
inline constexpr std::size_t kLongestListedPilot = 16;
// The most rows of a server's listing a lobby may ask for at once: more than
// any window shows, little to send.
inline constexpr std::size_t kMostLobbyRows = 50;
// A battle's state as the game writes it, handed to a duel's terminal whole.
inline constexpr std::size_t kLongestBattleState = 12 * 1024;
// Battle frames' keys or checksums in one message.
inline constexpr std::size_t kMostFramesPerMessage = 64;
// How far back a duel's correction may reach, in battle frames.
inline constexpr std::uint16_t kMostCorrectionFrames = 1000;
// Each cell takes three bytes: its byte and its 16-bit attribute.
inline constexpr std::size_t kCellBytes = 3;
inline constexpr std::size_t kCursorBytes = 5;
// A run of changed cells: its row, first column and cell count, then its cells.
inline constexpr std::size_t kRunHeaderBytes = 6;
// The largest picture a whole screen can carry (5458 cells at 16 KiB).
inline constexpr std::size_t kMostPictureCells =
    (kLongestMessage - 1 - 4 - kCursorBytes) / kCellBytes;

// The type byte of each message. A number, once given, keeps its meaning in
// every version of the protocol.
enum class MessageType : std::uint8_t {
  Hello = 1,
  Welcome = 2,
  Refusal = 3,
  Keys = 4,
  WholeScreen = 5,
  ScreenChanges = 6,
  Ping = 7,
  Pong = 8,
  Goodbye = 9,
  SeatChange = 10,
  RoomSeats = 11,
  LobbyView = 12,
  LobbyRooms = 13,
  BattleStart = 14,
  FrameKeys = 15,
  FrameChecksums = 16,
  BattleRepair = 17,
  BattleOver = 18,
};

// A hello asks for a pilot's or a watcher's seat; a welcome or a seat change
// may also give a server room's host seat.
enum class Role : std::uint8_t {
  Pilot = 1,    // flies the right ship: sends keys, sees the picture
  Watcher = 2,  // only sees the picture
  // The first keyboard of a server's room: its menus, prompts and the left ship.
  RoomHost = 3,
  // A server's lobby: the list of its rooms, before entering one. Asked for
  // by a terminal that does not yet know whether it reaches a server; a host
  // of one game, which has no lobby, takes it as asking for pilot 2's seat.
  Lobby = 4,
};

// Which room a hello at a server asks for. Joining takes only a room that is
// there (no name: a new room under a fresh name); a new room is opened under
// the name given, which must be free, so that a mistyped name never opens an
// empty room that nobody else will find.
//
// A room opened by name, or under a fresh name with no name given, is
// private: joined only by its name, never listed in a lobby. A new listed
// room, or the one quick match opens, is listed (both ask with no name).
enum class RoomWanted : std::uint8_t {
  Named = 0,
  NewNamed = 1,
  // Pilot 2's seat in the listed room that has waited longest for one, else
  // a new listed room to host.
  QuickMatch = 2,
  NewListed = 3,
};

// The first message on every connection, from the terminal that joins or
// watches. Versions kOldestServedVersion to kProtocolVersion lay it out
// alike. A hello of another version is read as far as its version (the
// rest of its layout is that version's business): the other fields are then
// left as they start, so that the host can still refuse it readably. One is
// written as its magic and version alone.
struct Hello {
  std::uint16_t version = kProtocolVersion;
  Role role = Role::Pilot;
  std::string joinCode;  // visible ASCII, at most kLongestJoinCode bytes, may be empty
  std::string roomName;  // visible ASCII, at most kLongestRoomName bytes, may be empty
  RoomWanted roomWanted = RoomWanted::Named;
  // Where the player really is, said by the server's own ssh entrance on the
  // server's local socket (a player who came in over ssh would otherwise be
  // the server's own machine). Empty on every other connection.
  std::string playerAddress;  // visible ASCII, at most kLongestAddress bytes
  bool operator==(const Hello&) const = default;
};

// The host takes the connection in: the seat it gave, the picture's size and,
// at a server, the room's name (the one asked for, or the fresh one it opened).
struct Welcome {
  Role role = Role::Pilot;
  std::uint16_t columns = 80;
  std::uint16_t rows = 25;
  std::string roomName;  // visible ASCII, at most kLongestRoomName bytes; empty at a host
  bool operator==(const Welcome&) const = default;
};

// Why a host turns a hello down. A reader may meet a reason newer than it
// knows; it shows the refusal's text all the same.
enum class RefusalReason : std::uint8_t {
  WrongCode = 1,
  VersionMismatch = 2,
  SeatTaken = 3,
  RoomFull = 4,
  TooManyConnections = 5,
  MalformedHello = 6,
  NoSuchRoom = 7,
  TooManyRooms = 8,
  RoomNameTaken = 9,
};

// The host's answer to a hello it does not take; the connection closes after it.
struct Refusal {
  RefusalReason reason = RefusalReason::MalformedHello;
  std::string text;  // printable ASCII, at most kLongestText bytes
  bool operator==(const Refusal&) const = default;
};

// Keys the joined pilot pressed, in order: 1 to kMostKeysPerMessage bytes.
struct Keys {
  std::string bytes;
  bool operator==(const Keys&) const = default;
};

// Where the cursor is and how it shows: shape 0 hides it, 1 to 100 shows it
// that many percent of a cell high (100 is a block).
struct Cursor {
  std::uint16_t column = 0;
  std::uint16_t row = 0;
  std::uint8_t shape = 0;
  bool operator==(const Cursor&) const = default;
};

// The whole picture, row by row: what a peer that holds nothing yet is sent.
struct WholeScreen {
  std::uint16_t columns = 0;
  std::uint16_t rows = 0;
  Cursor cursor;
  std::vector<Cell> cells;  // columns * rows of them, top row first
};
bool operator==(const WholeScreen& left, const WholeScreen& right);

// Cells changed side by side in one row.
struct CellRun {
  std::uint16_t row = 0;
  std::uint16_t firstColumn = 0;
  std::vector<Cell> cells;  // at least one
};
bool operator==(const CellRun& left, const CellRun& right);

// The cells that changed since the last picture sent, and the cursor.
struct ScreenChanges {
  Cursor cursor;
  std::vector<CellRun> runs;  // may be none when only the cursor moved
  bool operator==(const ScreenChanges&) const = default;
};

// A heartbeat: the sender's clock in microseconds, echoed back in a pong.
struct Ping {
  std::uint64_t timestamp = 0;
  bool operator==(const Ping&) const = default;
};
struct Pong {
  std::uint64_t timestamp = 0;
  bool operator==(const Pong&) const = default;
};

// A server's room moved this terminal to another seat: its host left, and
// the next in line holds the first keyboard (or pilot 2's) now.
struct SeatChange {
  Role role = Role::Watcher;
  bool operator==(const SeatChange&) const = default;
};

// Who sits in a server's room: whether pilot 2's seat is taken and how many
// watch (the terminal told counts too). Every terminal of the room is told
// when it changes.
struct RoomSeats {
  bool pilotSeated = false;
  std::uint16_t watchers = 0;
  bool operator==(const RoomSeats&) const = default;
};

// The goodbye's reason when the host's game is over: the joined terminal
// then leaves as from a game that ended, not one that was lost.
inline constexpr std::string_view kGameEndedReason = "the host has ended the game";
// A server's goodbye to every terminal when it is stopped: an end as clean.
inline constexpr std::string_view kServerStoppedReason = "the server has stopped";

// The last message either way before a connection is closed on purpose.
struct Goodbye {
  std::string reason;  // printable ASCII, at most kLongestText bytes
  bool operator==(const Goodbye&) const = default;
};

// Which rows of a server's listing a lobby shows: `rows` of them from
// `firstIndex` (counted from 0). The server sends those rows' news.
struct LobbyView {
  std::uint16_t firstIndex = 0;
  std::uint8_t rows = 0;  // 1 to kMostLobbyRows
  bool operator==(const LobbyView&) const = default;
};

// What a listed room's game is doing.
enum class RoomActivity : std::uint8_t {
  Menus = 0,
  TwoPersonBattle = 1,
  ComputerBattle = 2,
  ArcadeRun = 3,
};

// One row of a server's listing. Pilots' names come as the game holds them,
// made safe for any picture: at most kLongestListedPilot bytes, none of them
// a control byte.
struct ListedRoom {
  std::string name;  // as a Welcome carries it
  RoomActivity activity = RoomActivity::Menus;
  std::string leftPilot;           // the two-person battle's pilots, the arcade's or
  std::string rightPilot;          // the computer battle's player, and its opponent
  std::uint8_t leftHitPoints = 0;  // in a battle
  std::uint8_t rightHitPoints = 0;
  std::uint8_t computerLevel = 0;  // 1 to 9 in a battle against the computer
  std::uint16_t arcadeWins = 0;
  bool pilot2Free = false;
  std::uint16_t watchers = 0;
  std::uint32_t openSeconds = 0;  // how long it has been open, when sent
  bool operator==(const ListedRoom&) const = default;
};

// News of a lobby's rows: how many rooms are listed now, and the rows in its
// view that changed since it was last told (each at its index). A row at or
// past `listed` is gone.
struct LobbyRooms {
  std::uint16_t listed = 0;
  std::vector<std::pair<std::uint16_t, ListedRoom>> rows;  // at most kMostLobbyRows
  bool operator==(const LobbyRooms&) const = default;
};

// --- The duel: a two-person battle whose pilots both sit at terminals of
// version kFirstDuelVersion or later. Each pilot's terminal plays the battle
// itself from the state it is handed, its own pilot's keys at once and the
// other pilot's as they come; the host (or server) keeps the game that counts.

// One pilot's key in one battle frame: console/seam.h's FrameKey.

// The battle handed over to a pilot's terminal at its first frame, so that
// it plays the battle itself.
struct BattleStart {
  std::uint8_t ship =
      0;  // the ship the receiver flies: 0 the left (pilot 1), 1 the right (pilot 2)
  std::uint16_t correctionFrames =
      8;                    // how far back a correction may reach: 1 to kMostCorrectionFrames
  std::uint32_t frame = 0;  // frames played before this state (0 at the battle's start)
  std::string state;        // 1 to kLongestBattleState bytes, as the game writes them (opaque here)
  bool operator==(const BattleStart&) const = default;
};

// The host's state after `frame` frames, for a terminal whose checksum
// showed that its battle had drifted.
struct BattleRepair {
  std::uint32_t frame = 0;
  std::string state;  // 1 to kLongestBattleState bytes
  bool operator==(const BattleRepair&) const = default;
};

// Keys of consecutive battle frames from firstFrame (counted from 1): a
// pilot's terminal sends its own pilot's; the host or server sends each
// pilot's terminal the other pilot's. delayMs: how long the keys took from
// the pilot who pressed them to the host or server, as that pilot's terminal
// reckons it (half its round trip; 0 for keys pressed at the host's own
// keyboard); a server passes it on unchanged.
struct FrameKeys {
  std::uint32_t firstFrame = 1;
  std::uint16_t delayMs = 0;
  std::vector<FrameKey> keys;  // 1 to kMostFramesPerMessage
  bool operator==(const FrameKeys&) const = default;
};

// A pilot's terminal's checksums of its final frames (those whose both
// pilots' keys it knows), from firstFrame.
struct FrameChecksums {
  std::uint32_t firstFrame = 1;
  std::vector<std::uint32_t> checksums;  // 1 to kMostFramesPerMessage
  bool operator==(const FrameChecksums&) const = default;
};

// The battle is over at the host after `frames` frames (or was given up):
// the terminal shows the host's picture again.
struct BattleOver {
  std::uint32_t frames = 0;
  bool operator==(const BattleOver&) const = default;
};

using Message = std::variant<Hello, Welcome, Refusal, Keys, WholeScreen, ScreenChanges, Ping, Pong,
                             Goodbye, SeatChange, RoomSeats, LobbyView, LobbyRooms, BattleStart,
                             FrameKeys, FrameChecksums, BattleRepair, BattleOver>;

// Whether a hello of `version` is laid out as this end's own.
bool isServedVersion(std::uint16_t version);

// Why bytes from a peer are not a message; the connection they came on is done.
struct MalformedMessage {
  std::string reason;
  bool operator==(const MalformedMessage&) const = default;
};

// Whether a type byte names a message this end knows.
bool isKnownMessageType(std::uint8_t type);

// Reads one message's type byte and payload (the frame's length prefix taken
// off). Anything that is not exactly one message of a known type is malformed.
std::variant<Message, MalformedMessage> decodeMessage(std::uint8_t type, std::string_view payload);

// Appends the framed bytes of `message` to `out`. A message the protocol does
// not allow (a key count, a text or a picture over its bound, a cursor outside
// the picture...) is not appended, and the answer is false: what a peer would
// refuse is never sent.
bool encodeMessage(const Message& message, std::string& out);

}  // namespace skyrazor::network
