#include "console/console.h"

#include <cmath>

namespace skyrazor {
namespace {

struct FrameGlyphs {
  unsigned char horizontal;
  unsigned char vertical;
  unsigned char topLeft;
  unsigned char bottomLeft;
  unsigned char topRight;
  unsigned char bottomRight;
};

constexpr FrameGlyphs kSingleLine{0xC4, 0xB3, 0xDA, 0xC0, 0xBF, 0xD9};
constexpr FrameGlyphs kDoubleLine{0xCD, 0xBA, 0xC9, 0xC8, 0xBB, 0xBC};

// "Fehler X1 ist größer als X2 oder Y1 ist größer als Y2!" in code page 437.
constexpr std::string_view kFrameErrorText =
    "Fehler X1 ist gr\x94\xE1"
    "er als X2 oder Y1 ist gr\x94\xE1"
    "er als Y2!\n";

}  // namespace

Console::Console(Screen& screen, Display& display, Keyboard& keyboard, Clock& clock)
    : Console(screen, display, keyboard, nullptr, clock) {}

Console::Console(Screen& screen, Display& display, Keyboard& firstKeyboard,
                 Keyboard* secondKeyboard, Clock& clock)
    : screen_(screen),
      display_(display),
      firstKeyboard_(firstKeyboard),
      secondKeyboard_(secondKeyboard),
      clock_(clock),
      firstTypedInput_([this] { return pullLine(firstKeyboard_); }),
      secondTypedInput_([this] { return pullLine(*secondKeyboard_); }) {}

Keyboard& Console::keyboard(KeyboardSeat seat) {
  return seat == KeyboardSeat::Second && hasSecondKeyboard() ? *secondKeyboard_ : firstKeyboard_;
}

void Console::expectSecondKeyboard(bool expected) {
  if (secondKeyboard_ == nullptr) {
    return;
  }
  // Asked once a match, so that pilot 2 never changes keyboards mid-match.
  secondKeyboardAway_ = expected && !secondKeyboard_->attended();
  secondKeyboard_->expectKeys(expected && !secondKeyboardAway_);
}

// One keyboard serves both seats from one line buffer, as one input stream does.
TypedInput& Console::typedInput(KeyboardSeat seat) {
  return seat == KeyboardSeat::Second && hasSecondKeyboard() ? secondTypedInput_ : firstTypedInput_;
}

void Console::cls() {
  screen_.clear();
}

void Console::gotoXY(std::int64_t x, std::int64_t y) {
  if (x < 0 || x > 65535 || y < 0 || y > 65535) {
    return;
  }
  screen_.placeCursor(static_cast<int>(x - 1), static_cast<int>(y - 1));
}

void Console::setTextColor(int color) {
  screen_.setAttribute(static_cast<std::uint16_t>((screen_.attribute() & 0xFFF0) | (color & 0x0F)));
}

void Console::gotoXYDirect(double x, int y) {
  double column = std::trunc(x);
  if (!(column >= 0.0 && column < static_cast<double>(screen_.columns()))) {
    return;  // off the screen: the console rejects the placement
  }
  screen_.placeCursor(static_cast<int>(column), y);
}

void Console::drawFrame(double x1, int y1, double x2, int y2, int style) {
  if (!(x1 < x2 && y1 < y2)) {
    print(kFrameErrorText);
    return;
  }
  const FrameGlyphs& glyphs = style == 1 ? kDoubleLine : kSingleLine;
  for (double i = std::trunc(x1); i <= x2; i += 1.0) {
    gotoXYDirect(i, y1);
    print(glyphs.horizontal);
    gotoXYDirect(i, y2);
    print(glyphs.horizontal);
  }
  for (int j = y1; j <= y2; ++j) {
    gotoXYDirect(x1, j);
    print(glyphs.vertical);
    gotoXYDirect(x2, j);
    print(glyphs.vertical);
  }
  gotoXYDirect(x1, y1);
  print(glyphs.topLeft);
  gotoXYDirect(x1, y2);
  print(glyphs.bottomLeft);
  gotoXYDirect(x2, y1);
  print(glyphs.topRight);
  gotoXYDirect(x2, y2);
  print(glyphs.bottomRight);
}

void Console::clearScreen() {
  screen_.clear();
}

void Console::clearToEndOfLine() {
  screen_.blankCells(screen_.cursorColumn(), screen_.cursorRow(),
                     screen_.columns() - screen_.cursorColumn());
}

int Console::whereX() const {
  return screen_.cursorColumn() + 1;
}

int Console::whereY() const {
  return screen_.cursorRow() + 1;
}

void Console::insertLine() {
  screen_.insertRow(screen_.cursorRow());
}

void Console::deleteLine() {
  screen_.deleteRow(screen_.cursorRow());
}

void Console::setTextBackground(int color) {
  screen_.setAttribute(
      static_cast<std::uint16_t>((screen_.attribute() & 0xFF0F) | ((color & 0x0F) << 4)));
}

void Console::setTextAttribute(std::uint8_t attribute) {
  screen_.setAttribute(static_cast<std::uint16_t>((screen_.attribute() & 0xFF00) | attribute));
}

void Console::highVideo() {
  screen_.setAttribute(screen_.attribute() | 0x08);
}

void Console::lowVideo() {
  screen_.setAttribute(screen_.attribute() & 0xFFF7);
}

void Console::setCursorType(int type) {
  switch (type) {
    case 0:
      screen_.setCursorShape(false, 25);
      break;
    case 1:
      screen_.setCursorShape(true, 100);
      break;
    case 2:
      screen_.setCursorShape(true, 25);
      break;
    default:
      break;
  }
}

unsigned char Console::readKey() {
  display_.present();
  return firstKeyboard_.readKey();
}

bool Console::keyWaiting(KeyboardSeat seat) {
  return keyboard(seat).keyWaiting();
}

unsigned char Console::takeWaitingKey(KeyboardSeat seat) {
  return keyboard(seat).takeWaitingKey();
}

std::string Console::pullLine(Keyboard& keyboard) {
  display_.present();
  return keyboard.pullLine();
}

std::string Console::readWord(KeyboardSeat seat) {
  return typedInput(seat).readWord();
}

std::int32_t Console::readNumber() {
  return firstTypedInput_.readNumber();
}

char Console::readCharacter() {
  return firstTypedInput_.readCharacter();
}

void Console::sleep(int milliseconds) {
  display_.present();
  clock_.sleep(milliseconds);
}

std::int64_t Console::nowSeconds() {
  return clock_.nowSeconds();
}

void Console::frameEnded(int frameNumber) {
  display_.frameEnded(frameNumber);
}

void Console::tellFacts(const GameFacts& facts) {
  if (facts == toldFacts_) {
    return;
  }
  toldFacts_ = facts;
  display_.tellFacts(toldFacts_);
}

}  // namespace skyrazor
