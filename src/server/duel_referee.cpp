#include "server/duel_referee.h"

#include <algorithm>
#include <memory>

#include "rollback/snapshot_bytes.h"

namespace skyrazor::network {
namespace {

// How far back a correction may reach: about 400 ms of frames.
constexpr std::int32_t kCorrectionReachMs = 400;
// The game's checksums kept for comparing with the pilots' terminals'.
constexpr std::size_t kKeptChecksums = 1024;
// A wait with no frame of the host's pilot due still looks at the terminals' news this often.
constexpr std::int64_t kLongestWaitMs = 250;

void dropWaitingKeys(Keyboard& keyboard) {
  while (keyboard.keyWaiting()) {
    keyboard.takeWaitingKey();
  }
}

}  // namespace

// The game's clock: in a duel, each frame's pause waits until the frame is
// final (both pilots' keys in) before the game clock moves on.
class DuelReferee::RefereeClock final : public Clock {
 public:
  explicit RefereeClock(DuelReferee& referee) : referee_(referee) {}
  void sleep(int milliseconds) override { referee_.sleep(milliseconds); }
  std::int64_t nowMs() override { return referee_.clock_.nowMs(); }

 private:
  DuelReferee& referee_;
};

// One of the game's keyboards: in a duel, its pilot's key of the frame
// under way, as that pilot's terminal played it.
class DuelReferee::RefereeKeyboard final : public Keyboard {
 public:
  RefereeKeyboard(DuelReferee& referee, Keyboard& keyboard, int ship)
      : referee_(referee), keyboard_(keyboard), ship_(ship) {}
  unsigned char readKey() override { return keyboard_.readKey(); }
  bool keyWaiting() override {
    return referee_.inDuel_ ? referee_.keyWaiting(ship_) : keyboard_.keyWaiting();
  }
  unsigned char takeWaitingKey() override {
    return referee_.inDuel_ ? referee_.takeWaitingKey(ship_) : keyboard_.takeWaitingKey();
  }
  std::string pullLine() override { return keyboard_.pullLine(); }
  void expectKeys(bool expected) override { keyboard_.expectKeys(expected); }
  bool attended() override { return keyboard_.attended(); }

