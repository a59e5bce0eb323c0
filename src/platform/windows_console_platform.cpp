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
        editor_(screen) {}

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

  std::int64_t wallMs() override { return wallClock_.nowMs(); }

  void waitUntil(std::int64_t deadlineMs) override {
    checkEnded();
    WaitForSingleObject(guard_.wakeEvent(), waitTimeout(deadlineMs - wallMs()));
    checkEnded();
  }

  // Input that is not a console (a file, a pipe) counts as ended.
  void waitForInput() override {
    checkEnded();
    if (!guard_.inputIsConsole()) {
      throw SessionEnded{0};
    }
    std::array<HANDLE, 2> watched{input_, guard_.wakeEvent()};
    DWORD woken =
        WaitForMultipleObjects(static_cast<DWORD>(watched.size()), watched.data(), FALSE, INFINITE);
    checkEnded();
    if (woken == WAIT_FAILED) {
      throw SessionEnded{0};
    }
  }

  void takeTyped(std::string& bytes, bool) override {
    if (guard_.inputIsConsole()) {
      takeConsoleInput(input_, bytes);
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
  return readTypedLine(session_->editor(), session_->keys(), [this] { session_->present(); });
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
