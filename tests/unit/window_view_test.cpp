#include "platform/live/window_view.h"

#include <gtest/gtest.h>

#include <string>

namespace skyrazor {
namespace {

std::string rowText(const WindowView& view, int row) {
  std::string text;
  for (int column = 0; column < view.windowColumns(); ++column) {
    text += static_cast<char>(view.cellAt(column, row).byte);
  }
  return text.erase(text.find_last_not_of(' ') + 1);
}

struct WindowViewTest : ::testing::Test {
  WindowViewTest() {
    picture.placeCursor(0, 0);
    picture.write("top row of the game");
    picture.placeCursor(0, 24);
    picture.write("bottom row");
  }
  Screen picture{80, 25};
  WindowView view{picture};
};

TEST_F(WindowViewTest, ASmallWindowShowsTheTopLeftAndSaysHowLargeItMustBe) {
  view.setWindowSize(12, 4);
  EXPECT_TRUE(view.tooSmall());
  EXPECT_EQ(rowText(view, 0), "top row of t");
  EXPECT_EQ(rowText(view, 3), "Needs 80x25");
  EXPECT_EQ(view.cellAt(0, 3).attribute, WindowView::kNoticeAttribute);
  EXPECT_FALSE(view.showsPictureCell(0, 3));
  EXPECT_FALSE(view.showsPictureCell(12, 0));

  view.setWindowSize(79, 30);
  EXPECT_EQ(rowText(view, 25), "The window is 79x30, too small: the game needs 80x25");
  EXPECT_EQ(rowText(view, 24), "bottom row");

  // Grown again, the whole picture is back and nothing else shows.
  view.setWindowSize(80, 25);
  EXPECT_FALSE(view.tooSmall());
  EXPECT_EQ(rowText(view, 24), "bottom row");
  EXPECT_TRUE(view.showsPictureCell(79, 24));
}

TEST_F(WindowViewTest, NewsGoesBelowThePictureOrOverTheBottomRow) {
  view.setWindowSize(100, 30);
  view.setNews("Recording failed");
  EXPECT_EQ(rowText(view, 25), "Recording failed");
  EXPECT_EQ(rowText(view, 24), "bottom row");
  EXPECT_EQ(view.cellAt(90, 3).byte, ' ');  // beside the picture: blank

  view.setWindowSize(80, 25);
  EXPECT_EQ(rowText(view, 24), "Recording failed");
  view.setNews("");
  EXPECT_EQ(rowText(view, 24), "bottom row");
}

// A room's name cut short would be passed on wrong: each part of a status
// shows whole or not at all, the too-small notice giving way to the most
// parts it can.
TEST_F(WindowViewTest, AStatusShowsEachOfItsPartsWholeOrNotAtAll) {
  const std::string status = "Room k7qf9m - you host, no pilot 2 yet - round trip 0.3 ms";
  view.setStatus(status, false);
  view.setWindowSize(80, 26);
  EXPECT_EQ(rowText(view, 25), status);
  view.setWindowSize(60, 30);
  EXPECT_EQ(rowText(view, 25), "Needs 80x25 - Room k7qf9m - you host, no pilot 2 yet");
  view.setWindowSize(30, 30);
  EXPECT_EQ(rowText(view, 25), "Needs 80x25 - Room k7qf9m");
  view.setWindowSize(20, 30);
  EXPECT_EQ(rowText(view, 25), "Needs 80x25");
  // Over the picture's bottom row only when brought up there.
  view.setWindowSize(80, 25);
  EXPECT_EQ(rowText(view, 24), "bottom row");
  view.setStatus(status, true);
  EXPECT_EQ(rowText(view, 24), status);
}

}  // namespace
}  // namespace skyrazor
