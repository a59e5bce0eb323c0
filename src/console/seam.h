#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// The seam between the game and the machine it runs on. The game sees the
// platform only through these three interfaces: one clock, one or two
// keyboards, and a display (which may stand for several). Backends (a real
// terminal, a Windows console, a scripted run) live in src/platform/.
namespace skyrazor {

// Thrown by a backend when the session is over: input has ended, the player
// closed the window or pressed Ctrl-C, or a scripted run reached its end. The
// program leaves through the normal path, restoring the terminal on the way.
struct SessionEnded {
  int exitStatus = 0;
};

// Thrown when a live backend finds nothing to play on: standard output is not
// a terminal (or curses does not know it), or not a console window.
struct TerminalUnavailable : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// What the game is doing, as plain facts, for whoever lists the games in
// progress (a server's lobby). Never read from the picture.
struct GameFacts {
  // Menus: the title, the menus, the options, the gallery, a match being set
  // up before its battle, and the result of a two-person or computer battle.
  // ArcadeRun: from the moment the run has its pilot's name until it goes
  // back to the title, its battle and result screen included.
  enum class Activity { Menus, TwoPersonBattle, ComputerBattle, ArcadeRun };
  Activity activity = Activity::Menus;
  std::string leftPilot;  // names as the game holds them (raw bytes, unsanitized)
  std::string rightPilot;
  int leftHitPoints = 0;  // in a battle: both ships' hit points now
  int rightHitPoints = 0;
  int computerLevel = 0;  // in a battle against the computer: 1-4, or 1-9 in an arcade run
  int arcadeWins = 0;     // in an arcade run: battles won so far
  bool operator==(const GameFacts&) const = default;
};

// One pilot's key in one battle frame: the key their phase took, or none.
// What a network duel's terminals tell each other, frame by frame.
struct FrameKey {
  bool pressed = false;
  unsigned char byte = 0;
  bool operator==(const FrameKey&) const = default;
};

// Shows the screen model. Called at every point where the program waits, so
// that each battle frame reaches the player as one update.
class Display {
 public:
  virtual ~Display() = default;
  virtual void present() = 0;
  // The end of battle frame `frameNumber` (counted from 1 in each battle).
  virtual void frameEnded(int frameNumber) { (void)frameNumber; }
  // What the game is doing now, told only when it changes (at most once a
  // battle frame, before that frame's end). Until told otherwise, the game
  // is at its menus: GameFacts{}.
  virtual void tellFacts(const GameFacts& facts) { (void)facts; }
};

// One player's keys. A session has one keyboard, or two when pilot 2 sits at
// a keyboard of their own (see Console).
class Keyboard {
 public:
  virtual ~Keyboard() = default;
  // Waits for the next key and returns its byte, without echo.
  virtual unsigned char readKey() = 0;
  // True when a key has been taken in and is waiting; never blocks, never consumes.
  virtual bool keyWaiting() = 0;
  // Takes the waiting key (only after keyWaiting() said so).
  virtual unsigned char takeWaitingKey() = 0;
  // Pulls the next typed line, through its line end '\n', echoing it into the
  // screen model at the cursor as the console does.
  virtual std::string pullLine() = 0;
  // Whether the game will read this keyboard before long. A keyboard whose
  // keys come from afar drops the keys pressed while it will not, rather than
  // keeping them for a later read.
  virtual void expectKeys(bool expected) { (void)expected; }
  // Whether someone is at this keyboard now. Pilot 2's keyboard at a host may
  // stand empty, nobody having joined; then the first keyboard plays both
  // pilots, as one keyboard does.
  virtual bool attended() { return true; }
};

// The one game clock of a session. It moves only where the game waits.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual void sleep(int milliseconds) = 0;
  // The game clock in milliseconds since 1970.
  virtual std::int64_t nowMs() = 0;
  // In whole seconds (the random seed reads it).
  std::int64_t nowSeconds() { return nowMs() / 1000; }
};

// The picture shown on any number of displays at once: each present, frame
// end and fact goes to every one, in the order they were added.
class Displays final : public Display {
 public:
  void add(Display& display) { displays_.push_back(&display); }
  void present() override {
    for (Display* display : displays_) {
      display->present();
    }
  }
  void frameEnded(int frameNumber) override {
    for (Display* display : displays_) {
      display->frameEnded(frameNumber);
    }
  }
  void tellFacts(const GameFacts& facts) override {
    for (Display* display : displays_) {
      display->tellFacts(facts);
    }
  }

 private:
  std::vector<Display*> displays_;
};

}  // namespace skyrazor
