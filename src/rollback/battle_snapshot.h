#pragma once

#include <cstdint>
#include <string>

#include "battle/state.h"
#include "console/screen.h"
#include "console/seam.h"

namespace skyrazor {

// Both pilots' keys of one frame: the left ship's (pilot 1) and the right's.
struct BothKeys {
  FrameKey left;
  FrameKey right;
};

// Everything a battle frame reads and writes, held apart from any session:
// both pilots, the shared key, the generator, and the picture the frames
// draw over. A battle played from a snapshot frame by frame with the same
// keys is the very battle the game plays, picture and all.
struct BattleSnapshot {
  Duel duel;
  std::string name1;
  std::string name2;
  std::int32_t gameSpeed = 50;
  std::int32_t kiLevel = 0;
  char key = 'x';
  std::uint32_t randomState = 0;
  Screen screen{80, 25};
  // Frames played since the battle's first one.
  std::uint32_t frame = 0;
};

BattleSnapshot snapshotOf(const Screen& screen, std::uint32_t randomState,
                          const BattleSettings& settings, const Duel& duel);

// Whether the battle goes on: the end test before every frame.
bool battleGoesOn(const BattleSnapshot& battle);

// Plays the next frame with these keys, as two pilots at keyboards of their
// own would have pressed them.
void playFrame(BattleSnapshot& battle, const BothKeys& keys);

}  // namespace skyrazor
