// Soak run of the computer pilot: thousands of headless battles at each level
// 1..9 against a pilot 1 who presses "e", "s", "w", "a" or nothing at random
// in every frame. Reports the frame rate and who wins how often, and checks
// after every frame what the battle promises about ships and projectile rings.
//
//   skyrazor_soak [battles per level] [frame cap per battle]
//   skyrazor_soak --self-check [battles]
//
// The self-check plays random two-person battles at both pilots' terminals
// with the other pilot's keys 1 to 8 frames late, so that corrections happen
// in almost every frame, and checks every final frame against the same
// battle played straight.
//
// Exits with status 1 when any check failed.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "battle/frame_loop.h"
#include "battle/promises.h"
#include "console/console.h"
#include "support/duel_self_check.h"

namespace {

using namespace skyrazor;

constexpr int kDefaultBattlesPerLevel = 2000;
constexpr int kDefaultFrameCap = 20000;
constexpr int kReportedViolations = 10;

// A platform that shows nothing and never waits; the keyboard holds at most
// the one key pilot 1 pressed for the coming frame.
class SoakPlatform final : public Display, public Keyboard, public Clock {
 public:
  void press(char key) { pressed_ = key; }
  void present() override {}
  unsigned char readKey() override { return takeWaitingKey(); }
  bool keyWaiting() override { return pressed_ != kNothing; }
  unsigned char takeWaitingKey() override {
    const char key = pressed_;
    pressed_ = kNothing;
    return static_cast<unsigned char>(key);
  }
  std::string pullLine() override { return "\n"; }
  void sleep(int) override {}
  std::int64_t nowMs() override { return 0; }

 private:
  static constexpr char kNothing = '\0';
  char pressed_ = kNothing;
};

// Pilot 1 as a monkey at the keyboard, with dice of its own so that the
// game's draws stay exactly those of a real battle.
class RandomPilot {
 public:
  explicit RandomPilot(std::uint32_t seed) : dice_(seed) {}
  // One of the four commands, or '\0' for a frame without a key press.
  char nextKey() {
    static constexpr char kChoices[] = {'e', 's', 'w', 'a', '\0'};
    return kChoices[dice_() % 5];
  }

 private:
  std::mt19937 dice_;
};

struct LevelTally {
  int battles = 0;
  int pilotOneWins = 0;
  int computerWins = 0;
  int bothDown = 0;
  int capped = 0;
  std::int64_t frames = 0;
};

// Checks what a battle promises after every frame (battle/promises.h) and
// reports the first few promises broken.
class InvariantChecker {
 public:
  void check(const Duel& duel, int level, int battle, int frame) {
    for (const std::string& broken : brokenBattlePromises(duel)) {
      if (++violations_ <= kReportedViolations) {
        std::printf("VIOLATION: %s at level %d, battle %d, frame %d\n", broken.c_str(), level,
                    battle, frame);
      }
    }
  }
  std::int64_t violations() const { return violations_; }

