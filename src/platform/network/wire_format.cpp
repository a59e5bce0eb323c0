#include "platform/network/wire_format.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <type_traits>

namespace skyrazor::network {

namespace {

constexpr std::uint8_t kMostCursorShape = 100;

bool sameCells(const std::vector<Cell>& left, const std::vector<Cell>& right) {
  return std::equal(left.begin(), left.end(), right.begin(), right.end(),
                    [](const Cell& one, const Cell& other) {
                      return one.byte == other.byte && one.attribute == other.attribute;
                    });
}

// Join codes and room names are typed on a command line: no blanks, no controls.
bool isVisibleText(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char character) { return character >= '!' && character <= '~'; });
}

// A refusal's or goodbye's text lands on the player's terminal as it is, so
// it holds no control bytes that could move the cursor or change colours.
bool isPrintableText(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char character) { return character >= ' ' && character <= '~'; });
}

// The bytes of a message being written. A count too large for its field
// marks the message as not writable rather than wrapping round.
class PayloadWriter {
 public:
  explicit PayloadWriter(std::string& out) : out_(out) {}

  template <typename Number>
  void number(Number value) {
    static_assert(std::is_unsigned_v<Number>);
    for (int shift = static_cast<int>(sizeof(Number) * 8) - 8; shift >= 0; shift -= 8) {
      out_.push_back(static_cast<char>((value >> shift) & 0xFF));
    }
  }

  template <typename Count>
  void count(std::size_t value) {
    if (value > std::numeric_limits<Count>::max()) {
      overflowed_ = true;
      return;
    }
    number(static_cast<Count>(value));
  }

  void bytes(std::string_view bytes) { out_.append(bytes); }

  // One length byte, then the text.
  void text(std::string_view text) {
    count<std::uint8_t>(text.size());
    bytes(text);
  }

  void cells(const std::vector<Cell>& cells) {
    for (const Cell& cell : cells) {
      number(cell.byte);
      number(cell.attribute);
    }
  }

  void cursor(const Cursor& cursor) {
    number(cursor.column);
    number(cursor.row);
    number(cursor.shape);
  }

  bool overflowed() const { return overflowed_; }

 private:
  std::string& out_;
  bool overflowed_ = false;
};

// The bytes of a payload being read, front to back; a read past its end fails.
class PayloadReader {
 public:
  explicit PayloadReader(std::string_view payload) : rest_(payload) {}

  template <typename Number>
  bool number(Number& value) {
    static_assert(std::is_unsigned_v<Number>);
    if (rest_.size() < sizeof(Number)) {
      return false;
    }
    value = 0;
    for (std::size_t index = 0; index < sizeof(Number); ++index) {
      value = static_cast<Number>((value << 8) | static_cast<unsigned char>(rest_[index]));
    }
    rest_.remove_prefix(sizeof(Number));
    return true;
  }

  bool bytes(std::size_t count, std::string_view& bytes) {
    if (rest_.size() < count) {
      return false;
    }
    bytes = rest_.substr(0, count);
    rest_.remove_prefix(count);
    return true;
  }

  // One length byte, then the text; at most `longest` bytes of it.
  bool text(std::size_t longest, std::string& text) {
    std::uint8_t length = 0;
    std::string_view bytesRead;
    if (!number(length) || length > longest || !bytes(length, bytesRead)) {
      return false;
    }
    text.assign(bytesRead);
    return true;
  }

  // `count` cells, reserved only once the payload is known to hold them all.
  bool cells(std::size_t count, std::vector<Cell>& cells) {
    if (rest_.size() / kCellBytes < count) {
      return false;
    }
    cells.reserve(count);
    for (std::size_t index = 0; index < count; ++index) {
      Cell cell;
      number(cell.byte);
      number(cell.attribute);
      cells.push_back(cell);
    }
    return true;
  }

  bool cursor(Cursor& cursor) {
    return number(cursor.column) && number(cursor.row) && number(cursor.shape);
  }

