#include "platform/windows_console/windows_console_platform.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <stdexcept>

#include "platform/live/key_clock.h"
#include "platform/windows_console/windows_console_display.h"
#include "platform/windows_console/windows_console_guard.h"
#include "platform/windows_console/windows_console_input.h"

namespace skyrazor {
namespace {

// Ctrl-L: the key console games take for "paint the screen again". The game
// ignores it at every read, so the console keeps it to itself.
constexpr char kRepaintKey = 0x0C;
// Ctrl-G: brings the network game's status up over a picture with no row
// below it. Kept from the game too, whose keys never include it.
constexpr char kStatusKey = 0x07;

DWORD waitTimeout(std::int64_t milliseconds) {
  return static_cast<DWORD>(std::clamp<std::int64_t>(milliseconds, 0, 60 * 60 * 1000));
}

// An auto-reset event, closed with its owner.
class WakeEvent {
 public:
  WakeEvent() : handle_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    if (handle_ == nullptr) {
      throw std::runtime_error("cannot create an event to wake the console's waits");
    }
  }
  ~WakeEvent() { CloseHandle(handle_); }
  WakeEvent(const WakeEvent&) = delete;
  WakeEvent& operator=(const WakeEvent&) = delete;
  HANDLE handle() const { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace

// One session on the console: the guard, the display, the wall clock and the
// keys. The guard comes first, so the console's state is saved and the
// control handler is in place before anything is drawn.
class WindowsConsolePlatform::Session final {
 public:
  Session(Screen& screen, HANDLE input, HANDLE output)
      : input_(input), guard_(input, output), display_(output, screen) {
    if (!guard_.inputIsConsole()) {
      throw TerminalUnavailable(
          "standard input is not a console (to play from a file of keys, use --script FILE)");
    }
  }
  ~Session() {
    // Keys pressed as the game ended were meant for the game, not the shell.
    FlushConsoleInputBuffer(input_);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  void present() {
    checkEnded();
    display_.present();
  }
  // Ends the session when the console asked for it; every call checks.
  void checkEnded() {
    if (guard_.endRequested()) {
      throw SessionEnded{ConsoleGuard::kEndedByConsoleStatus};
    }
  }

  ConsoleDisplay& display() { return display_; }

  std::int64_t wallMs() { return wallClock_.nowMs(); }

  // A notice whose time is up (news, a status brought up) goes as the wait
  // passes that moment.
  void waitUntil(std::int64_t deadlineMs) {
    for (;;) {
      checkEnded();
      const DWORD untilDeadline = waitTimeout(deadlineMs - wallMs());
      const DWORD untilNotice = display_.msUntilNoticeChange();
      std::array<HANDLE, 2> watched{guard_.wakeEvent(), threadWake_.handle()};
      DWORD woken = WaitForMultipleObjects(static_cast<DWORD>(watched.size()), watched.data(),
                                           FALSE, std::min(untilDeadline, untilNotice));
      checkEnded();
      if (woken != WAIT_TIMEOUT || untilDeadline <= untilNotice) {
        return;
      }
      display_.present();
    }
  }

  // True when the console has input, false when another thread woke the wait.
  bool waitForInput() {
    for (;;) {
      checkEnded();
      std::array<HANDLE, 3> watched{input_, guard_.wakeEvent(), threadWake_.handle()};
      DWORD woken = WaitForMultipleObjects(static_cast<DWORD>(watched.size()), watched.data(),
                                           FALSE, display_.msUntilNoticeChange());
      checkEnded();
      if (woken == WAIT_TIMEOUT) {
        display_.present();
        continue;
      }
      if (woken == WAIT_FAILED) {
        throw SessionEnded{0};
      }
      return woken != WAIT_OBJECT_0 + 2;
    }
  }

  void wake() { SetEvent(threadWake_.handle()); }
  void passNavigationKeys(bool pass) { passNavigationKeys_ = pass; }

  // A window that changed size, or Ctrl-L, shows the picture again at once,
  // also while the game waits for a key; so does Ctrl-G, with the status up.
  void takeTyped(std::string& bytes) {
    std::string typed;
    bool windowChanged = takeConsoleInput(input_, typed, passNavigationKeys_);
    bool repaintAsked = false;
    bool statusAsked = false;
    for (char byte : typed) {
      if (byte == kRepaintKey) {
        repaintAsked = true;
      } else if (byte == kStatusKey) {
        statusAsked = true;
      } else {
        bytes += byte;
      }
    }
    if (repaintAsked) {
      display_.repaint();
    } else if (windowChanged) {
      display_.present();
    }
    if (statusAsked) {
      display_.bringUpStatus();
    }
  }

 private:
  HANDLE input_;
  WakeEvent threadWake_;  // set by the network's thread when keys or news arrive
  ConsoleGuard guard_;
  ConsoleDisplay display_;
  SteadyWallClock wallClock_;
  bool passNavigationKeys_ = false;
};

// --- The backend's face ------------------------------------------------------------

WindowsConsolePlatform::WindowsConsolePlatform(Screen& screen)
    : WindowsConsolePlatform(screen, GetStdHandle(STD_INPUT_HANDLE),
                             GetStdHandle(STD_OUTPUT_HANDLE)) {}

WindowsConsolePlatform::WindowsConsolePlatform(Screen& screen, void* input, void* output)
    : session_(std::make_unique<Session>(screen, input, output)) {}

WindowsConsolePlatform::~WindowsConsolePlatform() = default;

void WindowsConsolePlatform::present() {
  session_->present();
}

void WindowsConsolePlatform::showNews(const std::string& news) {
  session_->display().showNews(news);
}

std::int64_t WindowsConsolePlatform::wallMs() {
  return session_->wallMs();
}

void WindowsConsolePlatform::waitUntil(std::int64_t deadlineMs) {
  session_->waitUntil(deadlineMs);
}

bool WindowsConsolePlatform::waitForInput() {
  return session_->waitForInput();
}

void WindowsConsolePlatform::wake() {
  session_->wake();
}

void WindowsConsolePlatform::showStatus(const std::string& status, bool overPicture) {
  session_->display().showStatus(status, overPicture);
}

void WindowsConsolePlatform::bringUpStatus() {
  session_->display().bringUpStatus();
}

void WindowsConsolePlatform::takeTyped(std::string& bytes, bool) {
  session_->takeTyped(bytes);
}

void WindowsConsolePlatform::checkEnded() {
  session_->checkEnded();
}

void WindowsConsolePlatform::typingLine(bool typing) {
  session_->display().setReadingLine(typing);
}

void WindowsConsolePlatform::passNavigationKeys(bool pass) {
  session_->passNavigationKeys(pass);
}

}  // namespace skyrazor
