#pragma once

#include <windows.h>

namespace skyrazor {

// Guards the Windows console the game takes over. It saves the console's
// input mode and cursor as they were found, turns the keyboard into single
// keys without echo, asks for a fine timer so frame pauses keep their length,
// and installs the console control handler of a session:
// - Ctrl-C, Ctrl-Break, closing the window, logging off and shutting down end
//   the session. The handler only notes it and wakes any wait through an
//   event; the game then leaves through its normal path, giving the console
//   back on the way. For the closing kinds, after which the console ends the
//   process as soon as the handler returns, the handler first waits (a few
//   seconds at most) until the console has been given back.
// - A second Ctrl-C or Ctrl-Break before the game is out puts the input mode
//   and cursor back at once and lets the console end the process, so a hung
//   game still yields.
// There is one guard at a time; the destructor puts everything back.
class ConsoleGuard {
 public:
  // `input` need not be a console (then it is left alone); `output` must be one.
  ConsoleGuard(HANDLE input, HANDLE output);
  ~ConsoleGuard();
  ConsoleGuard(const ConsoleGuard&) = delete;
  ConsoleGuard& operator=(const ConsoleGuard&) = delete;

  // The keyboard mode while the game runs: keys one at a time, no echo,
  // Ctrl-C as a control event, window size changes reported, no mouse and no
  // quick-edit selection that would freeze the game.
  static constexpr DWORD kGameInputMode =
      ENABLE_PROCESSED_INPUT | ENABLE_WINDOW_INPUT | ENABLE_EXTENDED_FLAGS;

  // The exit status of a session ended from the console: the one Windows
  // gives a program that Ctrl-C ended (0xC000013A, STATUS_CONTROL_C_EXIT).
  static constexpr int kEndedByConsoleStatus = -1073741510;

  bool inputIsConsole() const { return inputIsConsole_; }

  // Set when the session is to end; wait on it alongside the input.
  HANDLE wakeEvent() const;
  // Whether the console asked for the session to end.
  bool endRequested() const;

  // The console control handler. The console calls it on a thread of its own.
  static BOOL WINAPI onControlEvent(DWORD event);

 private:
  bool inputIsConsole_ = false;
};

}  // namespace skyrazor