  std::size_t remaining() const { return rest_.size(); }
  bool atEnd() const { return rest_.empty(); }

 private:
  std::string_view rest_;
};

using Decoded = std::variant<Message, MalformedMessage>;

Decoded malformed(std::string reason) {
  return MalformedMessage{std::move(reason)};
}

// What every payload owes at its end: nothing left over.
Decoded finished(const PayloadReader& reader, Message message, std::string_view name) {
  if (!reader.atEnd()) {
    return malformed(std::string(name) + " with bytes after its end");
  }
  return message;
}

// A listed pilot's name lands in a lobby's rows: any glyph of the code
// page, but nothing a console takes as a control.
bool isListableName(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char character) {
    const auto byte = static_cast<unsigned char>(character);
    return byte >= 0x20 && byte != 0x7F;
  });
}

// What a hello may ask for.
bool isAskedRole(std::uint8_t value) {
  return value == static_cast<std::uint8_t>(Role::Pilot) ||
         value == static_cast<std::uint8_t>(Role::Watcher) ||
         value == static_cast<std::uint8_t>(Role::Lobby);
}

bool isRoomWanted(std::uint8_t value) {
  return value <= static_cast<std::uint8_t>(RoomWanted::NewListed);
}

// What a welcome or a seat change may give: a seat in a room, or a lobby.
bool isGivenRole(std::uint8_t value) {
  return isAskedRole(value) || value == static_cast<std::uint8_t>(Role::RoomHost);
}

bool isRoomActivity(std::uint8_t value) {
  return value <= static_cast<std::uint8_t>(RoomActivity::ArcadeRun);
}

bool isPictureSize(std::uint16_t columns, std::uint16_t rows) {
  return columns > 0 && rows > 0 && static_cast<std::size_t>(columns) * rows <= kMostPictureCells;
}

Decoded decodeHello(PayloadReader reader) {
  std::string_view magic;
  if (!reader.bytes(kHelloMagic.size(), magic) || magic != kHelloMagic) {
    return malformed("a hello without the Skyrazor magic");
  }
  Hello hello;
  if (!reader.number(hello.version)) {
    return malformed("a hello without its version");
  }
  if (!isServedVersion(hello.version)) {
    return hello;  // the rest is laid out as its own version says
  }
  std::uint8_t role = 0;
  if (!reader.number(role) || !isAskedRole(role)) {
    return malformed("a hello without a pilot's, a watcher's or a lobby's role");
  }
  hello.role = static_cast<Role>(role);
  if (!reader.text(kLongestJoinCode, hello.joinCode) || !isVisibleText(hello.joinCode)) {
    return malformed("a hello whose join code is cut short, too long or not visible ASCII");
  }
  if (!reader.text(kLongestRoomName, hello.roomName) || !isVisibleText(hello.roomName)) {
    return malformed("a hello whose room name is cut short, too long or not visible ASCII");
  }
  std::uint8_t wanted = 0;
  if (!reader.number(wanted) || !isRoomWanted(wanted)) {
    return malformed("a hello without the room it wants");
  }
  hello.roomWanted = static_cast<RoomWanted>(wanted);
  if (hello.roomWanted == RoomWanted::NewNamed && hello.roomName.empty()) {
    return malformed("a hello asking for a new room without its name");
  }
  const bool listedRoomWanted =
      hello.roomWanted == RoomWanted::QuickMatch || hello.roomWanted == RoomWanted::NewListed;
  if (listedRoomWanted && (hello.role != Role::Pilot || !hello.roomName.empty())) {
    return malformed("a hello asking for a listed room with a name, or not to play");
  }
  if (hello.role == Role::Lobby &&
      (hello.roomWanted != RoomWanted::Named || !hello.roomName.empty())) {
    return malformed("a hello asking for a lobby and a room at once");
  }
  if (!reader.text(kLongestAddress, hello.playerAddress) || !isVisibleText(hello.playerAddress)) {
    return malformed("a hello whose player's address is cut short, too long or not visible ASCII");
  }
  return finished(reader, hello, "a hello");
}

