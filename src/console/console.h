#pragma once

#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>

#include "console/screen.h"
#include "console/seam.h"
#include "console/typed_input.h"

namespace skyrazor {

// Which keyboard a read takes from. The second keyboard is pilot 2's own,
// when a session has one; without it every read takes the first.
enum class KeyboardSeat { First = 0, Second = 1 };

// The console layer: the game's one door to the screen, the keyboard and the
// clock. Every screen of the game is built from text written with print(),
// gotoXY() and setTextColor(); the battle arena's border is drawFrame().
// Positions are 1-based for gotoXY and 0-based console cells for
// gotoXYDirect and drawFrame, as on the Windows console the game grew up on.
//
// With a second keyboard, each keyboard has its own typed lines; the game
// reads the second one only where pilot 2 types or flies (see the
// KeyboardSeat arguments).
class Console {
 public:
  Console(Screen& screen, Display& display, Keyboard& keyboard, Clock& clock);
  // `secondKeyboard` may be null: a session of one keyboard.
  Console(Screen& screen, Display& display, Keyboard& firstKeyboard, Keyboard* secondKeyboard,
          Clock& clock);
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // Whether pilot 2 plays at a keyboard of their own: with a second keyboard,
  // unless nobody was at it when the two-person match at hand was set up.
  bool hasSecondKeyboard() const { return secondKeyboard_ != nullptr && !secondKeyboardAway_; }
  // Tells pilot 2's keyboard, when there is one, whether a read of it is
  // coming (from the two-person match setup to the end of its battle). At
  // that setup it is asked once whether someone is at it; if nobody is, the
  // whole match is played at the first keyboard, as in a session of one
  // keyboard, and someone who comes to the second meanwhile waits for the
  // next match.
  void expectSecondKeyboard(bool expected);

  Screen& screen() { return screen_; }
  const Screen& screen() const { return screen_; }

  // --- Output --------------------------------------------------------------
  // Writes text bytes and plain decimal numbers at the cursor, in order.
  template <typename... Pieces>
  void print(const Pieces&... pieces) {
    (printPiece(pieces), ...);
  }

  // The game's screen clear ("cls"): every cell blank in the current
  // attribute, cursor top left.
  void cls();

  // --- The fifteen console operations --------------------------------------
  void gotoXY(std::int64_t x, std::int64_t y);
  void setTextColor(int color);
  void drawFrame(double x1, int y1, double x2, int y2, int style);
  void gotoXYDirect(double x, int y);
  void clearScreen();
  void clearToEndOfLine();
  int whereX() const;
  int whereY() const;
  void insertLine();
  void deleteLine();
  void setTextBackground(int color);
  void setTextAttribute(std::uint8_t attribute);
  void highVideo();
  void lowVideo();
  void setCursorType(int type);

  // --- Input and time --------------------------------------------------------
  // Waits for one key, read without echo.
  unsigned char readKey();
  // The battle's keyboard poll: never blocks.
  bool keyWaiting(KeyboardSeat seat = KeyboardSeat::First);
  unsigned char takeWaitingKey(KeyboardSeat seat = KeyboardSeat::First);
  // Typed words and numbers, from line-buffered input echoed on the screen.
  std::string readWord(KeyboardSeat seat = KeyboardSeat::First);
  std::int32_t readNumber();
  char readCharacter();

  void sleep(int milliseconds);
  std::int64_t nowSeconds();
  void frameEnded(int frameNumber);
  // Tells the display what the game is doing, unless it was the last thing
  // told. Touches neither the screen, the keyboards nor the clock.
  void tellFacts(const GameFacts& facts);

 private:
  void printPiece(std::string_view text) { screen_.write(text); }
  void printPiece(const char* text) { screen_.write(std::string_view(text)); }
  void printPiece(const std::string& text) { screen_.write(text); }
  void printPiece(char byte) { screen_.write(static_cast<unsigned char>(byte)); }
  void printPiece(unsigned char byte) { screen_.write(byte); }
  template <std::integral Number>
  requires(!std::same_as<Number, char> && !std::same_as<Number, unsigned char> &&
           !std::same_as<Number, bool>) void printPiece(Number number) {
    screen_.write(std::to_string(number));
  }
  std::string pullLine(Keyboard& keyboard);
  Keyboard& keyboard(KeyboardSeat seat);
  TypedInput& typedInput(KeyboardSeat seat);

  Screen& screen_;
  Display& display_;
  Keyboard& firstKeyboard_;
  Keyboard* secondKeyboard_;
  bool secondKeyboardAway_ = false;  // for the two-person match at hand
  Clock& clock_;
  TypedInput firstTypedInput_;
  TypedInput secondTypedInput_;
  GameFacts toldFacts_;  // what the display was last told; at first, the menus
};

}  // namespace skyrazor
