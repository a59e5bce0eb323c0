#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <variant>

#include "console/screen.h"
#include "console/seam.h"
#include "platform/scripted/script.h"
#include "platform/scripted/scripted_platform.h"

namespace skyrazor {
namespace {

// A scripted platform on a small screen, fed from script text, dumping into
// a string.
struct ScriptedRun {
  explicit ScriptedRun(std::string_view scriptText, DumpOptions dumps = {},
                       std::int64_t limitMs = 3600000, int columns = 6, int rows = 2)
      : screen(columns, rows),
        platform(screen, std::get<Script>(parseScript(scriptText)), dumps, limitMs, out) {}

  Screen screen;
  std::ostringstream out;
  ScriptedPlatform platform;
};

constexpr DumpOptions kReads{.reads = true};
constexpr std::int64_t kNoLimit = 3600000;

TEST(ScriptedClockTest, StartsAtTheScriptClockAndGivesWholeSeconds) {
  ScriptedRun run("clock 1700000000\n");
  EXPECT_EQ(run.platform.nowSeconds(), 1700000000);
  run.platform.sleep(999);
  EXPECT_EQ(run.platform.nowSeconds(), 1700000000);  // rounded down
  run.platform.sleep(1);
  EXPECT_EQ(run.platform.nowSeconds(), 1700000001);
  EXPECT_EQ(run.platform.elapsedMs(), 1000);
}

TEST(ScriptedClockTest, OnlyASleepStrictlyPastEndPlusLimitEndsTheRun) {
  ScriptedRun run("wait 5000\nkey a\nwait 100\n", {}, 50);
  EXPECT_EQ(run.platform.readKey(), 'a');  // waiting for input is no sleep
  run.platform.sleep(150);                 // exactly end + limit: still running
  EXPECT_THROW(run.platform.sleep(1), SessionEnded);
  EXPECT_EQ(run.platform.elapsedMs(), 5151);  // the clock moved before the run ended

  ScriptedRun zero("wait 40\n", {}, 0);
  zero.platform.sleep(40);
  EXPECT_THROW(zero.platform.sleep(50), SessionEnded);
}

TEST(ScriptedInputTest, KeyReadMovesTheClockOnlyForwardToTheKeysArrival) {
  ScriptedRun run("key ab\nwait 300\nkey c\nwait 100\nkey d\n");
  EXPECT_EQ(run.platform.readKey(), 'a');
  EXPECT_EQ(run.platform.readKey(), 'b');
  EXPECT_EQ(run.platform.elapsedMs(), 0);
  EXPECT_EQ(run.platform.readKey(), 'c');
  EXPECT_EQ(run.platform.elapsedMs(), 300);
  run.platform.sleep(500);
  EXPECT_EQ(run.platform.readKey(), 'd');  // arrived long ago: no turning back
  EXPECT_EQ(run.platform.elapsedMs(), 800);
  EXPECT_THROW(run.platform.readKey(), SessionEnded);
}

TEST(ScriptedInputTest, KeyTestSeesOnlyArrivedKeysAndNeverMovesTheClock) {
  ScriptedRun run("wait 100\nkey p\n");
  EXPECT_FALSE(run.platform.keyWaiting());
  run.platform.sleep(99);
  EXPECT_FALSE(run.platform.keyWaiting());
  run.platform.sleep(1);
  EXPECT_TRUE(run.platform.keyWaiting());
  EXPECT_TRUE(run.platform.keyWaiting());  // testing does not consume
  EXPECT_EQ(run.platform.takeWaitingKey(), 'p');
  EXPECT_FALSE(run.platform.keyWaiting());  // nothing left: false, the run goes on
  EXPECT_EQ(run.platform.elapsedMs(), 100);
}

TEST(ScriptedInputTest, LinePullTakesThroughTheEnterAndMovesTheClockToIt) {
  ScriptedRun run("key Al\nwait 200\nkey ice\nwait 300\ntype  Bob\nkey x\n", {}, kNoLimit, 20, 3);
  run.screen.write("> ");
  EXPECT_EQ(run.platform.pullLine(), "Alice Bob\n");
  EXPECT_EQ(run.platform.elapsedMs(), 500);
  // Echoed at the cursor; the Enter moved the cursor to the next row.
  EXPECT_EQ(run.screen.cell(2, 0).byte, 'A');
  EXPECT_EQ(run.screen.cell(10, 0).byte, 'b');
  EXPECT_EQ(run.screen.cursorRow(), 1);
  EXPECT_EQ(run.screen.cursorColumn(), 0);
  // The rest of the queue is still there for a key read.
  EXPECT_EQ(run.platform.readKey(), 'x');
}

TEST(ScriptedInputTest, LinePullWithoutAnEnterLeftEndsTheRunWithoutReadDump) {
  ScriptedRun run("key abc\n", kReads);
  EXPECT_THROW(run.platform.pullLine(), SessionEnded);
  EXPECT_EQ(run.out.str(), "");
  EXPECT_EQ(run.screen.cell(0, 0).byte, ' ');  // nothing echoed
}

TEST(ScriptedDumpTest, ReadDumpsComeBeforeTheInputIsTakenAndTheClockMoves) {
  ScriptedRun run("key a\nwait 40\nkey b\nwait 30\ntype ok\n", kReads);
  run.screen.write("hi");
  run.platform.readKey();
  run.platform.readKey();
  EXPECT_FALSE(run.platform.keyWaiting());  // a key test never dumps
  run.platform.pullLine();
  EXPECT_THROW(run.platform.readKey(), SessionEnded);
  run.platform.dumpEnd();
  run.platform.dumpEnd();  // only once
  EXPECT_EQ(run.out.str(),
            "@@ read 0\nhi\n\n"
            "@@ read 0\nhi\n\n"
            "@@ read 40\nhi\n\n"
            "@@ end 70\nhiok\n\n");
}

TEST(ScriptedDumpTest, SleepAndFrameDumpsCarryTheirNumberBeforeTheTime) {
  ScriptedRun quiet("", kReads, kNoLimit, 3, 1);
  quiet.platform.sleep(10);
  quiet.platform.frameEnded(1);
  EXPECT_EQ(quiet.out.str(), "");

  ScriptedRun run("", DumpOptions{.sleeps = true, .frames = true}, kNoLimit, 3, 1);
  run.platform.sleep(90);
  run.platform.frameEnded(1);
  run.platform.sleep(50);
  run.platform.frameEnded(2);
  EXPECT_EQ(run.out.str(),
            "@@ sleep 90 0\n\n@@ frame 1 90\n\n@@ sleep 50 90\n\n@@ frame 2 140\n\n");
}

TEST(ScriptedDumpTest, RowsLoseTrailingBlanksAndNulsButKeepInnerOnes) {
  ScriptedRun run("", {}, kNoLimit, 8, 4);
  run.screen.write(std::string_view("a b  \0\0\n\0x\0 \0\n\t", 15));
  run.platform.dumpEnd();
  EXPECT_EQ(run.out.str(), "@@ end 0\na b\n x\n\n\n");
}

TEST(ScriptedDumpTest, BytesShowAsTheirCodePageGlyphs) {
  ScriptedRun run("", {}, kNoLimit, 10, 2);
  run.screen.write("\xDA\xC4\xBF\x1D\xB0\xB1\xB2\x7F\x01\xFF");
  run.screen.write(
      "gr\x94\xE1"
      "e");
  run.platform.dumpEnd();
  // The no-break space of 0xFF is not a blank: the row keeps it.
  EXPECT_EQ(run.out.str(), "@@ end 0\n┌─┐↔░▒▓⌂☺\u00A0\ngröße\n");
}

TEST(ScriptedDumpTest, ColoursFollowAsOneHexDigitPerCellIgnoringTheBackground) {
  ScriptedRun run("", DumpOptions{.colors = true}, kNoLimit, 5, 3);
  run.screen.setAttribute(0x0F);
  run.screen.write("A");
  run.screen.setAttribute(0x4A);  // bright green on red
  run.screen.write("B");
  run.screen.setAttribute(0x0C);
  run.screen.write("  ");  // blanks keep their colour where the text row ends
  run.platform.dumpEnd();
  EXPECT_EQ(run.out.str(), "@@ end 0\nAB\n\n\nfacc7\n77777\n77777\n");
}

}  // namespace
}  // namespace skyrazor