Decoded decodeWelcome(PayloadReader reader) {
  std::uint8_t role = 0;
  Welcome welcome;
  if (!reader.number(role) || !reader.number(welcome.columns) || !reader.number(welcome.rows)) {
    return malformed("a welcome cut short");
  }
  if (!isGivenRole(role)) {
    return malformed("a welcome to an unknown role");
  }
  if (!isPictureSize(welcome.columns, welcome.rows)) {
    return malformed("a welcome to a picture no whole screen can carry");
  }
  if (!reader.text(kLongestRoomName, welcome.roomName) || !isVisibleText(welcome.roomName)) {
    return malformed("a welcome whose room name is cut short, too long or not visible ASCII");
  }
  welcome.role = static_cast<Role>(role);
  return finished(reader, welcome, "a welcome");
}

Decoded decodeSeatChange(PayloadReader reader) {
  std::uint8_t role = 0;
  if (!reader.number(role) || !isGivenRole(role)) {
    return malformed("a seat change to no known seat");
  }
  return finished(reader, SeatChange{static_cast<Role>(role)}, "a seat change");
}

Decoded decodeRoomSeats(PayloadReader reader) {
  std::uint8_t pilotSeated = 0;
  RoomSeats seats;
  if (!reader.number(pilotSeated) || pilotSeated > 1 || !reader.number(seats.watchers)) {
    return malformed("a room's seats cut short, or pilot 2's neither taken nor free");
  }
  seats.pilotSeated = pilotSeated == 1;
  return finished(reader, seats, "a room's seats");
}

Decoded decodeRefusal(PayloadReader reader) {
  std::uint8_t reason = 0;
  Refusal refusal;
  if (!reader.number(reason) || !reader.text(kLongestText, refusal.text) ||
      !isPrintableText(refusal.text)) {
    return malformed("a refusal cut short, or its text too long or not printable");
  }
  // Any reason is kept: a newer host may give one this reader does not know.
  refusal.reason = static_cast<RefusalReason>(reason);
  return finished(reader, refusal, "a refusal");
}

Decoded decodeKeys(PayloadReader reader) {
  std::uint8_t count = 0;
  std::string_view bytes;
  if (!reader.number(count) || count == 0 || count > kMostKeysPerMessage ||
      !reader.bytes(count, bytes)) {
    return malformed("keys cut short, or none, or more than one message may carry");
  }
  return finished(reader, Keys{std::string(bytes)}, "keys");
}

Decoded decodeWholeScreen(PayloadReader reader) {
  WholeScreen screen;
  if (!reader.number(screen.columns) || !reader.number(screen.rows) ||
      !reader.cursor(screen.cursor)) {
    return malformed("a whole screen cut short");
  }
  if (!isPictureSize(screen.columns, screen.rows)) {
    return malformed("a whole screen of no cells or more than a message may carry");
  }
  if (screen.cursor.column >= screen.columns || screen.cursor.row >= screen.rows ||
      screen.cursor.shape > kMostCursorShape) {
    return malformed("a whole screen with its cursor outside it or of no known shape");
  }
  if (!reader.cells(static_cast<std::size_t>(screen.columns) * screen.rows, screen.cells)) {
    return malformed("a whole screen with fewer cells than its size");
  }
  return finished(reader, std::move(screen), "a whole screen");
}

