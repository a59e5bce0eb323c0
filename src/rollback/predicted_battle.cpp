#include "rollback/predicted_battle.h"

#include <algorithm>

#include "rollback/snapshot_bytes.h"

namespace skyrazor {
namespace {

// Final frames whose keys are kept for a repair: far more than any
// correction reaches back.
constexpr std::uint32_t kKeptFinalFrames = 1024;

}  // namespace

std::string duelFiguresLine(const DuelFigures& figures) {
  return "duel: frames=" + std::to_string(figures.frames) +
         " corrections=" + std::to_string(figures.corrections) +
         " deepest=" + std::to_string(figures.deepestCorrection) +
         " repairs=" + std::to_string(figures.repairs);
}

PredictedBattle::PredictedBattle(BattleSnapshot start, Side own, std::uint32_t correctionFrames)
    : own_(own),
      correctionFrames_(std::max<std::uint32_t>(correctionFrames, 1)),
      final_(std::move(start)),
      shown_(final_),
      firstKeptFrame_(final_.frame + 1),
      ownKnown_(final_.frame),
      otherKnown_(final_.frame) {}

bool PredictedBattle::mayPlayOn() const {
  return shownGoesOn() && ownKnown_ + 1 <= otherKnown_ + correctionFrames_;
}

PredictedBattle::KnownKeys& PredictedBattle::keysOf(std::uint32_t frame) {
  while (keys_.size() < frame - firstKeptFrame_ + 1) {
    keys_.emplace_back();
  }
  return keys_[frame - firstKeptFrame_];
}

// A key not yet known is guessed as none.
BothKeys PredictedBattle::frameKeys(const KnownKeys& known) const {
  const FrameKey own = known.own.value_or(FrameKey{});
  const FrameKey other = known.other.value_or(FrameKey{});
  return own_ == Side::Left ? BothKeys{own, other} : BothKeys{other, own};
}

void PredictedBattle::playOwnFrame(FrameKey key) {
  KnownKeys& known = keysOf(++ownKnown_);
  known.own = key;
  playFrame(shown_, frameKeys(known));
  advanceFinal();
}

bool PredictedBattle::takeOtherKeys(std::uint32_t firstFrame, const std::vector<FrameKey>& keys) {
  // The other pilot plays no further ahead of this one's keys than a
  // correction reaches; keys beyond that are not of this duel.
  if (firstFrame != otherKnown_ + 1 ||
      otherKnown_ + keys.size() > ownKnown_ + 2 * correctionFrames_) {
    return false;
  }
  std::optional<std::uint32_t> firstWrongGuess;
  for (const FrameKey& key : keys) {
    const std::uint32_t frame = ++otherKnown_;
    keysOf(frame).other = key;
    if (key.pressed && frame <= ownKnown_ && !firstWrongGuess) {
      firstWrongGuess = frame;
    }
  }
  advanceFinal();
  if (firstWrongGuess) {
    const std::uint32_t depth = ownKnown_ - *firstWrongGuess + 1;
    ++figures_.corrections;
    figures_.deepestCorrection = std::max(figures_.deepestCorrection, depth);
    playShownAgain();
  }
  return true;
}

bool PredictedBattle::repair(const BattleSnapshot& hostBattle) {
  // The host's battle is final only as far as both pilots' keys reached it,
  // and both came here before its repair did.
  if (hostBattle.frame + 1 < firstKeptFrame_ ||
      hostBattle.frame > std::min(ownKnown_, otherKnown_)) {
    return false;
  }
  // The host may be ahead of this terminal's final frames (it had the
  // other pilot's keys sooner): then it knows keys this one does not yet,
  // and those frames count as known from here on.
  final_ = hostBattle;
  ownKnown_ = std::max(ownKnown_, final_.frame);
  otherKnown_ = std::max(otherKnown_, final_.frame);
  ++figures_.repairs;
  finalChecksums_.clear();
  advanceFinal();
  playShownAgain();
  return true;
}

void PredictedBattle::advanceFinal() {
  while (battleGoesOn(final_) && final_.frame < std::min(ownKnown_, otherKnown_)) {
    playFrame(final_, frameKeys(keysOf(final_.frame + 1)));
    finalChecksums_.emplace_back(final_.frame, checksumOf(final_));
  }
  figures_.frames = final_.frame;
  forgetOldKeys();
}

// From the final battle up to the frame this pilot has played, with every
// key known and the rest guessed as none.
void PredictedBattle::playShownAgain() {
  shown_ = final_;
  while (shown_.frame < ownKnown_ && battleGoesOn(shown_)) {
    playFrame(shown_, frameKeys(keysOf(shown_.frame + 1)));
  }
}

void PredictedBattle::forgetOldKeys() {
  while (firstKeptFrame_ + kKeptFinalFrames <= final_.frame && !keys_.empty()) {
    keys_.pop_front();
    ++firstKeptFrame_;
  }
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> PredictedBattle::takeFinalChecksums() {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> taken;
  taken.swap(finalChecksums_);
  return taken;
}

}  // namespace skyrazor
