#include "rollback/snapshot_bytes.h"

#include <cstdint>

namespace skyrazor {
namespace {

constexpr std::uint8_t kLayout = 1;
// Far beyond anything a battle reaches, and far from overflowing.
constexpr std::int32_t kLargestMagnitude = 1000000;
constexpr int kPictureColumns = 80;
constexpr int kPictureRows = 25;

class Writer {
 public:
  void byte(std::uint8_t value) { out_.push_back(static_cast<char>(value)); }
  void u16(std::uint32_t value) {
    byte(static_cast<std::uint8_t>(value >> 8));
    byte(static_cast<std::uint8_t>(value));
  }
  void u32(std::uint32_t value) {
    u16(value >> 16);
    u16(value & 0xFFFFu);
  }
  void number(std::int32_t value) { u32(static_cast<std::uint32_t>(value)); }
  void text(const std::string& value) {
    u16(static_cast<std::uint32_t>(value.size()));
    out_ += value;
  }
  std::string take() { return std::move(out_); }

 private:
  std::string out_;
};

// Reads as far as the bytes go; once short, every later read is too, and
// the whole is refused.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}
  std::uint8_t byte() {
    if (at_ >= bytes_.size()) {
      short_ = true;
      return 0;
    }
    return static_cast<std::uint8_t>(bytes_[at_++]);
  }
  std::uint32_t u16() {
    const std::uint32_t high = byte();
    return (high << 8) | byte();
  }
  std::uint32_t u32() {
    const std::uint32_t high = u16();
    return (high << 16) | u16();
  }
  std::int32_t number() { return static_cast<std::int32_t>(u32()); }
  std::string text(std::size_t longest) {
    const std::size_t length = u16();
    if (length > longest || bytes_.size() - at_ < length) {
      short_ = true;
      return {};
    }
    std::string value(bytes_.substr(at_, length));
    at_ += length;
    return value;
  }
  bool wholeAndSound() const { return !short_ && at_ == bytes_.size(); }

 private:
  std::string_view bytes_;
  std::size_t at_ = 0;
  bool short_ = false;
};

bool within(std::int32_t value, std::int32_t lowest, std::int32_t highest) {
  return value >= lowest && value <= highest;
}

bool moderate(std::int32_t value) {
  return within(value, -kLargestMagnitude, kLargestMagnitude);
}

bool knownSymbol(char symbol) {
  switch (symbol) {
    case symbol::kEmpty:
    case symbol::kMachineBolt:
    case symbol::kBomb:
    case symbol::kLaser:
    case symbol::kRocket:
    case symbol::kIon:
    case symbol::kHomingIon:
      return true;
    default:
      return false;
  }
}

void writePilot(Writer& out, const Pilot& pilot) {
  const PilotConfig& config = pilot.config;
  for (std::int32_t value : {config.hpConfig, config.shieldMax, config.regenRate,
                             config.weaponStrength, config.ammoLimit}) {
    out.number(value);
  }
  const ShipState& ship = pilot.ship;
  for (std::int32_t value : {ship.col, ship.row, ship.shields, ship.hp, ship.weaponType,
                             ship.nextSlot, ship.dustWallTimer}) {
    out.number(value);
  }
  for (const Projectile& slot : pilot.pool) {
    out.byte(static_cast<std::uint8_t>(slot.symbol));
    out.number(slot.col);
    out.number(slot.row);
  }
}

// The ranges the options screen and the battle keep to; the ammunition
// limit above all, as it bounds the ring's slot index.
bool soundPilot(const Pilot& pilot, std::int32_t shipColumn) {
  const PilotConfig& config = pilot.config;
  const ShipState& ship = pilot.ship;
  const bool configSound = within(config.hpConfig, 1, 50) && within(config.shieldMax, 10, 1000) &&
                           within(config.regenRate, 0, 10) &&
                           within(config.weaponStrength, 3, 120) &&
                           (config.ammoLimit == 9 || config.ammoLimit == 19 ||
                            config.ammoLimit == 29 || config.ammoLimit == 39);
  const bool shipSound =
      configSound && ship.col == shipColumn &&
      within(ship.row, arena::kTopRow, arena::kBottomRow) && moderate(ship.shields) &&
      moderate(ship.hp) && within(ship.weaponType, 1, 5) &&
      within(ship.nextSlot, 0, config.ammoLimit) && within(ship.dustWallTimer, 0, 1000);
  if (!shipSound) {
    return false;
  }
  for (const Projectile& slot : pilot.pool) {
    if (!knownSymbol(slot.symbol) || !moderate(slot.col) || !moderate(slot.row)) {
      return false;
    }
  }
  return true;
}

Pilot readPilot(Reader& in) {
  Pilot pilot;
  PilotConfig& config = pilot.config;
  for (std::int32_t* value : {&config.hpConfig, &config.shieldMax, &config.regenRate,
                              &config.weaponStrength, &config.ammoLimit}) {
    *value = in.number();
  }
  ShipState& ship = pilot.ship;
  for (std::int32_t* value : {&ship.col, &ship.row, &ship.shields, &ship.hp, &ship.weaponType,
                              &ship.nextSlot, &ship.dustWallTimer}) {
    *value = in.number();
  }
  for (Projectile& slot : pilot.pool) {
    slot.symbol = static_cast<char>(in.byte());
    slot.col = in.number();
    slot.row = in.number();
  }
  return pilot;
}

void writeScreen(Writer& out, const Screen& screen) {
  out.u16(static_cast<std::uint32_t>(screen.columns()));
  out.u16(static_cast<std::uint32_t>(screen.rows()));
  out.u16(static_cast<std::uint32_t>(screen.cursorColumn()));
  out.u16(static_cast<std::uint32_t>(screen.cursorRow()));
  out.u16(screen.attribute());
  out.byte(screen.cursorVisible() ? 1 : 0);
  out.byte(static_cast<std::uint8_t>(screen.cursorSizePercent()));
  for (int row = 0; row < screen.rows(); ++row) {
    for (const Cell& cell : screen.rowCells(row)) {
      out.byte(cell.byte);
      out.u16(cell.attribute);
    }
  }
}

// The battle is handed over on the game's own picture of 80x25.
std::optional<Screen> readScreen(Reader& in) {
  const std::uint32_t columns = in.u16();
  const std::uint32_t rows = in.u16();
  const std::uint32_t cursorColumn = in.u16();
  const std::uint32_t cursorRow = in.u16();
  const std::uint32_t attribute = in.u16();
  const std::uint8_t cursorVisible = in.byte();
  const std::uint8_t cursorSize = in.byte();
  if (columns != kPictureColumns || rows != kPictureRows || cursorColumn >= columns ||
      cursorRow >= rows || attribute > 0xFF || cursorVisible > 1 || cursorSize > 100) {
    return std::nullopt;
  }
  Screen screen(kPictureColumns, kPictureRows);
  for (int row = 0; row < kPictureRows; ++row) {
    for (int column = 0; column < kPictureColumns; ++column) {
      Cell cell;
      cell.byte = in.byte();
      cell.attribute = static_cast<std::uint16_t>(in.u16());
      if (cell.attribute > 0xFF) {
        return std::nullopt;
      }
      screen.setCell(column, row, cell);
    }
  }
  screen.placeCursor(static_cast<int>(cursorColumn), static_cast<int>(cursorRow));
  screen.setAttribute(static_cast<std::uint16_t>(attribute));
  screen.setCursorShape(cursorVisible == 1, cursorSize);
  return screen;
}

void writeBattle(Writer& out, const BattleSnapshot& battle) {
  out.byte(kLayout);
  out.u32(battle.frame);
  out.number(battle.gameSpeed);
  out.number(battle.kiLevel);
  out.byte(static_cast<std::uint8_t>(battle.key));
  out.u32(battle.randomState);
  out.number(battle.duel.regenTick);
  const ComputerPilotState& computer = battle.duel.computerPilot;
  for (std::int32_t value :
       {computer.rocketCooldown, computer.wanderCount, computer.patternState}) {
    out.number(value);
  }
  for (const Pilot& pilot : battle.duel.pilots) {
    writePilot(out, pilot);
  }
  out.text(battle.name1);
  out.text(battle.name2);
  writeScreen(out, battle.screen);
}

}  // namespace

