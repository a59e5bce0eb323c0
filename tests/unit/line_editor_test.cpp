#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "console/screen.h"
#include "console/seam.h"
#include "platform/live/key_clock.h"
#include "platform/live/line_editor.h"

namespace skyrazor {
namespace {

std::string rowText(const Screen& screen, int row) {
  std::string text;
  for (int column = 0; column < screen.columns(); ++column) {
    text += static_cast<char>(screen.cell(column, row).byte);
  }
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

// Types the bytes one by one; returns the finished line, or "" when none was.
std::string type(LineEditor& editor, std::string_view bytes) {
  for (char byte : bytes) {
    if (editor.type(static_cast<unsigned char>(byte))) {
      return editor.takeLine();
    }
  }
  return "";
}

TEST(TypedLineEditor, EchoesAtTheCursorAndEndsTheLineWithEnter) {
  Screen screen(20, 4);
  screen.write("Name: ");
  screen.setAttribute(0x0A);
  LineEditor editor(screen);
  EXPECT_EQ(type(editor, "Ann Lee\n"), "Ann Lee\n");
  EXPECT_EQ(rowText(screen, 0), "Name: Ann Lee");
  EXPECT_EQ(screen.cell(6, 0).attribute, 0x0A);
  // Later output goes on after the echoed line end.
  EXPECT_EQ(screen.cursorColumn(), 0);
  EXPECT_EQ(screen.cursorRow(), 1);
}

TEST(TypedLineEditor, CarriageReturnAlsoEndsTheLine) {
  Screen screen(20, 4);
  LineEditor editor(screen);
  EXPECT_EQ(type(editor, "7\r"), "7\n");
  EXPECT_EQ(screen.cursorRow(), 1);
}

TEST(TypedLineEditor, AFullLineIgnoresMoreCharactersButNotBackspaceOrEnter) {
  Screen screen(20, 4);
  LineEditor editor(screen, 3);
  EXPECT_EQ(type(editor, "abcdef\bxy\n"), "abx\n");
  EXPECT_EQ(rowText(screen, 0), "abx");
}

TEST(TypedLineEditor, BackspaceTakesBackTheLastCharacterButNotThePrompt) {
  Screen screen(20, 4);
  screen.write("> ");
  LineEditor editor(screen);
  type(editor, "Bob\b\x7F");
  EXPECT_EQ(rowText(screen, 0), "> B");
  EXPECT_EQ(screen.cursorColumn(), 3);
  type(editor, "\b\b\b");  // more backspaces than typed characters
  EXPECT_EQ(rowText(screen, 0), ">");
  EXPECT_EQ(screen.cursorColumn(), 2);
  EXPECT_EQ(type(editor, "Al\n"), "Al\n");
  EXPECT_EQ(rowText(screen, 0), "> Al");
}

TEST(TypedLineEditor, BackspaceFollowsAnEchoThatWrappedOntoTheNextRow) {
  Screen screen(5, 3);
  screen.write("ab");
  LineEditor editor(screen);
  type(editor, "cdefg");  // "cde" ends row 0, "fg" starts row 1
  EXPECT_EQ(rowText(screen, 1), "fg");
  type(editor, "\b\b\b");
  EXPECT_EQ(rowText(screen, 0), "abcd");
  EXPECT_EQ(rowText(screen, 1), "");
  EXPECT_EQ(screen.cursorColumn(), 4);
  EXPECT_EQ(screen.cursorRow(), 0);
  EXPECT_EQ(type(editor, "X\n"), "cdX\n");
  EXPECT_EQ(rowText(screen, 0), "abcdX");
}

TEST(TypedLineEditor, ControlKeysDoNothingAndHighBytesAreKept) {
  Screen screen(20, 4);
  LineEditor editor(screen);
  EXPECT_EQ(type(editor, "a\t\x1b\x01\x94\xE1z\n"), "a\x94\xE1z\n");
  EXPECT_EQ(rowText(screen, 0), "a\x94\xE1z");
}

TEST(TypedLineEditor, EachLineStartsAfreshAndCannotEraseTheLastOne) {
  Screen screen(20, 4);
  LineEditor editor(screen);
  EXPECT_EQ(type(editor, "one\n"), "one\n");
  EXPECT_EQ(type(editor, "\b\btwo\n"), "two\n");
  EXPECT_EQ(rowText(screen, 0), "one");
  EXPECT_EQ(rowText(screen, 1), "two");
}

// A live keyboard whose keys come in bursts, one burst per wait for input.
class BurstKeyboard : public KeySource {
 public:
  std::deque<std::string> bursts;

  std::int64_t wallMs() override { return 0; }
  void waitUntil(std::int64_t) override {}
  bool waitForInput() override {
    if (bursts.empty()) {
      throw SessionEnded{0};
    }
    return true;
  }
  void takeTyped(std::string& bytes, bool afterWait) override {
    if (afterWait && !bursts.empty()) {
      bytes += bursts.front();
      bursts.pop_front();
    }
  }
};

TEST(TypedLineEditor, ALiveLineShowsItsEchoBeforeEachWaitForMoreKeys) {
  Screen screen(20, 4);
  screen.write("> ");
  LineEditor editor(screen);
  BurstKeyboard keyboard;
  keyboard.bursts = {"Al", "x\bice", "\r rest"};
  KeyClock keys(keyboard);
  std::vector<std::string> shown;
  std::string line = readTypedLine(editor, keys, KeyboardSeat::First,
                                   [&] { shown.push_back(rowText(screen, 0)); });
  EXPECT_EQ(line, "Alice\n");
  // Shown before the first burst, then each time the keys taken in ran out.
  EXPECT_EQ(shown, (std::vector<std::string>{">", "> Al", "> Alice"}));
  // What came after Enter stays waiting for the next read.
  EXPECT_EQ(keys.readKey(), ' ');
}

}  // namespace
}  // namespace skyrazor
