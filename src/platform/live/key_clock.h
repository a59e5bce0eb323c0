#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "console/console.h"

namespace skyrazor {

// The machine side of a live keyboard and clock: the wall clock, waiting, and
// the keys the terminal holds. Waits may throw SessionEnded (a signal, or the
// end of input).
class KeySource {
 public:
  virtual ~KeySource() = default;
  // The wall clock in milliseconds since 1970.
  virtual std::int64_t wallMs() = 0;
  // Waits until the wall clock reaches `deadlineMs`; may return earlier.
  virtual void waitUntil(std::int64_t deadlineMs) = 0;
  // Waits until the wall clock reaches `deadlineMs`, or until wake() is
  // called: for whoever waits on the network's news as well as the time.
  virtual void waitForNews(std::int64_t deadlineMs) { waitUntil(deadlineMs); }
  // Waits until something can be read from the keyboard (true), or until
  // wake() is called (false).
  virtual bool waitForInput() = 0;
  // Makes the wait under way, or else the next one, return at once. Safe to
  // call from any thread: the network wakes the game this way when keys or
  // news arrive.
  virtual void wake() {}
  // Appends the keys typed so far as code-page-437 bytes, without waiting.
  // `afterWait` says that waitForInput() has just returned true.
  virtual void takeTyped(std::string& bytes, bool afterWait) = 0;
  // Throws SessionEnded when the session is over (a signal, the window
  // closed); called before every use of the keyboard and the clock.
  virtual void checkEnded() {}
  // A typed line is being read (true) or is done (false), so that the cursor
  // can show where its echo goes.
  virtual void typingLine(bool typing) { (void)typing; }
};

// Keys of a second keyboard that reach the session some other way than the
// backend's own (a joined terminal's, over the network). Whoever fills it
// calls the KeySource's wake() when keys arrive.
class SeatInbox {
 public:
  virtual ~SeatInbox() = default;
  // Appends the keys that arrived since the last call, without waiting.
  virtual void takeTyped(std::string& bytes) = 0;
  // Whether the game will read these keys before long; keys that arrive
  // while it will not are dropped rather than kept for later.
  virtual void expectKeys(bool expected) { (void)expected; }
  // Whether someone sits at the seat now (pilot 2 has joined).
  virtual bool seated() const { return true; }
};

// The wall clock of a live session: read once at the start and carried on by
// the steady clock, so that it never steps back while the game runs.
class SteadyWallClock {
 public:
  SteadyWallClock();
  // Milliseconds since 1970.
  std::int64_t nowMs() const;

 private:
  std::chrono::steady_clock::time_point steadyStart_;
  std::int64_t wallStartMs_;
};

// The game clock of a live session and the keys taken in on it. The clock
// starts at the wall clock's whole second (as a script's clock does) and runs
// that part of a second behind the wall clock. It moves only where the game
// waits: a sleep of N ms adds exactly N, and a wait for a key moves it forward
// to the wall clock's time when the key arrives. Keys typed while the game computes are taken in
// the next time the clock moves and stamped with its new value, so a live session has the same
// timeline of keys a script has.
//
// A session may have a second keyboard (a SeatInbox): its keys are taken in
// at the same moments, on the same clock, into a queue of their own. Only the
// first keyboard's end-of-input key ends the session.
class KeyClock {
 public:
  // A sleep that ends this far behind its wall-clock deadline starts a new
  // schedule instead of hurrying through the next ones.
  static constexpr std::int64_t kCatchUpLimitMs = 100;
  // The keys that end the input at a key read: the terminal's Ctrl-D, the
  // Windows console's Ctrl-Z.
  static constexpr unsigned char kCtrlD = 0x04;
  static constexpr unsigned char kCtrlZ = 0x1A;
  // The most keys a keyboard may have waiting; more are dropped, as a full
  // keyboard buffer drops them, so that keys from afar cannot pile up.
  static constexpr std::size_t kMostWaitingKeys = 256;

  explicit KeyClock(KeySource& source, unsigned char endOfInputKey = kCtrlD,
                    SeatInbox* secondSeat = nullptr);

  std::int64_t nowMs() const { return clockMs_; }

  // Advances the clock by `milliseconds` and waits for the wall clock to get
  // there, measured from the schedule so frame periods stay even.
  void sleep(int milliseconds);

  // Whether a key has been taken in; never reads the terminal.
  bool keyWaiting(KeyboardSeat seat = KeyboardSeat::First) const;
  std::optional<std::int64_t> nextKeyStampMs(KeyboardSeat seat = KeyboardSeat::First) const;
  // Takes the waiting key (keyWaiting() must be true).
  unsigned char takeWaitingKey(KeyboardSeat seat = KeyboardSeat::First);

  // The next key: the first one taken in, or else the next one typed. The
  // first keyboard's end-of-input key ends the session.
  unsigned char readKey(KeyboardSeat seat = KeyboardSeat::First);

  // Takes in the keys typed so far, without moving the clock or waiting.
  void takeInTyped() { takeIn(false); }
  // Forgets the keys a keyboard has waiting.
  void dropKeys(KeyboardSeat seat);

 private:
  struct StampedKey {
    unsigned char byte;
    std::int64_t stampMs;
  };
  using KeyQueue = std::deque<StampedKey>;
  void takeIn(bool afterWait);
  void queueTyped(const std::string& typed, KeyQueue& keys) const;
  StampedKey waitForKey(KeyboardSeat seat);
  KeyQueue& queue(KeyboardSeat seat);
  const KeyQueue& queue(KeyboardSeat seat) const;

  KeySource& source_;
  unsigned char endOfInputKey_;
  SeatInbox* secondSeat_;
  std::int64_t clockMs_;
  std::int64_t wallOffsetMs_;  // the wall clock's part of a second at the start
  std::int64_t lagMs_;         // how far behind the wall clock the schedule runs
  KeyQueue firstKeys_;
  KeyQueue secondKeys_;
};

}  // namespace skyrazor