std::optional<std::string> snapshotBytes(const BattleSnapshot& battle) {
  if (battle.name1.size() > kLongestHandedName || battle.name2.size() > kLongestHandedName) {
    return std::nullopt;
  }
  Writer out;
  writeBattle(out, battle);
  return out.take();
}

std::uint32_t checksumOf(const BattleSnapshot& battle) {
  Writer out;
  writeBattle(out, battle);
  std::uint32_t hash = 2166136261u;
  for (char byte : out.take()) {
    hash ^= static_cast<unsigned char>(byte);
    hash *= 16777619u;
  }
  return hash;
}

std::optional<BattleSnapshot> snapshotFromBytes(std::string_view bytes) {
  Reader in(bytes);
  BattleSnapshot battle;
  if (in.byte() != kLayout) {
    return std::nullopt;
  }
  battle.frame = in.u32();
  battle.gameSpeed = in.number();
  battle.kiLevel = in.number();
  battle.key = static_cast<char>(in.byte());
  battle.randomState = in.u32();
  battle.duel.regenTick = in.number();
  ComputerPilotState& computer = battle.duel.computerPilot;
  for (std::int32_t* value :
       {&computer.rocketCooldown, &computer.wanderCount, &computer.patternState}) {
    *value = in.number();
  }
  battle.duel.pilots[0] = readPilot(in);
  battle.duel.pilots[1] = readPilot(in);
  battle.name1 = in.text(kLongestHandedName);
  battle.name2 = in.text(kLongestHandedName);
  std::optional<Screen> screen = readScreen(in);
  if (!screen || !in.wholeAndSound()) {
    return std::nullopt;
  }
  battle.screen = std::move(*screen);
  const bool sound = within(battle.gameSpeed, 1, 1000) && within(battle.kiLevel, 0, 9) &&
                     moderate(battle.duel.regenTick) && moderate(computer.rocketCooldown) &&
                     moderate(computer.wanderCount) && moderate(computer.patternState) &&
                     soundPilot(battle.duel.pilots[0], arena::kLeftColumn) &&
                     soundPilot(battle.duel.pilots[1], arena::kRightColumn);
  if (!sound) {
    return std::nullopt;
  }
  return battle;
}

}  // namespace skyrazor
