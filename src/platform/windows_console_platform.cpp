#include "platform/windows_console_platform.h"

#include <windows.h>

#include <algorithm>
#include <array>

#include "platform/key_clock.h"
#include "platform/line_editor.h"
#include "platform/windows_console_display.h"
#include "platform/windows_console_guard.h"
#include "platform/windows_console_input.h"

namespace skyrazor {
namespace {

// Ctrl-L: the key console games take for "paint the screen again". The game
// ignores it at every read, so the console keeps it to itself.
constexpr char kRepaintKey = 0x0C;

DWORD waitTimeout(std::int64_t milliseconds) {
  return static_cast<DWORD>(std::clamp<std::int64_t>(milliseconds, 0, 60 * 60 * 1000));
}

}  // namespace

// One session on the console: the guard, the display, the game clock and the
// keys. The guard comes first, so the console's state is saved and the
// control handler is in place before anything is drawn.
class WindowsConsolePlatform::Session final : public KeySource {
 public:
  Session(Screen& screen, HANDLE input, HANDLE output, ScriptRecorder* recorder)
      : input_(input),
        guard_(input, output),
        display_(output, screen),
        keys_(*this, KeyClock::kCtrlZ, recorder),
        editor_(screen) {
    if (!guard_.inputIsConsole()) {
      throw TerminalUnavailable(
          "standard input is not a console (to play from a file of keys, use --script FILE)");
    }
  }
  ~Session() override {
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

  KeyClock& keys() { return keys_; }
  LineEditor& editor() { return editor_; }
  ConsoleDisplay& display() { return display_; }

  std::int64_t wallMs() override { return wallClock_.nowMs(); }

  void waitUntil(std::int64_t deadlineMs) override {
    checkEnded();
    WaitForSingleObject(guard_.wakeEvent(), waitTimeout(deadlineMs - wallMs()));
    checkEnded();
  }

  void waitForInput() override {
    checkEnded();
    std::array<HANDLE, 2> watched{input_, guard_.wakeEvent()};
    DWORD woken =
        WaitForMultipleObjects(static_cast<DWORD>(watched.size()), watched.data(), FALSE, INFINITE);
    checkEnded();
    if (woken == WAIT_FAILED) {
      throw SessionEnded{0};
    }
  }

  // A window that changed size, or Ctrl-L, shows the picture again at once,
  // also while the game waits for a key.
  void takeTyped(std::string& bytes, bool) override {
    std::string typed;
    bool windowChanged = takeConsoleInput(input_, typed);
    bool repaintAsked = false;
    for (char byte : typed) {
      if (byte == kRepaintKey) {
        repaintAsked = true;
      } else {
        bytes += byte;
      }
    }
    if (repaintAsked) {
      display_.repaint();
    } else if (windowChanged) {
      display_.present();
    }
  }

 private:
  HANDLE input_;
  ConsoleGuard guard_;
  ConsoleDisplay display_;
  SteadyWallClock wallClock_;
  KeyClock keys_;
  LineEditor editor_;
};

// --- The platform seam ---------------------------------------------------------

WindowsConsolePlatform::WindowsConsolePlatform(Screen& screen, ScriptRecorder* recorder)
    : WindowsConsolePlatform(screen, GetStdHandle(STD_INPUT_HANDLE),
                             GetStdHandle(STD_OUTPUT_HANDLE), recorder) {}

WindowsConsolePlatform::WindowsConsolePlatform(Screen& screen, void* input, void* output,
                                               ScriptRecorder* recorder)
    : session_(std::make_unique<Session>(screen, input, output, recorder)) {}

WindowsConsolePlatform::~WindowsConsolePlatform() = default;

void WindowsConsolePlatform::present() {
  session_->present();
}

unsigned char WindowsConsolePlatform::readKey() {
  session_->checkEnded();
  return session_->keys().readKey();
}

bool WindowsConsolePlatform::keyWaiting() {
  session_->checkEnded();
  return session_->keys().keyWaiting();
}

unsigned char WindowsConsolePlatform::takeWaitingKey() {
  session_->checkEnded();
  return session_->keys().takeWaitingKey();
}

std::string WindowsConsolePlatform::pullLine() {
  session_->checkEnded();
  session_->display().setReadingLine(true);
  try {
    std::string line =
        readTypedLine(session_->editor(), session_->keys(), [this] { session_->present(); });
    session_->display().setReadingLine(false);
    return line;
  } catch (...) {
    session_->display().setReadingLine(false);
    throw;
  }
}

void WindowsConsolePlatform::showNews(const std::string& news) {
  session_->display().showNews(news);
}

void WindowsConsolePlatform::sleep(int milliseconds) {
  session_->checkEnded();
  session_->keys().sleep(milliseconds);
}

std::int64_t WindowsConsolePlatform::nowSeconds() {
  session_->checkEnded();
  return session_->keys().nowMs() / 1000;
}

}  // namespace skyrazor
