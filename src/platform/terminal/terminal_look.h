#pragma once

#include <cstdint>
#include <map>
#include <utility>

// How console cells look on a curses terminal. Kept free of curses itself:
// colour numbers here are the curses numbers (red 1, green 2, blue 4, bright
// ones 8..15).
namespace skyrazor {

// The curses colour for a console colour 0..15. The console puts blue in
// bit 0 and red in bit 2, curses the other way round; intensity (bit 3) maps
// to the bright half of a 16-colour palette.
int cursesColorFor(int consoleColor);

struct CellLook {
  int foreground = 7;  // curses colour number
  int background = 0;
  bool bold = false;
  bool reverse = false;
  bool underline = false;
};

// The look of a console attribute on a terminal with `terminalColors` colours
// (the COLORS of curses; 0 when it has no colour at all). With fewer than 16
// colours a bright foreground becomes the dark one in bold and a bright
// background the dark one. Without colour, a bright foreground is bold and a
// coloured background is reverse video.
CellLook lookFor(std::uint16_t attribute, int terminalColors);

// The look a blank is drawn with right after a cell of look `previous`. A
// blank shows nothing but its background, so where the two backgrounds agree
// and neither cell is reversed or underlined it borrows the previous
// foreground and boldness: it looks the same, and the terminal is sent no
// colour change for it.
CellLook blankLookAfter(const CellLook& blank, const CellLook& previous);

// Colour pairs handed out as the screen needs them, within the pairs the
// terminal has. Pair 0 is the terminal's own default colours, which need not
// be white on black, so every look gets a pair of its own while they last;
// after that a look borrows a pair with its background (or pair 0).
class ColorPairs {
 public:
  explicit ColorPairs(int terminalPairs) : limit_(terminalPairs) {}

  struct Pair {
    int number = 0;
    bool isNew = false;  // the caller defines it (init_pair) before use
  };
  Pair pairFor(int foreground, int background);

 private:
  int limit_;
  int nextNumber_ = 1;
  std::map<std::pair<int, int>, int> numbers_;
};

// A stand-in for a code-page-437 glyph that the terminal's character set
// cannot show: either a character of the terminal's line-drawing set, named by
// its VT100 letter ('q' a horizontal line, 'l' a top-left corner, 'a' a shade,
// ...), or a plain ASCII character.
struct GlyphStandIn {
  bool lineDrawing = false;
  char character = '?';
};
GlyphStandIn glyphStandIn(unsigned char byte);

}  // namespace skyrazor
