// A battle's state as a host hands it over, changed as a stranger or a
// broken host might change it, into the pilot's terminal that plays it.
//
// The input picks a sound battle (its first four bytes seed one, a few
// frames into a random duel), then overwrites bytes of its state: each pair
// after the seed is an offset (two bytes) and a new byte. Whatever the
// reader accepts must be written back to the very same bytes, and must play
// frames and take corrections without a fault the sanitizers see. A check
// that fails aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "rollback/battle_snapshot.h"
#include "rollback/predicted_battle.h"
#include "rollback/snapshot_bytes.h"
#include "support/duel_self_check.h"

namespace {

using namespace skyrazor;

void require(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "battle state: %s\n", what);
    std::abort();
  }
}

std::uint32_t readSeed(const std::uint8_t* data, std::size_t size) {
  std::uint32_t seed = 0;
  for (std::size_t index = 0; index < 4 && index < size; ++index) {
    seed = (seed << 8) | data[index];
  }
  return seed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::mt19937 dice(readSeed(data, size));
  BattleSnapshot battle = testing::randomDuelStart(dice);
  for (int frame = 0; frame < 20; ++frame) {
    playFrame(battle, {testing::randomKey(dice), testing::randomKey(dice)});
  }
  std::string bytes = *snapshotBytes(battle);
  for (std::size_t at = 4; at + 2 < size; at += 3) {
    const std::size_t offset =
        (static_cast<std::size_t>(data[at]) << 8 | data[at + 1]) % bytes.size();
    bytes[offset] = static_cast<char>(data[at + 2]);
  }
  const std::optional<BattleSnapshot> read = snapshotFromBytes(bytes);
  if (!read) {
    return 0;
  }
  const std::optional<std::string> again = snapshotBytes(*read);
  require(again && *again == bytes, "an accepted state is not written back to its bytes");
  PredictedBattle played(*read, Side::Right, 8);
  for (int frame = 0; frame < 12 && played.mayPlayOn(); ++frame) {
    played.playOwnFrame(testing::randomKey(dice));
  }
  std::vector<FrameKey> other;
  for (std::uint32_t frame = 0; frame < played.playedFrames() - read->frame; ++frame) {
    other.push_back(testing::randomKey(dice));
  }
  require(played.takeOtherKeys(read->frame + 1, other), "the other's keys in order refused");
  return 0;
}
