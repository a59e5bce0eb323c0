// The cost of one battle frame in a busy battle: simulation plus drawing into
// the screen model, without presenting it anywhere.
#include <benchmark/benchmark.h>

#include "battle/frame_loop.h"
#include "console/console.h"

namespace {

using namespace skyrazor;

// A platform that shows nothing, has no keys and never waits.
class SilentPlatform final : public Display, public Keyboard, public Clock {
 public:
  void present() override {}
  unsigned char readKey() override { return 'x'; }
  bool keyWaiting() override { return false; }
  unsigned char takeWaitingKey() override { return 'x'; }
  std::string pullLine() override { return "\n"; }
  void sleep(int) override {}
  std::int64_t nowMs() override { return std::int64_t{1000000000} * 1000; }
};

// Both rings full of every kind of projectile spread over the arena, both
// dust walls up, and ships that cannot be shot down during the run.
Duel busyDuel() {
  Duel duel;
  applyDefaultSet(duel);
  rearmShips(duel);
  resetPools(duel);
  constexpr char kSymbols[] = {symbol::kMachineBolt, symbol::kBomb, symbol::kLaser,
                               symbol::kRocket,      symbol::kIon,  symbol::kHomingIon};
  for (int side = 0; side < 2; ++side) {
    Pilot& pilot = duel.pilots[static_cast<std::size_t>(side)];
    pilot.config.ammoLimit = 39;
    pilot.ship.hp = 1000000;
    pilot.ship.dustWallTimer = 1000000;
    for (int slot = 0; slot < kPoolSize; ++slot) {
      Projectile& projectile = pilot.pool[static_cast<std::size_t>(slot)];
      projectile.symbol = kSymbols[slot % 6];
      projectile.col = 8 + (slot * 7) % 28;
      projectile.row = 3 + (slot * 5) % 9;
    }
  }
  return duel;
}

void BM_BusyBattleFrame(benchmark::State& state) {
  Screen screen(80, 25);
  SilentPlatform platform;
  Console console(screen, platform, platform, platform);
  BattleSettings settings;
  settings.name1 = "Alice";
  settings.name2 = "Bob";
  Random random;
  random.seed(1700000000);
  const Duel start = busyDuel();
  Duel duel = start;
  for (auto _ : state) {
    // Every iteration replays the same busy frame, so the figure does not
    // drift as the projectiles leave the arena. The copy (about a kilobyte)
    // is part of the figure; it is small beside the frame.
    duel = start;
    runBattleFrame(console, random, settings, duel);
    benchmark::DoNotOptimize(screen.cell(0, 0));
  }
}
BENCHMARK(BM_BusyBattleFrame);

}  // namespace
