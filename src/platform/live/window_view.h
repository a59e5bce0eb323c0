#pragma once

#include <cstdint>
#include <string>

#include "console/screen.h"

namespace skyrazor {

// The game's picture is a console of its own size (80x25); a live window is a
// view onto it, and need not have that size. The picture sits at the window's
// top left, and whatever of it fits is shown as it stands: nothing is wrapped
// or lost, so when the window grows again the whole picture is back.
//
// One row of the window may carry a notice instead: that the window is too
// small (and how large it must be), news for the player such as a recording
// that cannot be written, or the state of a network game. It goes below the
// picture where the window has a row to spare, and over the window's bottom
// row where it has none; a status goes over the picture only when it asks to.
//
// A status is parts joined by " - " (a room's name, who sits where, the round
// trip), and a part is shown whole or not at all: a name cut short would be
// passed on wrong. Where the window is too narrow for the whole notice, the
// too-small wording is the one that leaves room for the most parts, and the
// parts that still do not fit are left off from the last.
class WindowView {
 public:
  static constexpr std::uint16_t kNoticeAttribute = 0x70;  // black on light grey
  // How long a status brought up over the picture (a change of seats, or
  // the player asking) stays there.
  static constexpr int kStatusBroughtUpMs = 3000;
  static constexpr const char* kStatusPartSeparator = " - ";

  explicit WindowView(const Screen& picture);

  void setWindowSize(int columns, int rows);
  int windowColumns() const { return windowColumns_; }
  int windowRows() const { return windowRows_; }

  // News for the player, shown until it is cleared; empty for none.
  void setNews(std::string news);
  // A standing line about the session (a network game's connection), shown
  // after any news. Over the picture only with `overPicture`: what a player
  // must see before the game can start, such as how to join, or what the
  // terminal brings up for a few seconds (kStatusBroughtUpMs).
  void setStatus(std::string status, bool overPicture);

  bool tooSmall() const;
  // The window cell at 0-based (column, row): the picture's, the notice's,
  // or a blank beside and below the picture.
  Cell cellAt(int column, int row) const;
  // Whether the picture's cell is on view (for the cursor).
  bool showsPictureCell(int column, int row) const;

 private:
  void composeNotice();

  const Screen& picture_;
  int windowColumns_;
  int windowRows_;
  std::string news_;
  std::string status_;
  bool statusOverPicture_ = false;
  std::string notice_;
  int noticeRow_ = -1;  // -1 when there is no notice
};

}  // namespace skyrazor
