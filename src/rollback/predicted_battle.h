#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "rollback/battle_snapshot.h"

namespace skyrazor {

// How a pilot's terminal fared in one battle: how often the other pilot's
// real keys showed that a guess had been wrong, how far back the deepest
// correction reached, and how often the host had to repair the battle.
struct DuelFigures {
  std::uint32_t frames = 0;
  std::uint32_t corrections = 0;
  std::uint32_t deepestCorrection = 0;
  std::uint32_t repairs = 0;
};

// The figures as one line: "duel: frames=N corrections=C deepest=D repairs=R".
std::string duelFiguresLine(const DuelFigures& figures);

// One pilot's battle at their own terminal. The own pilot's keys play at
// once; the other pilot's keys are taken as none until they arrive, and when
// one arrives that was not none, the battle is played again from the last
// frame both keys were known for, with the real keys. A frame is final once
// both keys for it are in: the final battle is the one the host keeps too.
class PredictedBattle {
 public:
  // `correctionFrames`: the most frames the other pilot's keys may lag
  // behind the own ones before this pilot waits for them.
  PredictedBattle(BattleSnapshot start, Side own, std::uint32_t correctionFrames);

  Side own() const { return own_; }
  // The battle as this pilot sees it now, and as both pilots' keys so far make it.
  const BattleSnapshot& shown() const { return shown_; }
  const BattleSnapshot& final() const { return final_; }
  // Frames the own pilot has played.
  std::uint32_t playedFrames() const { return ownKnown_; }
  std::uint32_t finalFrames() const { return final_.frame; }
  // Frames the other pilot's keys are known for.
  std::uint32_t otherKnownFrames() const { return otherKnown_; }
  bool shownGoesOn() const { return battleGoesOn(shown_); }
  // Whether the own pilot may play the next frame: the battle they see goes
  // on, and the other pilot's keys are not further behind than a correction
  // may reach.
  bool mayPlayOn() const;

  // Plays the next frame with the own pilot's key.
  void playOwnFrame(FrameKey key);
  // The other pilot's keys, for consecutive frames from `firstFrame`, which
  // must follow those already known and not run further ahead of the own
  // keys than the other pilot may play. Returns false, changing nothing,
  // when they do not.
  bool takeOtherKeys(std::uint32_t firstFrame, const std::vector<FrameKey>& keys);
  // The host's battle after `hostBattle.frame` frames, when this one had
  // drifted from it: the keys since are played again over it. False, changing
  // nothing, when those keys are no longer kept or the host's battle is
  // ahead of the keys this terminal has.
  bool repair(const BattleSnapshot& hostBattle);

  // Checksums of the frames that became final since the last call, by frame.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> takeFinalChecksums();
  const DuelFigures& figures() const { return figures_; }

 private:
  struct KnownKeys {
    std::optional<FrameKey> own;
    std::optional<FrameKey> other;
  };
  KnownKeys& keysOf(std::uint32_t frame);
  BothKeys frameKeys(const KnownKeys& known) const;
  void advanceFinal();
  void playShownAgain();
  void forgetOldKeys();

  Side own_;
  std::uint32_t correctionFrames_;
  BattleSnapshot final_;
  BattleSnapshot shown_;
  // Keys by frame, from firstKeptFrame_ on: those of final frames are kept
  // a while for repairs, the rest until they are final.
  std::deque<KnownKeys> keys_;
  std::uint32_t firstKeptFrame_ = 1;
  std::uint32_t ownKnown_ = 0;
  std::uint32_t otherKnown_ = 0;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> finalChecksums_;
  DuelFigures figures_;
};

}  // namespace skyrazor
