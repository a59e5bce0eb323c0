#include "platform/windows_console/windows_console_guard.h"

#include <mmsystem.h>

#include <atomic>
#include <stdexcept>

#include "console/seam.h"

namespace skyrazor {
namespace {

// How long the handler holds a closing console for the game to give it back.
constexpr DWORD kCloseGraceMs = 4000;

// Everything the handler touches. The two events live as long as the process,
// so a handler still running on its own thread never meets a closed handle.
std::atomic<bool> gEndRequested{false};
std::atomic<bool> gGuardExists{false};
HANDLE gWake = nullptr;       // set when the session is to end
HANDLE gGivenBack = nullptr;  // set once the console has been given back

// The console as it was found, written before the handler is installed.
HANDLE gInput = INVALID_HANDLE_VALUE;
HANDLE gOutput = INVALID_HANDLE_VALUE;
DWORD gSavedInputMode = 0;
bool gInputModeSaved = false;
CONSOLE_CURSOR_INFO gSavedCursor{};
bool gCursorSaved = false;

HANDLE processLifetimeEvent(HANDLE& event) {
  if (event == nullptr) {
    event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) {
      throw std::runtime_error("cannot create a console event");
    }
  }
  return event;
}

// Input mode and cursor back as they were found. Safe from the handler's thread.
void giveBackConsole() {
  if (gInputModeSaved) {
    // Quick-edit selection is only switched back on with the extended flags.
    DWORD mode = gSavedInputMode;
    if ((mode & ENABLE_QUICK_EDIT_MODE) != 0) {
      mode |= ENABLE_EXTENDED_FLAGS;
    }
    SetConsoleMode(gInput, mode);
  }
  if (gCursorSaved) {
    SetConsoleCursorInfo(gOutput, &gSavedCursor);
  }
}

}  // namespace

ConsoleGuard::ConsoleGuard(HANDLE input, HANDLE output) {
  CONSOLE_SCREEN_BUFFER_INFO buffer{};
  if (output == INVALID_HANDLE_VALUE || output == nullptr ||
      !GetConsoleScreenBufferInfo(output, &buffer)) {
    throw TerminalUnavailable("standard output is not a console window (try --help)");
  }
  if (gGuardExists.exchange(true)) {
    throw std::logic_error("only one console guard at a time");
  }
  ResetEvent(processLifetimeEvent(gWake));
  ResetEvent(processLifetimeEvent(gGivenBack));
  gEndRequested = false;

  gInput = input;
  gOutput = output;
  gInputModeSaved = GetConsoleMode(input, &gSavedInputMode) != 0;
  inputIsConsole_ = gInputModeSaved;
  gCursorSaved = GetConsoleCursorInfo(output, &gSavedCursor) != 0;

  SetConsoleCtrlHandler(onControlEvent, TRUE);
  if (inputIsConsole_) {
    SetConsoleMode(input, kGameInputMode);
  }
  timeBeginPeriod(1);
}

ConsoleGuard::~ConsoleGuard() {
  timeEndPeriod(1);
  giveBackConsole();
  SetConsoleCtrlHandler(onControlEvent, FALSE);
  gInputModeSaved = false;
  gCursorSaved = false;
  gGuardExists = false;
  SetEvent(gGivenBack);
}

HANDLE ConsoleGuard::wakeEvent() const {
  return gWake;
}

bool ConsoleGuard::endRequested() const {
  return gEndRequested;
}

BOOL WINAPI ConsoleGuard::onControlEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      if (gEndRequested.exchange(true)) {
        giveBackConsole();
        return FALSE;  // the console's own handling ends the process
      }
      SetEvent(gWake);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      gEndRequested = true;
      SetEvent(gWake);
      WaitForSingleObject(gGivenBack, kCloseGraceMs);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace skyrazor
