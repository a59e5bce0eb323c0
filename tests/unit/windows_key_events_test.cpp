#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <utility>

#include "platform/windows_console/windows_console_input.h"

namespace skyrazor {
namespace {

KEY_EVENT_RECORD keyEvent(bool down, WORD virtualKey, WCHAR character, WORD repeat = 1) {
  KEY_EVENT_RECORD key{};
  key.bKeyDown = down ? TRUE : FALSE;
  key.wRepeatCount = repeat;
  key.wVirtualKeyCode = virtualKey;
  key.uChar.UnicodeChar = character;
  return key;
}

std::string typed(const KEY_EVENT_RECORD& key) {
  std::string bytes = "<";
  appendTypedBytes(key, bytes);
  return bytes.substr(1);
}

TEST(WindowsKeyEvents, KeyPressesTypeTheirCharacterAsOftenAsTheyRepeat) {
  EXPECT_EQ(typed(keyEvent(true, 'A', L'a')), "a");
  EXPECT_EQ(typed(keyEvent(true, 'A', L'A')), "A");
  EXPECT_EQ(typed(keyEvent(true, 'S', L's', 3)), "sss");
  EXPECT_EQ(typed(keyEvent(true, '3', L'3', 0)), "3");  // a count of 0 still typed once
  EXPECT_EQ(typed(keyEvent(false, 'A', L'a')), "");     // the release types nothing
}

TEST(WindowsKeyEvents, EnterBackspaceAndEscapeTypeTheBytesTheGameKnows) {
  EXPECT_EQ(typed(keyEvent(true, VK_RETURN, L'\r')), "\n");
  EXPECT_EQ(typed(keyEvent(true, VK_BACK, L'\b')), "\b");
  EXPECT_EQ(typed(keyEvent(true, VK_ESCAPE, 0x1B)), "\x1B");
  // Wine's terminal console gives Escape no character.
  EXPECT_EQ(typed(keyEvent(true, VK_ESCAPE, 0)), "\x1B");
  EXPECT_EQ(typed(keyEvent(true, 'Z', 0x1A)), "\x1A");  // Ctrl-Z
}

TEST(WindowsKeyEvents, KeysWithoutACharacterTypeNothing) {
  for (WORD virtualKey : {VK_UP, VK_DOWN, VK_F1, VK_SHIFT, VK_CONTROL, VK_MENU}) {
    EXPECT_EQ(typed(keyEvent(true, virtualKey, 0)), "") << "virtual key " << virtualKey;
  }
}

TEST(WindowsKeyEvents, CharactersArriveAsTheirCodePage437Bytes) {
  EXPECT_EQ(typed(keyEvent(true, 0, 0x00E9)), "\x82");  // é
  EXPECT_EQ(typed(keyEvent(true, 0, 0x00DF)), "\xE1");  // ß
  EXPECT_EQ(typed(keyEvent(true, 0, 0x2591)), "\xB0");  // ░
  EXPECT_EQ(typed(keyEvent(true, 0, 0x20AC)), "");      // € is not in code page 437
  EXPECT_EQ(typed(keyEvent(true, 0, 0xD83D)), "");      // half of a surrogate pair
}

TEST(WindowsKeyEvents, ACharacterComposedWithAltTypesWhenAltIsReleased) {
  EXPECT_EQ(typed(keyEvent(false, VK_MENU, 0x256C)), "\xCE");  // Alt+206: ╬
  EXPECT_EQ(typed(keyEvent(false, VK_MENU, 0)), "");           // a plain Alt release
  EXPECT_EQ(typed(keyEvent(true, VK_NUMPAD2, 0)), "");         // the digits themselves
}

TEST(WindowsKeyEvents, NavigationKeysTypeTheirBytesOnlyWhenAskedFor) {
  const std::pair<WORD, std::string> moves[] = {
      {VK_UP, "\x10"}, {VK_DOWN, "\x0E"}, {VK_PRIOR, "\x02"}, {VK_NEXT, "\x06"}};
  for (const auto& [virtualKey, byte] : moves) {
    std::string passed;
    appendTypedBytes(keyEvent(true, virtualKey, 0), passed, true);
    EXPECT_EQ(passed, byte) << "virtual key " << virtualKey;
    EXPECT_EQ(typed(keyEvent(true, virtualKey, 0)), "") << "virtual key " << virtualKey;
  }
  std::string passed;
  appendTypedBytes(keyEvent(true, VK_DOWN, 0, 3), passed, true);
  appendTypedBytes(keyEvent(false, VK_DOWN, 0), passed, true);  // the release
  appendTypedBytes(keyEvent(true, VK_LEFT, 0), passed, true);   // not a move through a list
  EXPECT_EQ(passed, "\x0E\x0E\x0E");
}

}  // namespace
}  // namespace skyrazor