Decoded decodeScreenChanges(PayloadReader reader) {
  ScreenChanges changes;
  std::uint16_t runCount = 0;
  if (!reader.cursor(changes.cursor) || !reader.number(runCount)) {
    return malformed("screen changes cut short");
  }
  if (changes.cursor.shape > kMostCursorShape) {
    return malformed("screen changes with a cursor of no known shape");
  }
  if (reader.remaining() / (kRunHeaderBytes + kCellBytes) < runCount) {
    return malformed("screen changes with more runs than their bytes can hold");
  }
  changes.runs.reserve(runCount);
  for (std::uint16_t index = 0; index < runCount; ++index) {
    CellRun run;
    std::uint16_t cellCount = 0;
    if (!reader.number(run.row) || !reader.number(run.firstColumn) || !reader.number(cellCount) ||
        !reader.cells(cellCount, run.cells)) {
      return malformed("screen changes with a run cut short");
    }
    if (cellCount == 0) {
      return malformed("screen changes with an empty run");
    }
    changes.runs.push_back(std::move(run));
  }
  return finished(reader, std::move(changes), "screen changes");
}

Decoded decodeLobbyView(PayloadReader reader) {
  LobbyView view;
  if (!reader.number(view.firstIndex) || !reader.number(view.rows) || view.rows == 0 ||
      view.rows > kMostLobbyRows) {
    return malformed("a lobby's view cut short, or of no rows or more than it may ask for");
  }
  return finished(reader, view, "a lobby's view");
}

bool readListedRoom(PayloadReader& reader, ListedRoom& room) {
  std::uint8_t activity = 0;
  std::uint8_t pilot2Free = 0;
  const bool read = reader.text(kLongestRoomName, room.name) && reader.number(activity) &&
                    reader.text(kLongestListedPilot, room.leftPilot) &&
                    reader.text(kLongestListedPilot, room.rightPilot) &&
                    reader.number(room.leftHitPoints) && reader.number(room.rightHitPoints) &&
                    reader.number(room.computerLevel) && reader.number(room.arcadeWins) &&
                    reader.number(pilot2Free) && reader.number(room.watchers) &&
                    reader.number(room.openSeconds);
  if (!read || room.name.empty() || !isVisibleText(room.name) || !isRoomActivity(activity) ||
      !isListableName(room.leftPilot) || !isListableName(room.rightPilot) || pilot2Free > 1) {
    return false;
  }
  room.activity = static_cast<RoomActivity>(activity);
  room.pilot2Free = pilot2Free == 1;
  return true;
}

Decoded decodeLobbyRooms(PayloadReader reader) {
  LobbyRooms rooms;
  std::uint8_t count = 0;
  if (!reader.number(rooms.listed) || !reader.number(count) || count > kMostLobbyRows) {
    return malformed("a lobby's rooms cut short, or more rows than a lobby may ask for");
  }
  for (std::uint8_t index = 0; index < count; ++index) {
    std::pair<std::uint16_t, ListedRoom> row;
    if (!reader.number(row.first) || !readListedRoom(reader, row.second)) {
      return malformed("a lobby's room cut short, or with a name, pilot or activity out of bounds");
    }
    rooms.rows.push_back(std::move(row));
  }
  return finished(reader, std::move(rooms), "a lobby's rooms");
}

template <typename Heartbeat>
Decoded decodeHeartbeat(PayloadReader reader, std::string_view name) {
  Heartbeat heartbeat;
  if (!reader.number(heartbeat.timestamp)) {
    return malformed(std::string(name) + " cut short");
  }
  return finished(reader, heartbeat, name);
}

Decoded decodeGoodbye(PayloadReader reader) {
  Goodbye goodbye;
  if (!reader.text(kLongestText, goodbye.reason) || !isPrintableText(goodbye.reason)) {
    return malformed("a goodbye cut short, or its text too long or not printable");
  }
  return finished(reader, goodbye, "a goodbye");
}

// A battle's state, its length in two bytes: never empty, never past its bound.
bool readBattleState(PayloadReader& reader, std::string& state) {
  std::uint16_t length = 0;
  std::string_view bytes;
  if (!reader.number(length) || length == 0 || length > kLongestBattleState ||
      !reader.bytes(length, bytes)) {
    return false;
  }
  state.assign(bytes);
  return true;
}

