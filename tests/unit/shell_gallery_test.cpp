#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/gallery.h"
#include "shell/program_loop.h"
#include "support/fake_platform.h"

namespace skyrazor {
namespace {

// A console whose every key read copies the screen, so that each page can be
// looked at as it stood while the gallery waited on it.
class PageRecorder : public testing::FakePlatform {
 public:
  explicit PageRecorder(testing::FakeConsole& view) : FakePlatform(view.screen), view_(view) {}

  struct Page {
    std::vector<std::string> rows;
    std::vector<std::vector<int>> colors;
  };
  std::vector<Page> pages;

  unsigned char readKey() override {
    Page page;
    for (int row = 1; row <= 12; ++row) {
      page.rows.push_back(view_.row(row));
      std::vector<int> colors;
      for (int column = 1; column <= 13; ++column) {
        colors.push_back(view_.colorAt(column, row));
      }
      page.colors.push_back(colors);
    }
    pages.push_back(page);
    return FakePlatform::readKey();
  }

 private:
  const testing::FakeConsole& view_;
};

class GalleryTest : public ::testing::Test {
 protected:
  GalleryTest() {
    for (int key = 0; key < 7; ++key) {
      recorder.keys.push_back(static_cast<unsigned char>('a' + key));
    }
    fake.console.setTextColor(15);
  }
  const PageRecorder::Page& page(std::size_t number) const { return recorder.pages.at(number); }

  testing::FakeConsole fake;
  PageRecorder recorder{fake};
  Console console{fake.screen, recorder, recorder, recorder};
  Game game{console};
};

TEST_F(GalleryTest, CoverAndSixPagesTakeOneKeyEach) {
  game.shell.key = '5';
  runGallery(game);

  ASSERT_EQ(recorder.pages.size(), 7u);
  EXPECT_TRUE(recorder.keys.empty());
  EXPECT_EQ(game.shell.key, 'x');
  EXPECT_EQ(page(0).rows[0], "GALLERY");
  EXPECT_EQ(page(0).rows[1], "");
  const std::vector<std::string> headings = {"Skyrazor",    "Nr.1: Mashine-Bolt", "Nr.2: Bomb",
                                             "Nr.3: Laser", "Nr.4: Rocket",       "Nr.5: Ion"};
  for (std::size_t number = 1; number <= 6; ++number) {
    EXPECT_EQ(page(number).rows[0], headings[number - 1]);
    EXPECT_EQ(page(number).rows[1], "") << "page " << number;
  }
  EXPECT_EQ(fake.screen.attribute() & 0x0F, 15);
}

TEST_F(GalleryTest, PicturesStandAtTheirCellsInEachPilotsColour) {
  runGallery(game);

  EXPECT_EQ(page(1).rows[2], "   >     <");
  EXPECT_EQ(page(2).rows[2], "   .     .");
  EXPECT_EQ(page(2).rows[3], "   .     .");
  EXPECT_EQ(page(3).rows[2], "   o     o");
  EXPECT_EQ(page(4).rows[2], "  ---   ---");
  EXPECT_EQ(page(5).rows[2], "   \x1D     \x1D");
  EXPECT_EQ(page(6).rows[2], "  ~ *    ~ *");
  // Green from column 1 to the left picture's end, red from there to the
  // right picture's end, blanks included: each piece is printed whole.
  const std::vector<std::pair<int, int>> pictureEnds = {{4, 10}, {4, 10}, {4, 10},
                                                        {5, 11}, {4, 10}, {5, 12}};
  for (std::size_t number = 1; number <= 6; ++number) {
    auto [leftEnd, rightEnd] = pictureEnds[number - 1];
    const std::vector<int>& colors = page(number).colors[2];
    for (int column = 1; column <= rightEnd; ++column) {
      int expected = column <= leftEnd ? 10 : 12;
      EXPECT_EQ(colors[static_cast<std::size_t>(column - 1)], expected)
          << "page " << number << " column " << column;
    }
    EXPECT_EQ(page(number).colors[0][0], 15) << "heading of page " << number;
  }
  EXPECT_EQ(page(2).colors[3][3], 10);
  EXPECT_EQ(page(2).colors[3][9], 12);
}

// From the main menu, the gallery's seven keys lead back to the title.
TEST_F(GalleryTest, SevenKeysFromTheCoverBackToTheTitle) {
  recorder.keys.push_front('5');
  recorder.keys.push_front('x');
  recorder.keys.push_back('t');

  runOnePass(game);
  EXPECT_EQ(recorder.keys.size(), 1u);
  EXPECT_THROW(runOnePass(game), SessionEnded);

  // Title, menu, seven gallery pages, then the title again.
  ASSERT_EQ(recorder.pages.size(), 2u + 7u + 2u);
  EXPECT_EQ(recorder.pages[1].rows[0], "Welcome Pilots! Where do u want to go?");
  EXPECT_EQ(recorder.pages[2].rows[0], "GALLERY");
  EXPECT_EQ(recorder.pages[9].rows[0], "   ***   Skyrazor   ***");
}

}  // namespace
}  // namespace skyrazor
