#include <gtest/gtest.h>

#include <iterator>

#include "platform/terminal/terminal_look.h"

namespace skyrazor {
namespace {

// Curses colour numbers: red 1, green 2, blue 4 (yellow 3, magenta 5, cyan 6).
TEST(TerminalColors, BlueAndRedSwapPlacesGreenAndIntensityStay) {
  EXPECT_EQ(cursesColorFor(0x0), 0);
  EXPECT_EQ(cursesColorFor(0x1), 4);   // blue
  EXPECT_EQ(cursesColorFor(0x2), 2);   // green
  EXPECT_EQ(cursesColorFor(0x3), 6);   // cyan
  EXPECT_EQ(cursesColorFor(0x4), 1);   // red
  EXPECT_EQ(cursesColorFor(0x6), 3);   // brown
  EXPECT_EQ(cursesColorFor(0x8), 8);   // dark grey
  EXPECT_EQ(cursesColorFor(0xA), 10);  // pilot 1's bright green
  EXPECT_EQ(cursesColorFor(0xC), 9);   // pilot 2's bright red
  EXPECT_EQ(cursesColorFor(0xD), 13);  // bright magenta
  EXPECT_EQ(cursesColorFor(0xF), 15);
}

TEST(TerminalColors, SixteenColourTerminalsShowBrightColoursAsThemselves) {
  CellLook look = lookFor(0x1E, 256);  // yellow on blue
  EXPECT_EQ(look.foreground, 11);
  EXPECT_EQ(look.background, 4);
  EXPECT_FALSE(look.bold);

  look = lookFor(0xC7, 16);  // bright red background
  EXPECT_EQ(look.foreground, 7);
  EXPECT_EQ(look.background, 9);
}

TEST(TerminalColors, EightColourTerminalsShowBrightForegroundsInBold) {
  CellLook look = lookFor(0x0C, 8);
  EXPECT_EQ(look.foreground, 1);
  EXPECT_TRUE(look.bold);

  look = lookFor(0x08, 8);  // dark grey: bold black
  EXPECT_EQ(look.foreground, 0);
  EXPECT_TRUE(look.bold);

  look = lookFor(0x97, 8);  // a bright background has no bold to borrow
  EXPECT_EQ(look.background, 4);
  EXPECT_FALSE(look.bold);
}

TEST(TerminalColors, WithoutColourBrightIsBoldAndABackgroundIsReverse) {
  EXPECT_TRUE(lookFor(0x0F, 0).bold);
  EXPECT_FALSE(lookFor(0x07, 0).reverse);
  EXPECT_TRUE(lookFor(0x70, 0).reverse);
  EXPECT_FALSE(lookFor(0x4070, 0).reverse);  // reverse video of a reverse look
}

TEST(TerminalColors, TheConsolesReverseAndUnderscoreBitsCarryOver) {
  CellLook look = lookFor(0xC00A, 256);
  EXPECT_TRUE(look.reverse);
  EXPECT_TRUE(look.underline);
  EXPECT_EQ(look.foreground, 10);
  EXPECT_FALSE(lookFor(0x00FF, 256).reverse);
}

// A blank after a bright green shot on black: drawn green, so no colour
// change is sent for it. Where the blank would look different (another
// background, reverse video, an underline) it keeps its own look.
TEST(TerminalBlankLook, ABlankBorrowsTheColourBeforeItOnlyWhereItLooksTheSame) {
  const CellLook shot = lookFor(0x0A, 8);  // bright green: green in bold
  CellLook blank = blankLookAfter(lookFor(0x0F, 8), shot);
  EXPECT_EQ(blank.foreground, shot.foreground);
  EXPECT_TRUE(blank.bold);
  EXPECT_EQ(blank.background, 0);

  const CellLook onBlue = lookFor(0x1F, 256);
  EXPECT_EQ(blankLookAfter(onBlue, shot).foreground, 15);
  EXPECT_EQ(blankLookAfter(lookFor(0x0F, 256), onBlue).foreground, 15);
  EXPECT_EQ(blankLookAfter(lookFor(0x400F, 256), shot).foreground, 15);  // reverse video
  EXPECT_EQ(blankLookAfter(lookFor(0x0F, 256), lookFor(0x800A, 256)).foreground, 15);
  // Without colours a background is shown in reverse video.
  EXPECT_FALSE(blankLookAfter(lookFor(0x07, 0), lookFor(0x1F, 0)).bold);
}

TEST(TerminalColorPairs, EachLookGetsOnePairNeverTheDefaultPair) {
  ColorPairs pairs(256);
  ColorPairs::Pair white = pairs.pairFor(7, 0);
  EXPECT_TRUE(white.isNew);
  EXPECT_GE(white.number, 1);
  ColorPairs::Pair green = pairs.pairFor(10, 0);
  EXPECT_TRUE(green.isNew);
  EXPECT_NE(green.number, white.number);

  ColorPairs::Pair again = pairs.pairFor(7, 0);
  EXPECT_FALSE(again.isNew);
  EXPECT_EQ(again.number, white.number);
}

TEST(TerminalColorPairs, WhenPairsRunOutALookBorrowsOneWithItsBackground) {
  ColorPairs pairs(3);  // pairs 1 and 2 are free to define
  int onBlack = pairs.pairFor(7, 0).number;
  int onBlue = pairs.pairFor(7, 4).number;

  ColorPairs::Pair borrowed = pairs.pairFor(9, 4);
  EXPECT_FALSE(borrowed.isNew);
  EXPECT_EQ(borrowed.number, onBlue);
  EXPECT_EQ(pairs.pairFor(10, 0).number, onBlack);

  ColorPairs::Pair fallback = pairs.pairFor(7, 2);
  EXPECT_FALSE(fallback.isNew);
  EXPECT_EQ(fallback.number, 0);
}

TEST(TerminalGlyphStandIns, TheFramesAndTheMediumShadeBorrowLineDrawingCharacters) {
  struct Expected {
    unsigned char byte;
    char vt100;
  };
  // The single- and double-line frames, and the medium shade's checkerboard.
  for (Expected expected : {Expected{0xC4, 'q'},
                            {0xB3, 'x'},
                            {0xDA, 'l'},
                            {0xBF, 'k'},
                            {0xC0, 'm'},
                            {0xD9, 'j'},
                            {0xCD, 'q'},
                            {0xBA, 'x'},
                            {0xC9, 'l'},
                            {0xBB, 'k'},
                            {0xC8, 'm'},
                            {0xBC, 'j'},
                            {0xB1, 'a'}}) {
    GlyphStandIn standIn = glyphStandIn(expected.byte);
    EXPECT_TRUE(standIn.lineDrawing) << int{expected.byte};
    EXPECT_EQ(standIn.character, expected.vt100) << int{expected.byte};
  }
}

TEST(TerminalGlyphStandIns, OtherBytesStandInAsPlainCharacters) {
  EXPECT_FALSE(glyphStandIn('A').lineDrawing);
  EXPECT_EQ(glyphStandIn('A').character, 'A');
  EXPECT_FALSE(glyphStandIn(0x1D).lineDrawing);  // the rocket
  EXPECT_EQ(glyphStandIn(0x1D).character, '=');
  // The line-drawing board would show as a newline symbol in tmux.
  EXPECT_FALSE(glyphStandIn(0xB0).lineDrawing);
  EXPECT_FALSE(glyphStandIn(0xB2).lineDrawing);
  EXPECT_EQ(glyphStandIn(0x94).character, '?');
  EXPECT_EQ(glyphStandIn(0x7F).character, '?');
}

// In battle every glyph tells the pilots something, so the ships, the shots
// of the five weapons and the shades of the dust wall and the blasts each
// keep a look of their own where the terminal shows them through stand-ins.
TEST(TerminalGlyphStandIns, EveryBattleGlyphKeepsALookOfItsOwn) {
  const unsigned char battleBytes[] = {'>', '<', '.', 'o', '-', 0x1D, '~', '*', 0xB0, 0xB1, 0xB2};
  for (std::size_t i = 0; i < std::size(battleBytes); ++i) {
    for (std::size_t j = i + 1; j < std::size(battleBytes); ++j) {
      GlyphStandIn first = glyphStandIn(battleBytes[i]);
      GlyphStandIn second = glyphStandIn(battleBytes[j]);
      EXPECT_FALSE(first.lineDrawing == second.lineDrawing && first.character == second.character)
          << int{battleBytes[i]} << " and " << int{battleBytes[j]};
    }
  }
}

}  // namespace
}  // namespace skyrazor