 private:
  DuelReferee& referee_;
  Keyboard& keyboard_;
  int ship_;
};

DuelReferee::DuelReferee(DuelTerminals& terminals, KeySource& waits, Clock& clock, Keyboard& first,
                         Keyboard& second, HostPilot* hostPilot, EventLog log,
                         ServerCounters* counters)
    : terminals_(terminals),
      waits_(waits),
      clock_(clock),
      first_(first),
      second_(second),
      hostPilot_(hostPilot),
      log_(std::move(log)),
      counters_(counters),
      refereeClock_(std::make_unique<RefereeClock>(*this)),
      refereeFirst_(std::make_unique<RefereeKeyboard>(*this, first, 0)),
      refereeSecond_(std::make_unique<RefereeKeyboard>(*this, second, 1)) {}

// A session that ends in a duel (the host left, the server stopped) still
// notes the duel's figures so far.
DuelReferee::~DuelReferee() {
  if (inDuel_) {
    log_("duel cut short at frame " + std::to_string(playing_));
    log_(duelFiguresLine(figuresNow(playing_)));
  }
}

Clock& DuelReferee::clock() {
  return *refereeClock_;
}

Keyboard& DuelReferee::firstKeyboard() {
  return *refereeFirst_;
}

Keyboard& DuelReferee::secondKeyboard() {
  return *refereeSecond_;
}

// Only a two-person battle with pilot 2 at a keyboard of their own is a
// duel, and only when both pilots' terminals can play it themselves.
void DuelReferee::battleBegins(const Console& console, const Random& random,
                               const BattleSettings& settings, const Duel& duel) {
  if (settings.kiLevel != 0 || !console.hasSecondKeyboard()) {
    return;
  }
  const BattleSnapshot start = snapshotOf(console.screen(), random.state(), settings, duel);
  const std::optional<std::string> state = snapshotBytes(start);
  const std::int32_t correctionFrames =
      std::clamp(kCorrectionReachMs / std::max(settings.gameSpeed, 1), 1, 1000);
  if (!state || !terminals_.beginDuel(static_cast<std::uint16_t>(correctionFrames), 0, *state)) {
    return;
  }
  // Keys a far pilot typed before the battle were sent as keys, not frames:
  // their terminal plays the battle from its first frame without them, so
  // the game must not take them later either.
  clock_.sleep(0);  // takes in what was typed up to now; the clock stays
  if (hostPilot_ == nullptr) {
    dropWaitingKeys(first_);
  }
  dropWaitingKeys(second_);
  inDuel_ = true;
  console_ = &console;
  random_ = &random;
  settings_ = &settings;
  duel_ = &duel;
  playing_ = 0;
  firstKnownFrame_ = 1;
  frames_.clear();
  known_ = {};
  repairedUpTo_ = {};
  checksums_.clear();
  earlyChecksums_ = {};
  correctionFrames_ = static_cast<std::uint32_t>(correctionFrames);
  lastFrame_ = start;
  repairs_ = 0;
  lastProgressMs_ = waits_.wallMs();
  otherHeard_ = {};
  if (hostPilot_ != nullptr) {
    hostView_.emplace(start, Side::Left, static_cast<std::uint32_t>(correctionFrames));
    pacer_.emplace(settings.gameSpeed, waits_.wallMs());
  }
  if (counters_ != nullptr) {
    counters_->duels.fetch_add(1, std::memory_order_relaxed);
  }
  log_("duel begins: " + std::to_string(correctionFrames) + " frames of corrections at most");
}

void DuelReferee::frameDone(int frame) {
  if (!inDuel_) {
    return;
  }
  lastFrame_ = gameNow();
  lastFrame_.frame = static_cast<std::uint32_t>(frame);
  checksums_.emplace_back(lastFrame_.frame, checksumOf(lastFrame_));
  if (checksums_.size() > kKeptChecksums) {
    checksums_.pop_front();
  }
  while (!frames_.empty() && firstKnownFrame_ <= lastFrame_.frame) {
    frames_.pop_front();
    ++firstKnownFrame_;
  }
  for (int ship = 0; ship < 2; ++ship) {
    auto& early = earlyChecksums_[static_cast<std::size_t>(ship)];
    while (!early.empty() && early.front().first <= lastFrame_.frame) {
      const auto [earlyFrame, checksum] = early.front();
      early.pop_front();
      compareChecksum(ship, earlyFrame, checksum);
    }
  }
}

void DuelReferee::battleEnded(int frames) {
  if (inDuel_) {
    finish(static_cast<std::uint32_t>(frames));
  }
}

void DuelReferee::finish(std::uint32_t frames) {
  inDuel_ = false;
  terminals_.endDuel(frames);
  const DuelFigures figures = figuresNow(frames);
  if (hostView_) {
    hostView_.reset();
    pacer_.reset();
    hostPilot_->duelOver();
  }
  log_(duelFiguresLine(figures));
  console_ = nullptr;
  random_ = nullptr;
  settings_ = nullptr;
  duel_ = nullptr;
}

// The host's pilot's corrections; at a server, the pilots' terminals count theirs.
DuelFigures DuelReferee::figuresNow(std::uint32_t frames) const {
  DuelFigures figures = hostView_ ? hostView_->figures() : DuelFigures{};
  figures.frames = frames;
  figures.repairs = repairs_;
  return figures;
}

BattleSnapshot DuelReferee::gameNow() const {
  return snapshotOf(console_->screen(), random_->state(), *settings_, *duel_);
}

void DuelReferee::sleep(int milliseconds) {
  if (inDuel_) {
    waitForFinal(++playing_);
  }
  clock_.sleep(milliseconds);
}

DuelReferee::KnownFrame& DuelReferee::frameAt(std::uint32_t frame) {
  if (frame < firstKnownFrame_) {
    static thread_local KnownFrame past;  // a frame the game has played: nothing to take
    past = {};
    return past;
  }
  while (frames_.size() < frame - firstKnownFrame_ + 1) {
    frames_.emplace_back();
  }
  return frames_[frame - firstKnownFrame_];
}

bool DuelReferee::keyWaiting(int ship) {
  const KnownFrame& known = frameAt(playing_);
  const auto& key = known.ships[static_cast<std::size_t>(ship)];
  return key && key->pressed && !known.taken[static_cast<std::size_t>(ship)];
}

unsigned char DuelReferee::takeWaitingKey(int ship) {
  KnownFrame& known = frameAt(playing_);
  known.taken[static_cast<std::size_t>(ship)] = true;
  return known.ships[static_cast<std::size_t>(ship)].value_or(FrameKey{}).byte;
}

bool DuelReferee::isFinal(std::uint32_t frame) const {
  return known_[0] >= frame && known_[1] >= frame;
}

// The game's pause: meanwhile the host's pilot plays their frames as they
// come due, and the terminals' keys are taken in as they come.
void DuelReferee::waitForFinal(std::uint32_t frame) {
  for (;;) {
    absorbNews();
    if (!inDuel_) {
      return;
    }
    playHostFrames();
    if (isFinal(frame)) {
      return;
    }
    const std::int64_t now = waits_.wallMs();
    if (now - lastProgressMs_ >= kSilentPilotMs) {
      abandon("no keys from a pilot's terminal for " + std::to_string(kSilentPilotMs / 1000) +
              " s");
      return;
    }
    std::int64_t deadline = std::min(now + kLongestWaitMs, lastProgressMs_ + kSilentPilotMs);
    if (hostView_ && hostView_->mayPlayOn()) {
      deadline = std::min(deadline, pacer_->dueMs(hostView_->playedFrames() + 1));
    }
    waits_.waitForNews(deadline);
  }
}

void DuelReferee::absorbNews() {
  DuelNews news = terminals_.takeDuelNews();
  for (int ship = 0; ship < 2; ++ship) {
    const auto index = static_cast<std::size_t>(ship);
    for (const FrameKeys& keys : news.keys[index]) {
      takeKeys(ship, keys);
      if (!inDuel_) {
        return;
      }
    }
    for (const FrameChecksums& checksums : news.checksums[index]) {
      compareChecksums(ship, checksums);
    }
    if (news.gone[index]) {
      abandon("pilot " + std::to_string(ship + 1) + "'s terminal left");
      return;
    }
  }
}

void DuelReferee::takeKeys(int ship, const FrameKeys& keys) {
  const auto index = static_cast<std::size_t>(ship);
  if (keys.firstFrame != known_[index] + 1) {
    return;
  }
  // A terminal plays no further ahead of the other pilot's keys than a
  // correction reaches: one that sends more is not playing the duel.
  if (known_[index] + keys.keys.size() > known_[1 - index] + 2 * correctionFrames_) {
    abandon("pilot " + std::to_string(ship + 1) + "'s terminal ran too far ahead");
    return;
  }
  const std::uint32_t finalBefore = std::min(known_[0], known_[1]);
  for (const FrameKey& key : keys.keys) {
    frameAt(++known_[index]).ships[index] = key;
  }
  if (std::min(known_[0], known_[1]) > finalBefore) {
    lastProgressMs_ = waits_.wallMs();
  }
  if (hostView_ && ship == 1) {
    const std::uint32_t corrections = hostView_->figures().corrections;
    hostView_->takeOtherKeys(keys.firstFrame, keys.keys);
    otherHeard_ = {known_[index], waits_.wallMs(), keys.delayMs};
    if (hostView_->figures().corrections != corrections) {
      hostPilot_->show(hostView_->shown().screen);
    }
  }
}

// A duel whose pilot's terminal left or went silent is given up: both
// terminals show the game's picture again, and the battle goes on as any
// network game, the keys typed reaching the game as they come.
void DuelReferee::abandon(const std::string& why) {
  log_("duel given up at frame " + std::to_string(playing_) + ": " + why);
  finish(playing_);
}

// A terminal's checksum of a frame the game has not yet played waits for it
// (the terminal had both keys sooner), a while.
void DuelReferee::compareChecksums(int ship, const FrameChecksums& checksums) {
  auto& early = earlyChecksums_[static_cast<std::size_t>(ship)];
  for (std::size_t at = 0; at < checksums.checksums.size(); ++at) {
    const std::uint32_t frame = checksums.firstFrame + static_cast<std::uint32_t>(at);
    if (frame > lastFrame_.frame) {
      if (early.size() < kKeptChecksums) {
        early.emplace_back(frame, checksums.checksums[at]);
      }
      continue;
    }
    compareChecksum(ship, frame, checksums.checksums[at]);
  }
}

// A terminal whose final frame differs from the game's is sent the game's
// latest state; what it sent before that reached it is not held against it.
void DuelReferee::compareChecksum(int ship, std::uint32_t frame, std::uint32_t checksum) {
  const auto index = static_cast<std::size_t>(ship);
  if (frame <= repairedUpTo_[index]) {
    return;
  }
  const auto game = std::find_if(checksums_.begin(), checksums_.end(),
                                 [frame](const auto& known) { return known.first == frame; });
  if (game == checksums_.end() || game->second == checksum) {
    return;
  }
  const std::optional<std::string> state = snapshotBytes(lastFrame_);
  if (!state) {
    return;
  }
  terminals_.sendRepair(ship, BattleRepair{lastFrame_.frame, *state});
  // Its checksums already on their way, of frames up to as far as it may
  // have played, came before it had the repair.
  repairedUpTo_[index] = known_[index] + 2 * correctionFrames_;
  earlyChecksums_[index].clear();
  ++repairs_;
  if (counters_ != nullptr) {
    counters_->duelRepairs.fetch_add(1, std::memory_order_relaxed);
  }
  log_("duel: pilot " + std::to_string(ship + 1) + "'s terminal drifted at frame " +
       std::to_string(frame) + "; repaired from frame " + std::to_string(lastFrame_.frame));
}

// The host's pilot plays each frame as it comes due, unless the battle they
// see is over or pilot 2's keys lag too far behind.
void DuelReferee::playHostFrames() {
  if (!hostView_) {
    return;
  }
  bool played = false;
  for (;;) {
    const std::int64_t now = waits_.wallMs();
    const std::uint32_t frame = hostView_->playedFrames() + 1;
    if (!hostView_->mayPlayOn() || now < pacer_->dueMs(frame)) {
      break;
    }
    const FrameKey key = hostPilot_->takeKey();
    hostView_->playOwnFrame(key);
    if (known_[0] < known_[1]) {
      lastProgressMs_ = now;
    }
    frameAt(++known_[0]).ships[0] = key;
    terminals_.sendFrameKeys(1, FrameKeys{frame, 0, {key}});
    pacer_->played(frame, now);
    pacer_->keepInStep(frame, otherHeard_.frame,
                       otherHeard_.delayMs + (now - otherHeard_.arrivedMs));
    played = true;
  }
  if (played) {
    hostPilot_->show(hostView_->shown().screen);
  }
}

}  // namespace skyrazor::network
