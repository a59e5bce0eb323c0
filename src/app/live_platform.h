#pragma once

// The backend a player plays on: the Windows console on Windows, the terminal
// (through ncurses) everywhere else. Both take the screen model in their
// constructor, throw TerminalUnavailable when there is nothing to play on,
// and are a display and a KeySource (keys and the wall clock) at once; a
// LiveKeyboard over one is the game's keyboard and clock.
#ifdef _WIN32
#include "platform/windows_console/windows_console_platform.h"
namespace skyrazor {
using LivePlatform = WindowsConsolePlatform;
}  // namespace skyrazor
#else
#include "platform/terminal/terminal_platform.h"
namespace skyrazor {
using LivePlatform = TerminalPlatform;
}  // namespace skyrazor
#endif
