#include "rollback/battle_snapshot.h"

#include "battle/frame_loop.h"
#include "console/console.h"
#include "console/random.h"

namespace skyrazor {
namespace {

// The seams of a frame played from a snapshot: nothing shown, no waits, and
// each keyboard holding at most the one key its pilot's phase takes.
class FrameSeams final : public Display, public Clock {
 public:
  void present() override {}
  void sleep(int) override {}
  std::int64_t nowMs() override { return 0; }
};

class FrameKeyboard final : public Keyboard {
 public:
  explicit FrameKeyboard(FrameKey key) : key_(key) {}
  unsigned char readKey() override { return takeWaitingKey(); }
  bool keyWaiting() override { return key_.pressed; }
  unsigned char takeWaitingKey() override {
    key_.pressed = false;
    return key_.byte;
  }
  std::string pullLine() override { return "\n"; }

 private:
  FrameKey key_;
};

// FNV-1a, 32 bits: quick, and enough to tell two battles apart.
class Fingerprint {
 public:
  void add(std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
      addByte(static_cast<unsigned char>(value >> shift));
    }
  }
  void addNumber(std::int32_t value) { add(static_cast<std::uint32_t>(value)); }
  void addByte(unsigned char byte) {
    hash_ ^= byte;
    hash_ *= 16777619u;
  }
  std::uint32_t value() const { return hash_; }

 private:
  std::uint32_t hash_ = 2166136261u;
};

void addPilot(Fingerprint& fingerprint, const Pilot& pilot) {
  const ShipState& ship = pilot.ship;
  for (std::int32_t value : {ship.col, ship.row, ship.shields, ship.hp, ship.weaponType,
                             ship.nextSlot, ship.dustWallTimer}) {
    fingerprint.addNumber(value);
  }
  for (const Projectile& slot : pilot.pool) {
    fingerprint.addByte(static_cast<unsigned char>(slot.symbol));
    fingerprint.addNumber(slot.col);
    fingerprint.addNumber(slot.row);
  }
}

}  // namespace

BattleSnapshot snapshotOf(const Screen& screen, std::uint32_t randomState,
                          const BattleSettings& settings, const Duel& duel) {
  BattleSnapshot battle;
  battle.duel = duel;
  battle.name1 = std::string(settings.name1);
  battle.name2 = std::string(settings.name2);
  battle.gameSpeed = settings.gameSpeed;
  battle.kiLevel = settings.kiLevel;
  battle.key = settings.key;
  battle.randomState = randomState;
  battle.screen = screen;
  return battle;
}

bool battleGoesOn(const BattleSnapshot& battle) {
  return battle.duel.pilots[0].ship.hp > 0 && battle.duel.pilots[1].ship.hp > 0;
}

void playFrame(BattleSnapshot& battle, const BothKeys& keys) {
  FrameSeams seams;
  FrameKeyboard left(keys.left);
  FrameKeyboard right(keys.right);
  Console console(battle.screen, seams, left, &right, seams);
  Random random;
  random.seed(battle.randomState);
  BattleSettings settings{battle.name1, battle.name2, battle.gameSpeed, battle.kiLevel, battle.key};
  runBattleFrame(console, random, settings, battle.duel);
  battle.key = settings.key;
  battle.randomState = random.state();
  ++battle.frame;
}

std::uint32_t checksumOf(const BattleSnapshot& battle) {
  Fingerprint fingerprint;
  fingerprint.add(battle.frame);
  fingerprint.addByte(static_cast<unsigned char>(battle.key));
  fingerprint.add(battle.randomState);
  fingerprint.addNumber(battle.duel.regenTick);
  const ComputerPilotState& computer = battle.duel.computerPilot;
  for (std::int32_t value :
       {computer.rocketCooldown, computer.wanderCount, computer.patternState}) {
    fingerprint.addNumber(value);
  }
  for (const Pilot& pilot : battle.duel.pilots) {
    addPilot(fingerprint, pilot);
  }
  const Screen& screen = battle.screen;
  for (int row = 0; row < screen.rows(); ++row) {
    for (const Cell& cell : screen.rowCells(row)) {
      fingerprint.addByte(cell.byte);
      fingerprint.add(cell.attribute);
    }
  }
  fingerprint.addNumber(screen.cursorColumn());
  fingerprint.addNumber(screen.cursorRow());
  fingerprint.add(screen.attribute());
  return fingerprint.value();
}

}  // namespace skyrazor
