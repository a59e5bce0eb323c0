#pragma once

// The keys that move through a list (the server's lobby) as a live backend
// hands them on when asked to (passNavigationKeys): the control bytes Emacs
// and readline take for the same moves, so that a player without arrow keys
// can type them too. The game itself never asks, so its keys and every
// recording stay as they were.
namespace skyrazor::navigation {

constexpr unsigned char kUp = 0x10;        // Ctrl-P: the row above
constexpr unsigned char kDown = 0x0E;      // Ctrl-N: the row below
constexpr unsigned char kPageUp = 0x02;    // Ctrl-B: the page before
constexpr unsigned char kPageDown = 0x06;  // Ctrl-F: the page after

}  // namespace skyrazor::navigation
