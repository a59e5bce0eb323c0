#pragma once

#include <windows.h>

#include <string>

namespace skyrazor {

// The code-page-437 bytes that one console key event types, appended to
// `bytes`:
// - a key press with a character types it, as many times as the key repeated;
//   Enter types '\n', as the terminal's Enter does, and a character that code
//   page 437 lacks types nothing;
// - Escape types 0x1B, also where the console gives it no character;
// - a character composed with Alt on the numeric keypad types when Alt is
//   released;
// - with `navigationKeys`, the arrows up and down, Page Up and Page Down type
//   the navigation bytes (platform/live/navigation_keys.h), as often as they
//   repeated;
// - other key releases, and keys without a character (the other arrows,
//   function keys, Shift), type nothing.
void appendTypedBytes(const KEY_EVENT_RECORD& key, std::string& bytes, bool navigationKeys = false);

// Takes in every event the console input holds, without waiting, and appends
// the bytes typed (the navigation keys' too, with `navigationKeys`); the
// other events (focus, mouse, window size) are dropped. Returns whether the
// window changed size among them.
bool takeConsoleInput(HANDLE input, std::string& bytes, bool navigationKeys = false);

}  // namespace skyrazor
