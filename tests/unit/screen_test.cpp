#include <gtest/gtest.h>

#include "console/screen.h"

namespace skyrazor {
namespace {

TEST(ScreenTest, StartsBlankWithCursorTopLeft) {
  Screen screen(10, 3);
  EXPECT_EQ(screen.cell(9, 2).byte, ' ');
  EXPECT_EQ(screen.cell(9, 2).attribute, 0x07);
  EXPECT_EQ(screen.cursorColumn(), 0);
}

}  // namespace
}  // namespace skyrazor
