#pragma once

#include "battle/state.h"
#include "console/console.h"
#include "console/random.h"

namespace skyrazor {

// Told when a battle begins and ends, by whoever plays it elsewhere too: a
// network duel hands the battle's first frame over to the pilots' own
// terminals, which then play it themselves. It sees everything the battle's
// frames will read, and changes none of it.
class BattleHandOver {
 public:
  virtual ~BattleHandOver() = default;
  // Just before the first frame.
  virtual void battleBegins(const Console& console, const Random& random,
                            const BattleSettings& settings, const Duel& duel) = 0;
  // Frame `frame` (counted from 1) is done, its picture drawn.
  virtual void frameDone(int frame) { (void)frame; }
  // After the last frame, `frames` of them.
  virtual void battleEnded(int frames) = 0;
};

}  // namespace skyrazor
