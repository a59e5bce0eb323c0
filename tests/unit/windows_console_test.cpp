// The Windows console backend against a real console: a screen buffer of the
// tests' own (so nothing is drawn where a person looks) and the console's
// input. Skipped where the process has no console; under Wine a
// pseudo-terminal gives it one.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "console/screen.h"
#include "console/seam.h"
#include "platform/live/live_keyboard.h"
#include "platform/windows_console/windows_console_display.h"
#include "platform/windows_console/windows_console_guard.h"
#include "platform/windows_console/windows_console_input.h"
#include "platform/windows_console/windows_console_platform.h"

namespace skyrazor {
namespace {

constexpr DWORD kShared = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;

INPUT_RECORD keyRecord(bool down, WORD virtualKey, WCHAR character) {
  INPUT_RECORD record{};
  record.EventType = KEY_EVENT;
  record.Event.KeyEvent.bKeyDown = down ? TRUE : FALSE;
  record.Event.KeyEvent.wRepeatCount = 1;
  record.Event.KeyEvent.wVirtualKeyCode = virtualKey;
  record.Event.KeyEvent.uChar.UnicodeChar = character;
  return record;
}

class ConsoleFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    input_ = CreateFileW(L"CONIN$", kReadWrite, kShared, nullptr, OPEN_EXISTING, 0, nullptr);
    output_ =
        CreateConsoleScreenBuffer(kReadWrite, kShared, nullptr, CONSOLE_TEXTMODE_BUFFER, nullptr);
    if (input_ == INVALID_HANDLE_VALUE || output_ == INVALID_HANDLE_VALUE) {
      GTEST_SKIP() << "no console to test against";
    }
    FlushConsoleInputBuffer(input_);
  }

  void TearDown() override {
    for (HANDLE handle : {input_, output_}) {
      if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
      }
    }
  }

  CONSOLE_SCREEN_BUFFER_INFO bufferInfo() const {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    GetConsoleScreenBufferInfo(output_, &info);
    return info;
  }

  // The console cell at a column and row of the window.
  CHAR_INFO shownCell(int column, int row) const {
    CONSOLE_SCREEN_BUFFER_INFO info = bufferInfo();
    CHAR_INFO cell{};
    SHORT x = static_cast<SHORT>(info.srWindow.Left + column);
    SHORT y = static_cast<SHORT>(info.srWindow.Top + row);
    SMALL_RECT area{x, y, x, y};
    ReadConsoleOutputW(output_, &cell, {1, 1}, {0, 0}, &area);
    return cell;
  }

  std::wstring shownText(int column, int row, int length) const {
    std::wstring text;
    for (int i = 0; i < length; ++i) {
      text += shownCell(column + i, row).Char.UnicodeChar;
    }
    return text;
  }

  void writeCell(int column, int row, WCHAR character) {
    CONSOLE_SCREEN_BUFFER_INFO info = bufferInfo();
    CHAR_INFO cell{};
    cell.Char.UnicodeChar = character;
    cell.Attributes = 0x07;
    SHORT x = static_cast<SHORT>(info.srWindow.Left + column);
    SHORT y = static_cast<SHORT>(info.srWindow.Top + row);
    SMALL_RECT area{x, y, x, y};
    WriteConsoleOutputW(output_, &cell, {1, 1}, {0, 0}, &area);
  }

  // Key presses and releases typed on the console, as a person types them.
  void type(std::string_view text) {
    std::vector<INPUT_RECORD> records;
    for (char byte : text) {
      WCHAR character = byte == '\n' ? L'\r' : static_cast<WCHAR>(static_cast<unsigned char>(byte));
      records.push_back(keyRecord(true, 0, character));
      records.push_back(keyRecord(false, 0, character));
    }
    pushInput(records);
  }

  void pushInput(const std::vector<INPUT_RECORD>& records) {
    DWORD written = 0;
    WriteConsoleInputW(input_, records.data(), static_cast<DWORD>(records.size()), &written);
    ASSERT_EQ(written, records.size());
  }

  HANDLE input_ = INVALID_HANDLE_VALUE;
  HANDLE output_ = INVALID_HANDLE_VALUE;
};