// Frames are counted from 1, and the last one a message speaks of is still
// one a 32-bit count reaches.
bool isFrameRange(std::uint32_t firstFrame, std::size_t count) {
  return firstFrame >= 1 && count >= 1 && count <= kMostFramesPerMessage &&
         firstFrame - 1 <= std::numeric_limits<std::uint32_t>::max() - count;
}

Decoded decodeBattleStart(PayloadReader reader) {
  BattleStart start;
  if (!reader.number(start.ship) || !reader.number(start.correctionFrames) ||
      !reader.number(start.frame) || !readBattleState(reader, start.state)) {
    return malformed("a battle's start cut short, or its state empty or too long");
  }
  if (start.ship > 1 || start.correctionFrames == 0 ||
      start.correctionFrames > kMostCorrectionFrames) {
    return malformed("a battle's start for no known ship, or correcting no frames or too many");
  }
  return finished(reader, std::move(start), "a battle's start");
}

Decoded decodeBattleRepair(PayloadReader reader) {
  BattleRepair repair;
  if (!reader.number(repair.frame) || !readBattleState(reader, repair.state)) {
    return malformed("a battle's repair cut short, or its state empty or too long");
  }
  return finished(reader, std::move(repair), "a battle's repair");
}

Decoded decodeFrameKeys(PayloadReader reader) {
  FrameKeys keys;
  std::uint8_t count = 0;
  if (!reader.number(keys.firstFrame) || !reader.number(keys.delayMs) || !reader.number(count) ||
      !isFrameRange(keys.firstFrame, count) || reader.remaining() < 2u * count) {
    return malformed("frames' keys cut short, or from frame 0, or none or too many");
  }
  keys.keys.reserve(count);
  for (std::uint8_t index = 0; index < count; ++index) {
    std::uint8_t pressed = 0;
    FrameKey key;
    reader.number(pressed);
    reader.number(key.byte);
    if (pressed > 1) {
      return malformed("a frame's key neither pressed nor not");
    }
    key.pressed = pressed == 1;
    keys.keys.push_back(key);
  }
  return finished(reader, std::move(keys), "frames' keys");
}

Decoded decodeFrameChecksums(PayloadReader reader) {
  FrameChecksums sums;
  std::uint8_t count = 0;
  if (!reader.number(sums.firstFrame) || !reader.number(count) ||
      !isFrameRange(sums.firstFrame, count) || reader.remaining() < 4u * count) {
    return malformed("frames' checksums cut short, or from frame 0, or none or too many");
  }
  sums.checksums.resize(count);
  for (std::uint32_t& checksum : sums.checksums) {
    reader.number(checksum);
  }
  return finished(reader, std::move(sums), "frames' checksums");
}

Decoded decodeBattleOver(PayloadReader reader) {
  BattleOver over;
  if (!reader.number(over.frames)) {
    return malformed("a battle's end cut short");
  }
  return finished(reader, over, "a battle's end");
}

struct PayloadEncoder {
  PayloadWriter& writer;

