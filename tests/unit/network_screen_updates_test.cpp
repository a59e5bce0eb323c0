#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/screen.h"
#include "platform/network/screen_updates.h"
#include "platform/network/wire_format.h"

namespace skyrazor::network {
namespace {

// A picture with something in every row, and a bottom right cell of its own.
Screen paintedScreen(int columns, int rows) {
  Screen screen(columns, rows);
  for (int row = 0; row < rows; ++row) {
    screen.setAttribute(static_cast<std::uint16_t>(0x10 + row % 0x70));
    screen.placeCursor(row % columns, row);
    screen.write("\xDB\xB0 ship " + std::to_string(row));
  }
  screen.setAttribute(0x4F);
  screen.blankCells(columns - 1, rows - 1, 1);
  screen.placeCursor(columns / 2, rows / 2);
  screen.setCursorShape(true, 100);
  return screen;
}

void expectSamePicture(const Screen& shown, const Screen& host) {
  ASSERT_EQ(shown.columns(), host.columns());
  ASSERT_EQ(shown.rows(), host.rows());
  for (int row = 0; row < host.rows(); ++row) {
    for (int column = 0; column < host.columns(); ++column) {
      SCOPED_TRACE(testing::Message() << "cell " << column << "," << row);
      EXPECT_EQ(shown.cell(column, row).byte, host.cell(column, row).byte);
      EXPECT_EQ(shown.cell(column, row).attribute, host.cell(column, row).attribute);
    }
  }
  EXPECT_EQ(cursorOf(shown), cursorOf(host));
}

// What a joined terminal does with each update: put it on its own screen.
void applyAll(const std::vector<Message>& updates, Screen& shown) {
  for (const Message& update : updates) {
    if (const auto* whole = std::get_if<WholeScreen>(&update)) {
      EXPECT_TRUE(applyWholeScreen(*whole, shown));
    } else {
      EXPECT_TRUE(applyScreenChanges(std::get<ScreenChanges>(update), shown));
    }
  }
}

TEST(ScreenUpdates, APeerHoldingNothingIsSentTheWholePictureThenNothingUntilItChanges) {
  const Screen host = paintedScreen(80, 25);
  PeerPicture peer;
  std::vector<Message> updates;
  ASSERT_TRUE(appendScreenUpdates(host, peer, updates));
  ASSERT_EQ(updates.size(), 1u);
  ASSERT_TRUE(std::holds_alternative<WholeScreen>(updates[0]));

  Screen shown(40, 10);  // the joined terminal's picture takes the host's size
  applyAll(updates, shown);
  expectSamePicture(shown, host);

  updates.clear();
  ASSERT_TRUE(appendScreenUpdates(host, peer, updates));
  EXPECT_TRUE(updates.empty());
}

TEST(ScreenUpdates, AFewChangedCellsAreSentAsTheirRunsAlone) {
  Screen host = paintedScreen(80, 25);
  PeerPicture peer;
  std::vector<Message> updates;
  appendScreenUpdates(host, peer, updates);
  Screen shown(80, 25);
  applyAll(updates, shown);

  host.setAttribute(0x0C);
  host.placeCursor(5, 2);
  host.write("<>");
  host.placeCursor(78, 24);
  host.write("*");
  host.placeCursor(3, 4);
  updates.clear();
  ASSERT_TRUE(appendScreenUpdates(host, peer, updates));
  const std::vector<Message> expected{
      ScreenChanges{Cursor{3, 4, 100},
                    {CellRun{2, 5, {{'<', 0x0C}, {'>', 0x0C}}}, CellRun{24, 78, {{'*', 0x0C}}}}}};
  EXPECT_EQ(updates, expected);
  applyAll(updates, shown);
  expectSamePicture(shown, host);

  // The cursor alone moving, or hiding, is sent without cells.
  host.setCursorShape(false, 100);
  updates.clear();
  ASSERT_TRUE(appendScreenUpdates(host, peer, updates));
  const std::vector<Message> cursorOnly{ScreenChanges{Cursor{3, 4, 0}, {}}};
  EXPECT_EQ(updates, cursorOnly);
}

TEST(ScreenUpdates, AChangeTooLargeForOneMessageIsSplitWithinTheLimit) {
  // The largest picture a whole screen carries, every cell of it then changed.
  Screen host = paintedScreen(100, 54);
  PeerPicture peer;
  std::vector<Message> updates;
  ASSERT_TRUE(appendScreenUpdates(host, peer, updates));
  Screen shown(80, 25);
  applyAll(updates, shown);

  for (int row = 0; row < host.rows(); ++row) {
    host.setAttribute(0x2E);
    host.blankCells(0, row, host.columns());
  }
  updates.clear();
  ASSERT_TRUE(appendScreenUpdates(host, peer, updates));
  EXPECT_GT(updates.size(), 1u);
  for (const Message& update : updates) {
    std::string bytes;
    ASSERT_TRUE(encodeMessage(update, bytes));
    EXPECT_LE(bytes.size(), kLengthPrefixBytes + kLongestMessage);
  }
  applyAll(updates, shown);
  expectSamePicture(shown, host);

  // A picture no whole screen can carry is not sent at all.
  PeerPicture another;
  updates.clear();
  EXPECT_FALSE(appendScreenUpdates(Screen(200, 100), another, updates));
  EXPECT_TRUE(updates.empty());
}

TEST(ScreenUpdates, ChangesThePictureCannotTakeAreRefusedWhole) {
  const Screen before = paintedScreen(80, 25);
  const CellRun inside{0, 0, {{'!', 0x07}}};
  const ScreenChanges refused[] = {
      {Cursor{}, {inside, CellRun{25, 0, {{'x', 0x07}}}}},               // below the last row
      {Cursor{}, {inside, CellRun{3, 79, {{'x', 0x07}, {'y', 0x07}}}}},  // past the last column
      {Cursor{80, 0, 25}, {inside}},                                     // cursor outside
      {Cursor{}, {inside, CellRun{3, 3, {{'\n', 0x07}}}}},               // a byte no cell holds
  };
  for (const ScreenChanges& changes : refused) {
    Screen shown = before;
    EXPECT_FALSE(applyScreenChanges(changes, shown));
    expectSamePicture(shown, before);
  }
  Screen shown = before;
  EXPECT_FALSE(applyWholeScreen(WholeScreen{1, 1, Cursor{}, {{'\t', 0x07}}}, shown));
  expectSamePicture(shown, before);
}

}  // namespace
}  // namespace skyrazor::network
