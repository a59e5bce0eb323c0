#include <gtest/gtest.h>

#include <vector>

#include "support/fake_platform.h"

namespace skyrazor {
namespace {

using testing::FakeConsole;

TEST(ConsolePlacement, GotoXYIsOneBasedAndGotoXYDirectZeroBased) {
  FakeConsole fake;
  fake.console.gotoXY(1, 1);
  EXPECT_EQ(fake.console.whereX(), 1);
  fake.console.gotoXYDirect(0.0, 0);
  EXPECT_EQ(fake.console.whereX(), 1);
  fake.console.gotoXY(5, 3);
  fake.console.print("A");
  fake.console.gotoXYDirect(5.9, 3);  // the column is truncated
  fake.console.print("B");
  EXPECT_EQ(fake.byteAt(5, 3), 'A');
  EXPECT_EQ(fake.byteAt(6, 4), 'B');
}

TEST(ConsolePlacement, RejectedCoordinatesLeaveTheCursor) {
  FakeConsole fake;
  fake.console.gotoXY(10, 4);
  fake.console.gotoXY(0, 5);           // column -1 on the console
  fake.console.gotoXY(-3, 2);          // negative: not a 16-bit position
  fake.console.gotoXY(70000, 2);       // beyond 16 bits
  fake.console.gotoXY(81, 2);          // a column past the screen
  fake.console.gotoXYDirect(-1.5, 2);  // truncates to column -1
  EXPECT_EQ(fake.console.whereX(), 10);
  EXPECT_EQ(fake.console.whereY(), 4);
}

TEST(ConsoleColours, SetTextColorKeepsTheBackgroundAndTakesFourBits) {
  FakeConsole fake;
  fake.console.setTextBackground(1);
  fake.console.setTextColor(26);
  EXPECT_EQ(fake.screen.attribute(), 0x1A);
  fake.console.setTextBackground(0x24);
  EXPECT_EQ(fake.screen.attribute(), 0x4A);
  fake.console.lowVideo();
  EXPECT_EQ(fake.screen.attribute(), 0x42);
  fake.console.highVideo();
  EXPECT_EQ(fake.screen.attribute(), 0x4A);
  fake.console.setTextAttribute(0x0C);
  EXPECT_EQ(fake.screen.attribute(), 0x0C);
}

TEST(ConsoleFrame, ArenaFrameHasSingleLinesAndCorners) {
  FakeConsole fake;
  fake.console.setTextColor(15);
  fake.console.drawFrame(1, 1, 40, 11, 0);
  // In 1-based terms the frame covers columns 2..41 and rows 2..12.
  EXPECT_EQ(fake.byteAt(2, 2), 0xDA);
  EXPECT_EQ(fake.byteAt(41, 2), 0xBF);
  EXPECT_EQ(fake.byteAt(2, 12), 0xC0);
  EXPECT_EQ(fake.byteAt(41, 12), 0xD9);
  EXPECT_EQ(fake.byteAt(3, 2), 0xC4);
  EXPECT_EQ(fake.byteAt(40, 12), 0xC4);
  EXPECT_EQ(fake.byteAt(2, 7), 0xB3);
  EXPECT_EQ(fake.byteAt(41, 11), 0xB3);
  EXPECT_EQ(fake.byteAt(3, 3), ' ');
  EXPECT_EQ(fake.byteAt(42, 2), ' ');
  EXPECT_EQ(fake.colorAt(41, 12), 15);
}

TEST(ConsoleFrame, StyleOneDrawsDoubleLines) {
  FakeConsole fake;
  fake.console.drawFrame(1, 1, 40, 11, 1);
  EXPECT_EQ(fake.byteAt(2, 2), 0xC9);
  EXPECT_EQ(fake.byteAt(41, 2), 0xBB);
  EXPECT_EQ(fake.byteAt(2, 12), 0xC8);
  EXPECT_EQ(fake.byteAt(41, 12), 0xBC);
  EXPECT_EQ(fake.byteAt(10, 2), 0xCD);
  EXPECT_EQ(fake.byteAt(2, 5), 0xBA);
}

TEST(ConsoleFrame, ReversedCornersPrintTheErrorTextOnly) {
  FakeConsole fake;
  fake.console.gotoXY(1, 4);
  fake.console.drawFrame(5, 3, 5, 9, 0);
  EXPECT_EQ(fake.row(4),
            "Fehler X1 ist gr\x94\xE1"
            "er als X2 oder Y1 ist gr\x94\xE1"
            "er als Y2!");
  EXPECT_EQ(fake.console.whereY(), 5);  // followed by a line end
  EXPECT_EQ(fake.row(3), "");
  EXPECT_EQ(fake.row(6), "");
}

TEST(ConsoleLines, ClearToEndOfLineKeepsTheCursor) {
  FakeConsole fake;
  fake.console.print("abcdef");
  fake.console.gotoXY(3, 1);
  fake.console.clearToEndOfLine();
  EXPECT_EQ(fake.row(1), "ab");
  EXPECT_EQ(fake.console.whereX(), 3);
}

TEST(ConsoleLines, InsertAndDeleteLineMoveTheRowsBelowTheCursor) {
  FakeConsole fake;
  fake.console.print("one\ntwo\nthree");
  fake.console.gotoXY(1, 2);
  fake.console.insertLine();
  EXPECT_EQ(fake.row(1), "one");
  EXPECT_EQ(fake.row(2), "");
  EXPECT_EQ(fake.row(3), "two");
  EXPECT_EQ(fake.row(4), "three");
  fake.console.deleteLine();
  EXPECT_EQ(fake.row(2), "two");
  EXPECT_EQ(fake.row(3), "three");
  EXPECT_EQ(fake.row(4), "");
}

TEST(ConsoleCursorShape, OnlyTheThreeKnownTypesChangeIt) {
  FakeConsole fake;
  fake.console.setCursorType(0);
  EXPECT_FALSE(fake.screen.cursorVisible());
  fake.console.setCursorType(3);
  EXPECT_FALSE(fake.screen.cursorVisible());
  fake.console.setCursorType(1);
  EXPECT_TRUE(fake.screen.cursorVisible());
  EXPECT_EQ(fake.screen.cursorSizePercent(), 100);
  fake.console.setCursorType(2);
  EXPECT_EQ(fake.screen.cursorSizePercent(), 25);
}

TEST(ConsolePrint, WritesTextCharactersAndDecimalNumbersInOrder) {
  FakeConsole fake;
  fake.console.print("Shields(", 100, ") HP(", -3, ')', std::string(" ok"));
  EXPECT_EQ(fake.row(1), "Shields(100) HP(-3) ok");
}

TEST(ConsoleWaits, TheScreenIsPresentedBeforeEveryWait) {
  FakeConsole fake;
  fake.platform.keys = {'a'};
  fake.platform.typedLines = {"word"};
  fake.console.readKey();
  fake.console.sleep(5);
  fake.console.readWord();
  EXPECT_EQ(fake.platform.presents, 3);
}

// Each keyboard has its own typed lines; with one keyboard both seats share
// its line, as one input stream does.
TEST(ConsoleKeyboards, EachKeyboardHasItsOwnLineAndOneKeyboardServesBothSeats) {
  FakeConsole fake;
  Screen& screen = fake.screen;
  testing::FakePlatform second(screen);
  Console console(screen, fake.platform, fake.platform, &second, fake.platform);
  fake.type({"Alice Carol"});
  second.typedLines.push_back("Bob");
  EXPECT_EQ(console.readWord(KeyboardSeat::First), "Alice");
  EXPECT_EQ(console.readWord(KeyboardSeat::Second), "Bob");
  EXPECT_EQ(console.readWord(KeyboardSeat::First), "Carol");
  second.keys.push_back('p');
  EXPECT_FALSE(console.keyWaiting(KeyboardSeat::First));
  EXPECT_EQ(console.takeWaitingKey(KeyboardSeat::Second), 'p');

  fake.type({"Alice Carol"});
  EXPECT_EQ(fake.console.readWord(KeyboardSeat::First), "Alice");
  EXPECT_EQ(fake.console.readWord(KeyboardSeat::Second), "Carol");
}

TEST(ConsoleDisplays, EveryDisplayIsShownAndToldOfEachFrameEnd) {
  Screen screen(80, 25);
  testing::FakePlatform first(screen);
  testing::FakePlatform second(screen);
  Displays displays;
  displays.add(first);
  displays.add(second);
  displays.present();
  displays.frameEnded(7);
  EXPECT_EQ(first.presents + second.presents, 2);
  EXPECT_EQ(second.endedFrames, std::vector<int>{7});
}

}  // namespace
}  // namespace skyrazor