 private:
  std::int64_t violations_ = 0;
};

// A battle set up as the shell sets up a VS-computer match with the default
// ships; the game's dice are seeded per battle as the program loop seeds them
// from the clock.
void prepareBattle(Duel& duel, BattleSettings& settings, int level) {
  applyDefaultSet(duel);
  rearmShips(duel);
  resetBattleCounters(duel);
  resetPools(duel);
  settings.kiLevel = level;
  settings.key = '2';  // the menu digit that started the match
}

void playBattle(Console& console, SoakPlatform& platform, InvariantChecker& checker,
                LevelTally& tally, int level, int battle, int frameCap) {
  Duel duel;
  BattleSettings settings;
  settings.name1 = "Monkey";
  settings.name2 = "Computer";
  prepareBattle(duel, settings, level);
  Random random;
  random.seed(static_cast<std::uint32_t>(1700000000 + level * 100000 + battle));
  RandomPilot pilotOne(static_cast<std::uint32_t>(level * 1000003 + battle));

  int frame = 0;
  while (duel.left().ship.hp > 0 && duel.right().ship.hp > 0 && frame < frameCap) {
    platform.press(pilotOne.nextKey());
    runBattleFrame(console, random, settings, duel);
    ++frame;
    checker.check(duel, level, battle, frame);
  }

  ++tally.battles;
  tally.frames += frame;
  if (duel.left().ship.hp > 0 && duel.right().ship.hp > 0) {
    ++tally.capped;
  } else if (duel.left().ship.hp > 0) {
    ++tally.pilotOneWins;
  } else if (duel.right().ship.hp > 0) {
    ++tally.computerWins;
  } else {
    ++tally.bothDown;
  }
}

double percent(int part, int whole) {
  return whole == 0 ? 0.0 : 100.0 * part / whole;
}

int positiveArgument(int argc, char** argv, int index, int fallback) {
  if (argc <= index) {
    return fallback;
  }
  const int value = std::atoi(argv[index]);
  return value > 0 ? value : fallback;
}

int runSelfCheck(int battles) {
  std::printf(
      "Self-check: %d random two-person battles at both terminals, the other pilot's keys 1 to 8 "
      "frames late\n",
      battles);
  const auto start = std::chrono::steady_clock::now();
  std::int64_t frames = 0;
  std::int64_t corrections = 0;
  std::uint32_t deepest = 0;
  int failed = 0;
  for (int battle = 1; battle <= battles; ++battle) {
    const testing::DuelSelfCheck check =
        testing::playDuelSelfCheck(static_cast<std::uint32_t>(battle), kDefaultFrameCap);
    frames += check.frames;
    corrections += check.corrections;
    deepest = std::max(deepest, check.deepestCorrection);
    if (!check.faults.empty()) {
      if (++failed <= kReportedViolations) {
        std::printf("FAILED: battle %d: %s\n", battle, check.faults.front().c_str());
      }
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf(
      "%lld frames, %lld corrections (%.2f per frame), deepest %u frames, in %.1f s\n"
      "%d of %d battles ended apart from the battle played straight\n",
      static_cast<long long>(frames), static_cast<long long>(corrections),
      frames == 0 ? 0.0 : static_cast<double>(corrections) / static_cast<double>(frames), deepest,
      seconds, failed, battles);
  return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--self-check") {
    return runSelfCheck(positiveArgument(argc, argv, 2, 1000));
  }
  const int battlesPerLevel = positiveArgument(argc, argv, 1, kDefaultBattlesPerLevel);
  const int frameCap = positiveArgument(argc, argv, 2, kDefaultFrameCap);

  Screen screen(80, 25);
  SoakPlatform platform;
  Console console(screen, platform, platform, platform);
  InvariantChecker checker;

  std::printf(
      "Soak: %d battles per level against a random pilot 1 (e, s, w, a or no key in each "
      "frame), at most %d frames each\n\n",
      battlesPerLevel, frameCap);
  std::printf("level  battles  pilot 1 wins  computer wins  both down  capped  frames/battle\n");
  std::int64_t totalFrames = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int level = 1; level <= 9; ++level) {
    LevelTally tally;
    for (int battle = 0; battle < battlesPerLevel; ++battle) {
      playBattle(console, platform, checker, tally, level, battle, frameCap);
    }
    totalFrames += tally.frames;
    std::printf("%5d  %7d  %11.1f%%  %12.1f%%  %8.1f%%  %6d  %13lld\n", level, tally.battles,
                percent(tally.pilotOneWins, tally.battles),
                percent(tally.computerWins, tally.battles), percent(tally.bothDown, tally.battles),
                tally.capped, static_cast<long long>(tally.frames / tally.battles));
    std::fflush(stdout);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::printf("\n%lld frames in %.1f s: %.0f frames per second\n",
              static_cast<long long>(totalFrames), seconds, totalFrames / seconds);
  if (checker.violations() == 0) {
    std::printf(
        "Checked after every frame, all held: ships in their columns and rows 3..11, hit points,\n"
        "shields, weapons, dust walls and the regeneration tick in range, nextSlot 0..ammoLimit,\n"
        "no slot above ammoLimit filled, empty slots parked at (3, 20), projectiles in the "
        "arena\n");
    return 0;
  }
  std::printf("%lld checks FAILED\n", static_cast<long long>(checker.violations()));
  return 1;
}
