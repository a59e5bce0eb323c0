#pragma once

#include <string_view>

namespace skyrazor {

// Guards the terminal the game takes over. It saves the terminal's modes as
// they were found and installs the signal handlers of a session:
// - Ctrl-C (SIGINT), SIGTERM and SIGHUP end the session (unless whoever
//   started the game had them ignored, as nohup does). Their handlers only
//   note the signal and wake any wait through a pipe; the game then leaves
//   through its normal path. A second one before the game is out restores the
//   terminal at once and ends the process (so a hung game still yields).
// - A window size change (SIGWINCH) is noted and wakes waits the same way.
// - A crash (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGQUIT) puts the
//   terminal back as it was found, then lets the signal take its course.
// There is one guard at a time; the destructor removes the handlers again.
class TerminalGuard {
 public:
  TerminalGuard();
  ~TerminalGuard();
  TerminalGuard(const TerminalGuard&) = delete;
  TerminalGuard& operator=(const TerminalGuard&) = delete;

  // Becomes readable when a signal has arrived; poll it alongside the input.
  int wakeDescriptor() const;
  // Empties the wake pipe (the flags below carry the news).
  void drainWake();

  // The signal that ends the session, or 0.
  int endingSignal() const;
  // Wakes the waits as a signal does, from any thread.
  void wakeFromThread();
  // Whether wakeFromThread() was called since the last call.
  bool takeThreadWake();
  // Whether the window size changed since the last call.
  bool takeResize();

  // What an emergency restore writes to the terminal before its modes: the
  // sequences that reset colours, show the cursor and leave the alternate
  // screen. Unarmed, an emergency restore only puts the modes back.
  void armEmergencyReset(std::string_view resetSequence);
  void disarmEmergencyReset();

  // Puts back the terminal modes saved at construction.
  void restoreTerminalModes() const;
};

}  // namespace skyrazor
