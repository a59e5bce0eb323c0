#include "platform/terminal/terminal_guard.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <string>

namespace skyrazor {
namespace {

// Everything the handlers touch lives here, written before they are installed.
volatile std::sig_atomic_t gEndingSignal = 0;
volatile std::sig_atomic_t gResized = 0;
// Set by another thread (the network's) that wants a wait to return.
std::atomic<bool> gWokenByThread{false};
volatile std::sig_atomic_t gResetArmed = 0;
int gWakeRead = -1;
int gWakeWrite = -1;

struct SavedModes {
  int descriptor;
  termios modes;
};
std::array<SavedModes, 2> gSavedModes{};
int gSavedModesCount = 0;

std::array<char, 256> gResetSequence{};
std::size_t gResetLength = 0;

constexpr std::array kEndingSignals{SIGINT, SIGTERM, SIGHUP};
constexpr std::array kCrashSignals{SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGQUIT};

struct InstalledHandler {
  int signal;
  struct sigaction previous;
};
std::array<InstalledHandler, kEndingSignals.size() + kCrashSignals.size() + 1> gInstalled{};
std::size_t gInstalledCount = 0;

// A stack for the crash handler, so that even a stack overflow restores the terminal.
alignas(16) std::array<char, 64 * 1024> gAlternateStack{};
bool gOwnAlternateStack = false;

bool gGuardExists = false;

void wake() {
  int savedErrno = errno;
  char byte = 1;
  [[maybe_unused]] ssize_t written = write(gWakeWrite, &byte, 1);
  errno = savedErrno;
}

// Async-signal-safe: write(2) and tcsetattr(3) only.
void emergencyRestore() {
  if (gResetArmed != 0) {
    [[maybe_unused]] ssize_t written = write(STDOUT_FILENO, gResetSequence.data(), gResetLength);
  }
  for (int i = 0; i < gSavedModesCount; ++i) {
    tcsetattr(gSavedModes[static_cast<std::size_t>(i)].descriptor, TCSANOW,
              &gSavedModes[static_cast<std::size_t>(i)].modes);
  }
}

void takeDefaultCourse(int signal) {
  for (std::size_t i = 0; i < gInstalledCount; ++i) {
    if (gInstalled[i].signal == signal) {
      sigaction(signal, &gInstalled[i].previous, nullptr);
    }
  }
  raise(signal);
}

void onEndingSignal(int signal) {
  if (gEndingSignal != 0) {
    emergencyRestore();
    takeDefaultCourse(signal);
    return;
  }
  gEndingSignal = signal;
  wake();
}

void onResize(int) {
  gResized = 1;
  wake();
}

void onCrash(int signal) {
  emergencyRestore();
  takeDefaultCourse(signal);
}

void install(int signal, void (*handler)(int), int flags) {
  struct sigaction current {};
  if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN &&
      handler == onEndingSignal) {
    return;  // ignored by whoever started us (nohup, say): leave it so
  }
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = flags;
  InstalledHandler& slot = gInstalled[gInstalledCount];
  if (sigaction(signal, &action, &slot.previous) == 0) {
    slot.signal = signal;
    ++gInstalledCount;
  }
}

void saveModes(int descriptor) {
  if (!isatty(descriptor)) {
    return;
  }
  struct stat device {};
  if (fstat(descriptor, &device) != 0) {
    return;
  }
  for (int i = 0; i < gSavedModesCount; ++i) {
    struct stat saved {};
    if (fstat(gSavedModes[static_cast<std::size_t>(i)].descriptor, &saved) == 0 &&
        saved.st_rdev == device.st_rdev) {
      return;  // the same terminal on another descriptor
    }
  }
  SavedModes& slot = gSavedModes[static_cast<std::size_t>(gSavedModesCount)];
  if (tcgetattr(descriptor, &slot.modes) == 0) {
    slot.descriptor = descriptor;
    ++gSavedModesCount;
  }
}

// A closed standard descriptor would be handed out again by pipe(2) and mixed
// up with the keyboard or the screen; /dev/null stands in for it instead (so
// a closed input reads as the end of input).
void occupyClosedStandardDescriptors() {
  for (int descriptor : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (fcntl(descriptor, F_GETFD) == -1 && errno == EBADF) {
      int opened = open("/dev/null", descriptor == STDIN_FILENO ? O_RDONLY : O_WRONLY);
      if (opened >= 0 && opened != descriptor) {
        dup2(opened, descriptor);
        close(opened);
      }
    }
  }
}

void makeNonBlocking(int descriptor) {
  fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) | O_NONBLOCK);
  fcntl(descriptor, F_SETFD, FD_CLOEXEC);
}

}  // namespace

