#include <gtest/gtest.h>

#include <string>

#include "console/screen.h"

namespace skyrazor {
namespace {

std::string rowText(const Screen& screen, int row) {
  std::string text;
  for (int column = 0; column < screen.columns(); ++column) {
    text += static_cast<char>(screen.cell(column, row).byte);
  }
  return text;
}

TEST(ScreenWriting, StoresBytesWithTheCurrentAttributeAndAdvances) {
  Screen screen(10, 3);
  screen.setAttribute(0x1A);
  screen.write("ab");
  EXPECT_EQ(rowText(screen, 0), "ab        ");
  EXPECT_EQ(screen.cell(1, 0).attribute, 0x1A);
  EXPECT_EQ(screen.cell(2, 0).attribute, 0x07);
  EXPECT_EQ(screen.cursorColumn(), 2);
}

TEST(ScreenWriting, ControlBytesMoveTheCursorWithoutStoring) {
  Screen screen(10, 3);
  screen.write("abc\rX");
  EXPECT_EQ(rowText(screen, 0), "Xbc       ");
  screen.write("\b\bY");  // a backspace in column 1 stays there
  EXPECT_EQ(rowText(screen, 0), "Ybc       ");
  screen.write("\a\nZ");
  EXPECT_EQ(rowText(screen, 1), "Z         ");
  EXPECT_EQ(screen.cursorColumn(), 1);
}

TEST(ScreenWriting, TabFillsBlanksToTheNextStopOrTheRowEnd) {
  Screen screen(20, 3);
  screen.setAttribute(0x20);
  screen.write("ab\t");
  EXPECT_EQ(screen.cursorColumn(), 8);
  EXPECT_EQ(screen.cell(7, 0).attribute, 0x20);  // the blanks are written, not skipped
  screen.write("\t");
  EXPECT_EQ(screen.cursorColumn(), 16);
  screen.write("\t");  // no stop left in a 20-column row: blanks to its end, then wrap
  EXPECT_EQ(screen.cursorColumn(), 0);
  EXPECT_EQ(screen.cursorRow(), 1);
  EXPECT_EQ(screen.cell(19, 0).attribute, 0x20);
}

TEST(ScreenWriting, WrapsPastTheLastColumnAndScrollsPastTheLastRow) {
  Screen screen(4, 2);
  screen.write("abcdefgh");
  // The eighth byte fills the bottom right cell, and the wrap after it scrolls.
  EXPECT_EQ(rowText(screen, 0), "efgh");
  EXPECT_EQ(rowText(screen, 1), "    ");
  EXPECT_EQ(screen.cursorRow(), 1);
  EXPECT_EQ(screen.cursorColumn(), 0);
}

TEST(ScreenWriting, ScrolledInRowTakesTheCurrentAttribute) {
  Screen screen(3, 2);
  screen.setAttribute(0x4F);
  screen.write("\n\n");
  EXPECT_EQ(screen.cell(0, 1).attribute, 0x4F);
}

TEST(ScreenCursor, PlacementOutsideTheScreenIsRejected) {
  Screen screen(10, 5);
  ASSERT_TRUE(screen.placeCursor(3, 2));
  EXPECT_FALSE(screen.placeCursor(-1, 2));
  EXPECT_FALSE(screen.placeCursor(10, 0));
  EXPECT_FALSE(screen.placeCursor(0, 5));
  EXPECT_EQ(screen.cursorColumn(), 3);
  EXPECT_EQ(screen.cursorRow(), 2);
}

TEST(ScreenClear, BlanksInTheCurrentAttributeAndHomesTheCursor) {
  Screen screen(5, 2);
  screen.write("hello");
  screen.setAttribute(0x1F);
  screen.clear();
  EXPECT_EQ(rowText(screen, 0), "     ");
  EXPECT_EQ(screen.cell(4, 1).attribute, 0x1F);
  EXPECT_EQ(screen.cursorColumn(), 0);
  EXPECT_EQ(screen.cursorRow(), 0);
}

TEST(ScreenResize, KeepsWhatFitsAndTheCursorInside) {
  Screen screen(6, 3);
  screen.write("abcdef");
  screen.write("ghi");
  ASSERT_TRUE(screen.placeCursor(5, 2));
  screen.resize(3, 2);
  EXPECT_EQ(rowText(screen, 0), "abc");
  EXPECT_EQ(rowText(screen, 1), "ghi");
  EXPECT_EQ(screen.cursorColumn(), 2);
  EXPECT_EQ(screen.cursorRow(), 1);
  screen.resize(5, 3);
  EXPECT_EQ(rowText(screen, 0), "abc  ");
  EXPECT_EQ(rowText(screen, 2), "     ");
}

TEST(ScreenResize, NoSizeIsTooSmall) {
  Screen screen(80, 25);
  screen.resize(0, -3);
  EXPECT_EQ(screen.columns(), 1);
  EXPECT_EQ(screen.rows(), 1);
  screen.write("a long text with a line end\n and a tab\t");
  EXPECT_EQ(screen.cursorColumn(), 0);
}

}  // namespace
}  // namespace skyrazor
