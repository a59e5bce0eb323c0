#include "platform/windows_console/windows_console_input.h"

#include <algorithm>
#include <array>
#include <optional>

#include "console/cp437.h"
#include "platform/live/navigation_keys.h"

namespace skyrazor {
namespace {

constexpr unsigned char kEscape = 0x1B;

std::optional<unsigned char> navigationByte(WORD virtualKey) {
  switch (virtualKey) {
    case VK_UP:
      return navigation::kUp;
    case VK_DOWN:
      return navigation::kDown;
    case VK_PRIOR:
      return navigation::kPageUp;
    case VK_NEXT:
      return navigation::kPageDown;
    default:
      return std::nullopt;
  }
}

std::optional<unsigned char> typedByte(const KEY_EVENT_RECORD& key, bool navigationKeys) {
  WCHAR character = key.uChar.UnicodeChar;
  if (character == L'\r') {
    return '\n';
  }
  if (character == 0) {
    if (key.wVirtualKeyCode == VK_ESCAPE) {
      return kEscape;
    }
    if (navigationKeys && key.bKeyDown) {
      return navigationByte(key.wVirtualKeyCode);
    }
    return std::nullopt;
  }
  return unicodeToCp437(static_cast<char32_t>(character));
}

}  // namespace

void appendTypedBytes(const KEY_EVENT_RECORD& key, std::string& bytes, bool navigationKeys) {
  bool composedWithAlt = !key.bKeyDown && key.wVirtualKeyCode == VK_MENU;
  if (!key.bKeyDown && !composedWithAlt) {
    return;
  }
  std::optional<unsigned char> byte = typedByte(key, navigationKeys);
  if (!byte) {
    return;
  }
  int times = key.bKeyDown ? std::max<int>(key.wRepeatCount, 1) : 1;
  bytes.append(static_cast<std::size_t>(times), static_cast<char>(*byte));
}

bool takeConsoleInput(HANDLE input, std::string& bytes, bool navigationKeys) {
  std::array<INPUT_RECORD, 64> events{};
  bool windowChanged = false;
  for (;;) {
    DWORD waiting = 0;
    if (!GetNumberOfConsoleInputEvents(input, &waiting) || waiting == 0) {
      return windowChanged;
    }
    DWORD taken = 0;
    if (!ReadConsoleInputW(input, events.data(), static_cast<DWORD>(events.size()), &taken)) {
      return windowChanged;
    }
    for (DWORD i = 0; i < taken; ++i) {
      if (events[i].EventType == KEY_EVENT) {
        appendTypedBytes(events[i].Event.KeyEvent, bytes, navigationKeys);
      } else if (events[i].EventType == WINDOW_BUFFER_SIZE_EVENT) {
        windowChanged = true;
      }
    }
  }
}

}  // namespace skyrazor