std::string rowText(const Screen& screen, int row) {
  std::string text;
  for (int column = 0; column < screen.columns(); ++column) {
    text += static_cast<char>(screen.cell(column, row).byte);
  }
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

// --- Display ---------------------------------------------------------------------

class WindowsConsoleDisplay : public ConsoleFixture {};

TEST_F(WindowsConsoleDisplay, TheModelKeepsItsSizeAndShowsItsGlyphsInTheirColours) {
  Screen screen(80, 25);
  ConsoleDisplay display(output_, screen);
  EXPECT_EQ(screen.columns(), 80);
  EXPECT_EQ(screen.rows(), 25);

  screen.placeCursor(1, 1);
  screen.setAttribute(0x0F);
  screen.write("\xDA\xC4\xBF");
  screen.setAttribute(0x0A);
  screen.write(">\x1D\xB0\xB1\xB2");
  screen.setAttribute(0x4C);  // bright red on red
  screen.write("<");
  display.present();

  EXPECT_EQ(shownText(1, 1, 9), L"\u250C\u2500\u2510>\u2194\u2591\u2592\u2593<");
  EXPECT_EQ(shownCell(1, 1).Attributes, 0x0F);
  EXPECT_EQ(shownCell(4, 1).Attributes, 0x0A);
  EXPECT_EQ(shownCell(9, 1).Attributes, 0x4C);
  EXPECT_EQ(shownCell(0, 0).Char.UnicodeChar, L' ');
  EXPECT_EQ(shownCell(0, 0).Attributes, Screen::kStartAttribute);
}

TEST_F(WindowsConsoleDisplay, OnlyTheCellsThatChangedAreSentAgain) {
  Screen screen(80, 25);
  ConsoleDisplay display(output_, screen);
  screen.write("one two");
  display.present();
  // Marks in cells the game does not touch again: a full redraw would lose them.
  writeCell(0, 0, L'#');
  writeCell(8, 0, L'#');
  writeCell(0, 3, L'#');
  screen.placeCursor(4, 0);
  screen.write("TWO");
  display.present();
  EXPECT_EQ(shownText(0, 0, 9), L"#ne TWO #");
  EXPECT_EQ(shownCell(0, 3).Char.UnicodeChar, L'#');
}

TEST_F(WindowsConsoleDisplay, AClearedModelBlanksTheWindowInTheCurrentColour) {
  Screen screen(80, 25);
  ConsoleDisplay display(output_, screen);
  screen.write("Welcome Pilots!");
  display.present();
  screen.setAttribute(0x1F);
  screen.clear();
  display.present();
  EXPECT_EQ(shownText(0, 0, 3), L"   ");
  EXPECT_EQ(shownCell(0, 0).Attributes, 0x1F);
  EXPECT_EQ(shownCell(20, 5).Attributes, 0x1F);
  CONSOLE_SCREEN_BUFFER_INFO info = bufferInfo();
  EXPECT_EQ(info.dwCursorPosition.X, info.srWindow.Left);
  EXPECT_EQ(info.dwCursorPosition.Y, info.srWindow.Top);
}

TEST_F(WindowsConsoleDisplay, TheCursorFollowsTheModelShapeAndAllWhileALineIsTyped) {
  Screen screen(80, 25);
  ConsoleDisplay display(output_, screen);
  display.present();
  CONSOLE_CURSOR_INFO hidden{};
  GetConsoleCursorInfo(output_, &hidden);
  EXPECT_FALSE(hidden.bVisible);  // no typed line read: it would blink over the arena
  display.setReadingLine(true);
  screen.placeCursor(5, 3);
  screen.setCursorShape(false, 25);
  display.present();
  CONSOLE_SCREEN_BUFFER_INFO info = bufferInfo();
  EXPECT_EQ(info.dwCursorPosition.X, info.srWindow.Left + 5);
  EXPECT_EQ(info.dwCursorPosition.Y, info.srWindow.Top + 3);
  CONSOLE_CURSOR_INFO cursor{};
  GetConsoleCursorInfo(output_, &cursor);
  EXPECT_FALSE(cursor.bVisible);

  screen.setCursorShape(true, 100);
  display.present();
  GetConsoleCursorInfo(output_, &cursor);
  EXPECT_TRUE(cursor.bVisible);
  EXPECT_EQ(cursor.dwSize, 100u);
}

TEST_F(WindowsConsoleDisplay, ASmallWindowShowsThePicturesTopLeftAndSaysItIsTooSmall) {
  Screen screen(80, 25);
  ConsoleDisplay display(output_, screen);
  screen.write("abc");
  display.present();
  CONSOLE_SCREEN_BUFFER_INFO info = bufferInfo();
  SMALL_RECT smaller{info.srWindow.Left, info.srWindow.Top,
                     static_cast<SHORT>(info.srWindow.Left + 29),
                     static_cast<SHORT>(info.srWindow.Top + 9)};
  if (!SetConsoleWindowInfo(output_, TRUE, &smaller)) {
    GTEST_SKIP() << "this console cannot resize its window";
  }
  writeCell(1, 0, L'#');
  display.present();
  EXPECT_EQ(screen.columns(), 80);  // nothing the game drew is lost or wrapped
  EXPECT_EQ(screen.rows(), 25);
  EXPECT_EQ(shownText(0, 0, 3), L"abc");  // the whole picture was sent again
  EXPECT_EQ(shownText(0, 9, 11), L"Needs 80x25");
}

// Ctrl-L paints every cell again and is no key for the game.
TEST_F(WindowsConsoleDisplay, CtrlLPaintsThePictureAgain) {
  Screen screen(80, 25);
  WindowsConsolePlatform platform(screen, input_, output_);
  LiveKeyboard keyboard(platform, platform, screen, WindowsConsolePlatform::kEndOfInputKey);
  screen.write("abc");
  platform.present();
  writeCell(1, 0, L'#');
  type("\x0Ck");
  EXPECT_EQ(keyboard.readKey(), 'k');
  EXPECT_EQ(shownText(0, 0, 3), L"abc");
}

// Ctrl-G brings a network game's status up (over the picture's bottom row
// where the window has no row below it) and is no key for the game either.
TEST_F(WindowsConsoleDisplay, CtrlGBringsTheStatusUp) {
  Screen screen(80, 25);
  WindowsConsolePlatform platform(screen, input_, output_);
  LiveKeyboard keyboard(platform, platform, screen, WindowsConsolePlatform::kEndOfInputKey);
  platform.showStatus("Room duel - you host", false);
  type("\x07k");
  EXPECT_EQ(keyboard.readKey(), 'k');
  const CONSOLE_SCREEN_BUFFER_INFO info = bufferInfo();
  const int rows = info.srWindow.Bottom - info.srWindow.Top + 1;
  const int columns = info.srWindow.Right - info.srWindow.Left + 1;
  EXPECT_NE(shownText(0, std::min(25, rows - 1), columns).find(L"Room duel - you host"),
            std::wstring::npos);
}

TEST_F(WindowsConsoleDisplay, LeavesThePictureWithTheCursorOnTheRowBelowIt) {
  Screen screen(80, 25);
  {
    ConsoleDisplay display(output_, screen);
    screen.placeCursor(10, 6);
    screen.write("last words");
    screen.placeCursor(2, 1);
    display.present();
  }
  EXPECT_EQ(shownText(10, 6, 10), L"last words");
  CONSOLE_SCREEN_BUFFER_INFO info = bufferInfo();
  EXPECT_EQ(info.dwCursorPosition.X, 0);
  EXPECT_EQ(info.dwCursorPosition.Y, info.srWindow.Top + 7);
}

// --- Guard -----------------------------------------------------------------------

class WindowsConsoleGuard : public ConsoleFixture {};

TEST_F(WindowsConsoleGuard, TakesSingleKeysWithoutEchoAndGivesTheModeAndCursorBack) {
  DWORD modeBefore = 0;
  ASSERT_TRUE(GetConsoleMode(input_, &modeBefore));
  CONSOLE_CURSOR_INFO cursorBefore{};
  ASSERT_TRUE(GetConsoleCursorInfo(output_, &cursorBefore));
  {
    ConsoleGuard guard(input_, output_);
    EXPECT_TRUE(guard.inputIsConsole());
    DWORD mode = 0;
    GetConsoleMode(input_, &mode);
    EXPECT_EQ(mode & (ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_MOUSE_INPUT), 0u);
    EXPECT_NE(mode & ENABLE_PROCESSED_INPUT, 0u);
    CONSOLE_CURSOR_INFO hidden{25, FALSE};
    SetConsoleCursorInfo(output_, &hidden);
    EXPECT_FALSE(guard.endRequested());
  }
  DWORD modeAfter = 0;
  GetConsoleMode(input_, &modeAfter);
  EXPECT_EQ(modeAfter, modeBefore);
  CONSOLE_CURSOR_INFO cursorAfter{};
  GetConsoleCursorInfo(output_, &cursorAfter);
  EXPECT_EQ(cursorAfter.bVisible, cursorBefore.bVisible);
  EXPECT_EQ(cursorAfter.dwSize, cursorBefore.dwSize);
}

TEST_F(WindowsConsoleGuard, CtrlCEndsTheSessionAndASecondOneLeavesItToTheConsole) {
  DWORD modeBefore = 0;
  GetConsoleMode(input_, &modeBefore);
  ConsoleGuard guard(input_, output_);
  EXPECT_EQ(WaitForSingleObject(guard.wakeEvent(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_TRUE(ConsoleGuard::onControlEvent(CTRL_C_EVENT));
  EXPECT_TRUE(guard.endRequested());
  EXPECT_EQ(WaitForSingleObject(guard.wakeEvent(), 0), WAIT_OBJECT_0);
  // The game did not get out in time: the console is given back at once.
  EXPECT_FALSE(ConsoleGuard::onControlEvent(CTRL_BREAK_EVENT));
  DWORD mode = 0;
  GetConsoleMode(input_, &mode);
  EXPECT_EQ(mode, modeBefore);
}

TEST_F(WindowsConsoleGuard, ClosingTheWindowWaitsUntilTheConsoleIsGivenBack) {
  std::optional<ConsoleGuard> guard(std::in_place, input_, output_);
  BOOL handled = FALSE;
  std::thread console([&] { handled = ConsoleGuard::onControlEvent(CTRL_CLOSE_EVENT); });
  auto started = std::chrono::steady_clock::now();
  while (!guard->endRequested() &&
         std::chrono::steady_clock::now() - started < std::chrono::seconds(2)) {
    Sleep(1);
  }
  EXPECT_TRUE(guard->endRequested());
  Sleep(100);
  EXPECT_FALSE(handled);  // still holding the process
  guard.reset();
  console.join();
  EXPECT_TRUE(handled);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
}

TEST_F(WindowsConsoleGuard, OutputThatIsNotAConsoleIsNoPlaceToPlay) {
  HANDLE file = CreateFileW(L"NUL", GENERIC_WRITE, kShared, nullptr, OPEN_EXISTING, 0, nullptr);
  Screen screen(80, 25);
  EXPECT_THROW(ConsoleGuard(input_, file), TerminalUnavailable);
  EXPECT_THROW(WindowsConsolePlatform(screen, input_, file), TerminalUnavailable);
  CloseHandle(file);
}

// --- Keyboard through the whole platform ----------------------------------------

class WindowsConsoleKeyboard : public ConsoleFixture {};

TEST_F(WindowsConsoleKeyboard, KeysAreReadOneAtATimeWithoutEcho) {
  Screen screen(80, 25);
  WindowsConsolePlatform platform(screen, input_, output_);
  LiveKeyboard keyboard(platform, platform, screen, WindowsConsolePlatform::kEndOfInputKey);
  pushInput({keyRecord(true, VK_UP, 0), keyRecord(false, VK_UP, 0)});
  type("x3");
  EXPECT_EQ(keyboard.readKey(), 'x');
  EXPECT_EQ(keyboard.readKey(), '3');
  EXPECT_EQ(rowText(screen, 0), "");
}

TEST_F(WindowsConsoleKeyboard, TypedLinesAreEditedAndEchoedIntoTheModel) {
  Screen screen(80, 25);
  WindowsConsolePlatform platform(screen, input_, output_);
  LiveKeyboard keyboard(platform, platform, screen, WindowsConsolePlatform::kEndOfInputKey);
  screen.write("Name: ");
  type("Alx\bice\nrest");
  EXPECT_EQ(keyboard.pullLine(), "Alice\n");
  EXPECT_EQ(rowText(screen, 0), "Name: Alice");
  EXPECT_EQ(screen.cursorRow(), 1);
  EXPECT_EQ(screen.cursorColumn(), 0);
  platform.present();
  EXPECT_EQ(shownText(0, 0, 11), L"Name: Alice");
  EXPECT_EQ(keyboard.readKey(), 'r');  // what followed the line waits for the next read
}

TEST_F(WindowsConsoleKeyboard, TheBattlePollSeesKeysTypedDuringASleep) {
  Screen screen(80, 25);
  WindowsConsolePlatform platform(screen, input_, output_);
  LiveKeyboard keyboard(platform, platform, screen, WindowsConsolePlatform::kEndOfInputKey);
  EXPECT_FALSE(keyboard.keyWaiting());
  type("a");
  EXPECT_FALSE(keyboard.keyWaiting());  // taken in only when the clock moves
  std::int64_t before = keyboard.nowSeconds();
  keyboard.sleep(20);
  ASSERT_TRUE(keyboard.keyWaiting());
  EXPECT_EQ(keyboard.takeWaitingKey(), 'a');
  EXPECT_FALSE(keyboard.keyWaiting());
  EXPECT_GE(keyboard.nowSeconds(), before);
}

TEST_F(WindowsConsoleKeyboard, CtrlCWhileWaitingForAKeyEndsTheSession) {
  Screen screen(80, 25);
  WindowsConsolePlatform platform(screen, input_, output_);
  LiveKeyboard keyboard(platform, platform, screen, WindowsConsolePlatform::kEndOfInputKey);
  std::thread console([] {
    Sleep(50);
    ConsoleGuard::onControlEvent(CTRL_C_EVENT);
  });
  try {
    keyboard.readKey();
    ADD_FAILURE() << "the key read went on after Ctrl-C";
  } catch (const SessionEnded& ended) {
    EXPECT_EQ(ended.exitStatus, ConsoleGuard::kEndedByConsoleStatus);
  }
  console.join();
}

TEST_F(WindowsConsoleKeyboard, CtrlZAtAKeyReadEndsTheInput) {
  Screen screen(80, 25);
  WindowsConsolePlatform platform(screen, input_, output_);
  LiveKeyboard keyboard(platform, platform, screen, WindowsConsolePlatform::kEndOfInputKey);
  type("\x1A");
  try {
    keyboard.readKey();
    ADD_FAILURE() << "Ctrl-Z was read as a key";
  } catch (const SessionEnded& ended) {
    EXPECT_EQ(ended.exitStatus, 0);
  }
}

TEST_F(WindowsConsoleKeyboard, InputThatIsNotAConsoleIsNoKeyboardToPlayWith) {
  HANDLE file = CreateFileW(L"NUL", GENERIC_READ, kShared, nullptr, OPEN_EXISTING, 0, nullptr);
  Screen screen(80, 25);
  EXPECT_THROW(WindowsConsolePlatform(screen, file, output_), TerminalUnavailable);
  CloseHandle(file);
}

// Keys pressed as the game ends were meant for the game, not the shell.
TEST_F(WindowsConsoleKeyboard, KeysLeftUnreadAreDiscardedAtTheEnd) {
  {
    Screen screen(80, 25);
    WindowsConsolePlatform platform(screen, input_, output_);
    LiveKeyboard keyboard(platform, platform, screen, WindowsConsolePlatform::kEndOfInputKey);
    type("ak");
  }
  DWORD waiting = 1;
  GetNumberOfConsoleInputEvents(input_, &waiting);
  EXPECT_EQ(waiting, 0u);
}

TEST_F(WindowsConsoleKeyboard, OnlyKeyEventsTypeAnything) {
  INPUT_RECORD focus{};
  focus.EventType = FOCUS_EVENT;
  focus.Event.FocusEvent.bSetFocus = TRUE;
  INPUT_RECORD resize{};
  resize.EventType = WINDOW_BUFFER_SIZE_EVENT;
  resize.Event.WindowBufferSizeEvent.dwSize = {80, 25};
  pushInput({focus, keyRecord(true, 'K', L'k'), resize, keyRecord(true, VK_RETURN, L'\r')});
  std::string bytes;
  takeConsoleInput(input_, bytes);
  EXPECT_EQ(bytes, "k\n");
  DWORD left = 1;
  GetNumberOfConsoleInputEvents(input_, &left);
  EXPECT_EQ(left, 0u);
}

}  // namespace
}  // namespace skyrazor