// A sanitizer build reports a fault from here; give the terminal back first so
// the report lands on the normal screen.
extern "C" void __asan_on_error() {
  emergencyRestore();
}

TerminalGuard::TerminalGuard() {
  if (gGuardExists) {
    throw std::logic_error("only one terminal guard at a time");
  }
  occupyClosedStandardDescriptors();
  std::array<int, 2> pipeEnds{};
  if (pipe(pipeEnds.data()) != 0) {
    throw std::runtime_error(std::string("cannot create a pipe: ") + std::strerror(errno));
  }
  gGuardExists = true;
  gWakeRead = pipeEnds[0];
  gWakeWrite = pipeEnds[1];
  makeNonBlocking(gWakeRead);
  makeNonBlocking(gWakeWrite);
  gEndingSignal = 0;
  gResized = 0;
  gResetArmed = 0;

  gSavedModesCount = 0;
  saveModes(STDIN_FILENO);
  saveModes(STDOUT_FILENO);

  stack_t current{};
  if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) != 0) {
    stack_t own{};
    own.ss_sp = gAlternateStack.data();
    own.ss_size = gAlternateStack.size();
    gOwnAlternateStack = sigaltstack(&own, nullptr) == 0;
  }

  // SA_RESTART keeps reads and writes whole; poll(2) still returns EINTR.
  gInstalledCount = 0;
  for (int signal : kEndingSignals) {
    install(signal, onEndingSignal, SA_RESTART);
  }
  install(SIGWINCH, onResize, SA_RESTART);
  for (int signal : kCrashSignals) {
    install(signal, onCrash, SA_RESTART | SA_ONSTACK);
  }
}

TerminalGuard::~TerminalGuard() {
  gResetArmed = 0;
  for (std::size_t i = gInstalledCount; i-- > 0;) {
    sigaction(gInstalled[i].signal, &gInstalled[i].previous, nullptr);
  }
  gInstalledCount = 0;
  if (gOwnAlternateStack) {
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    sigaltstack(&off, nullptr);
    gOwnAlternateStack = false;
  }
  close(gWakeRead);
  close(gWakeWrite);
  gWakeRead = -1;
  gWakeWrite = -1;
  gSavedModesCount = 0;
  gGuardExists = false;
}

int TerminalGuard::wakeDescriptor() const {
  return gWakeRead;
}

void TerminalGuard::drainWake() {
  std::array<char, 64> discard{};
  while (read(gWakeRead, discard.data(), discard.size()) > 0) {
  }
}

int TerminalGuard::endingSignal() const {
  return gEndingSignal;
}

void TerminalGuard::wakeFromThread() {
  gWokenByThread.store(true);
  wake();
}

bool TerminalGuard::takeThreadWake() {
  return gWokenByThread.exchange(false);
}

bool TerminalGuard::takeResize() {
  if (gResized == 0) {
    return false;
  }
  gResized = 0;
  return true;
}

void TerminalGuard::armEmergencyReset(std::string_view resetSequence) {
  gResetArmed = 0;
  gResetLength = std::min(resetSequence.size(), gResetSequence.size());
  std::memcpy(gResetSequence.data(), resetSequence.data(), gResetLength);
  gResetArmed = 1;
}

void TerminalGuard::disarmEmergencyReset() {
  gResetArmed = 0;
}

void TerminalGuard::restoreTerminalModes() const {
  for (int i = 0; i < gSavedModesCount; ++i) {
    const SavedModes& saved = gSavedModes[static_cast<std::size_t>(i)];
    tcsetattr(saved.descriptor, TCSADRAIN, &saved.modes);
  }
}

}  // namespace skyrazor
