#pragma once

// The backend a player plays on: the Windows console on Windows, the terminal
// (through ncurses) everywhere else. Both take the screen model in their
// constructor, throw TerminalUnavailable when there is nothing to play on,
// and are the display, the keyboard and the clock at once.
#ifdef _WIN32
#include "platform/windows_console_platform.h"
namespace skyrazor {
using LivePlatform = WindowsConsolePlatform;
}  // namespace skyrazor
#else
#include "platform/terminal_platform.h"
namespace skyrazor {
using LivePlatform = TerminalPlatform;
}  // namespace skyrazor
#endif