  void operator()(const Hello& hello) const {
    writer.bytes(kHelloMagic);
    writer.number(hello.version);
    if (!isServedVersion(hello.version)) {
      return;  // this end knows no other version's layout
    }
    writer.number(static_cast<std::uint8_t>(hello.role));
    writer.text(hello.joinCode);
    writer.text(hello.roomName);
    writer.number(static_cast<std::uint8_t>(hello.roomWanted));
    writer.text(hello.playerAddress);
  }
  void operator()(const Welcome& welcome) const {
    writer.number(static_cast<std::uint8_t>(welcome.role));
    writer.number(welcome.columns);
    writer.number(welcome.rows);
    writer.text(welcome.roomName);
  }
  void operator()(const Refusal& refusal) const {
    writer.number(static_cast<std::uint8_t>(refusal.reason));
    writer.text(refusal.text);
  }
  void operator()(const Keys& keys) const {
    writer.count<std::uint8_t>(keys.bytes.size());
    writer.bytes(keys.bytes);
  }
  void operator()(const WholeScreen& screen) const {
    writer.number(screen.columns);
    writer.number(screen.rows);
    writer.cursor(screen.cursor);
    writer.cells(screen.cells);
  }
  void operator()(const ScreenChanges& changes) const {
    writer.cursor(changes.cursor);
    writer.count<std::uint16_t>(changes.runs.size());
    for (const CellRun& run : changes.runs) {
      writer.number(run.row);
      writer.number(run.firstColumn);
      writer.count<std::uint16_t>(run.cells.size());
      writer.cells(run.cells);
    }
  }
  void operator()(const Ping& ping) const { writer.number(ping.timestamp); }
  void operator()(const Pong& pong) const { writer.number(pong.timestamp); }
  void operator()(const Goodbye& goodbye) const { writer.text(goodbye.reason); }
  void operator()(const SeatChange& change) const {
    writer.number(static_cast<std::uint8_t>(change.role));
  }
  void operator()(const RoomSeats& seats) const {
    writer.number(static_cast<std::uint8_t>(seats.pilotSeated ? 1 : 0));
    writer.number(seats.watchers);
  }
  void operator()(const LobbyView& view) const {
    writer.number(view.firstIndex);
    writer.number(view.rows);
  }
  void operator()(const LobbyRooms& rooms) const {
    writer.number(rooms.listed);
    writer.count<std::uint8_t>(rooms.rows.size());
    for (const auto& [index, room] : rooms.rows) {
      writer.number(index);
      writer.text(room.name);
      writer.number(static_cast<std::uint8_t>(room.activity));
      writer.text(room.leftPilot);
      writer.text(room.rightPilot);
      writer.number(room.leftHitPoints);
      writer.number(room.rightHitPoints);
      writer.number(room.computerLevel);
      writer.number(room.arcadeWins);
      writer.number(static_cast<std::uint8_t>(room.pilot2Free ? 1 : 0));
      writer.number(room.watchers);
      writer.number(room.openSeconds);
    }
  }
  void operator()(const BattleStart& start) const {
    writer.number(start.ship);
    writer.number(start.correctionFrames);
    writer.number(start.frame);
    battleState(start.state);
  }
  void operator()(const FrameKeys& keys) const {
    writer.number(keys.firstFrame);
    writer.number(keys.delayMs);
    writer.count<std::uint8_t>(keys.keys.size());
    for (const FrameKey& key : keys.keys) {
      writer.number(static_cast<std::uint8_t>(key.pressed ? 1 : 0));
      writer.number(key.byte);
    }
  }
  void operator()(const FrameChecksums& sums) const {
    writer.number(sums.firstFrame);
    writer.count<std::uint8_t>(sums.checksums.size());
    for (const std::uint32_t checksum : sums.checksums) {
      writer.number(checksum);
    }
  }
  void operator()(const BattleRepair& repair) const {
    writer.number(repair.frame);
    battleState(repair.state);
  }
  void operator()(const BattleOver& over) const { writer.number(over.frames); }

  void battleState(const std::string& state) const {
    writer.count<std::uint16_t>(state.size());
    writer.bytes(state);
  }
};

// The type byte of each alternative of Message, in the order it lists them.
constexpr MessageType kTypeOfAlternative[] = {
    MessageType::Hello,          MessageType::Welcome,      MessageType::Refusal,
    MessageType::Keys,           MessageType::WholeScreen,  MessageType::ScreenChanges,
    MessageType::Ping,           MessageType::Pong,         MessageType::Goodbye,
    MessageType::SeatChange,     MessageType::RoomSeats,    MessageType::LobbyView,
    MessageType::LobbyRooms,     MessageType::BattleStart,  MessageType::FrameKeys,
    MessageType::FrameChecksums, MessageType::BattleRepair, MessageType::BattleOver,
};
static_assert(std::size(kTypeOfAlternative) == std::variant_size_v<Message>);

