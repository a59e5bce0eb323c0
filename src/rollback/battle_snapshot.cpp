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

}  // namespace skyrazor