// The cells a screen message carries: more than a message can hold is refused
// before a byte of them is written.
std::size_t cellsCarried(const Message& message) {
  if (const auto* screen = std::get_if<WholeScreen>(&message)) {
    return screen->cells.size();
  }
  std::size_t cells = 0;
  if (const auto* changes = std::get_if<ScreenChanges>(&message)) {
    for (const CellRun& run : changes->runs) {
      cells += run.cells.size();
    }
  }
  return cells;
}

}  // namespace

bool operator==(const WholeScreen& left, const WholeScreen& right) {
  return left.columns == right.columns && left.rows == right.rows && left.cursor == right.cursor &&
         sameCells(left.cells, right.cells);
}

bool operator==(const CellRun& left, const CellRun& right) {
  return left.row == right.row && left.firstColumn == right.firstColumn &&
         sameCells(left.cells, right.cells);
}

bool isKnownMessageType(std::uint8_t type) {
  return type >= static_cast<std::uint8_t>(MessageType::Hello) &&
         type <= static_cast<std::uint8_t>(MessageType::BattleOver);
}

bool isServedVersion(std::uint16_t version) {
  return version >= kOldestServedVersion && version <= kProtocolVersion;
}

std::variant<Message, MalformedMessage> decodeMessage(std::uint8_t type, std::string_view payload) {
  const PayloadReader reader(payload);
  switch (static_cast<MessageType>(type)) {
    case MessageType::Hello:
      return decodeHello(reader);
    case MessageType::Welcome:
      return decodeWelcome(reader);
    case MessageType::Refusal:
      return decodeRefusal(reader);
    case MessageType::Keys:
      return decodeKeys(reader);
    case MessageType::WholeScreen:
      return decodeWholeScreen(reader);
    case MessageType::ScreenChanges:
      return decodeScreenChanges(reader);
    case MessageType::Ping:
      return decodeHeartbeat<Ping>(reader, "a ping");
    case MessageType::Pong:
      return decodeHeartbeat<Pong>(reader, "a pong");
    case MessageType::Goodbye:
      return decodeGoodbye(reader);
    case MessageType::SeatChange:
      return decodeSeatChange(reader);
    case MessageType::RoomSeats:
      return decodeRoomSeats(reader);
    case MessageType::LobbyView:
      return decodeLobbyView(reader);
    case MessageType::LobbyRooms:
      return decodeLobbyRooms(reader);
    case MessageType::BattleStart:
      return decodeBattleStart(reader);
    case MessageType::FrameKeys:
      return decodeFrameKeys(reader);
    case MessageType::FrameChecksums:
      return decodeFrameChecksums(reader);
    case MessageType::BattleRepair:
      return decodeBattleRepair(reader);
    case MessageType::BattleOver:
      return decodeBattleOver(reader);
  }
  return malformed("a message of unknown type " + std::to_string(type));
}

bool encodeMessage(const Message& message, std::string& out) {
  if (cellsCarried(message) > kLongestMessage / kCellBytes) {
    return false;
  }
  const std::size_t start = out.size();
  out.append(kLengthPrefixBytes, '\0');
  const auto type = static_cast<std::uint8_t>(kTypeOfAlternative[message.index()]);
  out.push_back(static_cast<char>(type));
  PayloadWriter writer(out);
  std::visit(PayloadEncoder{writer}, message);

  const std::size_t length = out.size() - start - kLengthPrefixBytes;
  const std::string_view payload = std::string_view(out).substr(start + kLengthPrefixBytes + 1);
  // Read back with the peer's own rules, so that both ends keep one set of them.
  if (writer.overflowed() || length > kLongestMessage ||
      std::holds_alternative<MalformedMessage>(decodeMessage(type, payload))) {
    out.resize(start);
    return false;
  }
  for (std::size_t index = 0; index < kLengthPrefixBytes; ++index) {
    const int shift = static_cast<int>(8 * (kLengthPrefixBytes - 1 - index));
    out[start + index] = static_cast<char>((length >> shift) & 0xFF);
  }
  return true;
}

}  // namespace skyrazor::network
