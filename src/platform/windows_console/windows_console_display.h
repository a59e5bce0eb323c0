#pragma once

#include <windows.h>

#include <vector>

#include <string>

#include "console/screen.h"
#include "platform/live/window_view.h"

namespace skyrazor {

// Shows the screen model in a console window through the console's own calls.
//
// The model keeps the game's own size; the window is a view onto it (see
// WindowView), drawn from the window's top-left cell as it stood when the
// display started, so the game stays put if the player scrolls the console
// back. Each
// present sends only the cells that changed since the last one, one run of
// cells per row, as UTF-16 glyphs: the code-page-437 bytes show right whatever
// the console's code page is, and the code page is never touched. The cursor
// follows the model's cursor, its shape included.
class ConsoleDisplay {
 public:
  // Throws TerminalUnavailable when `output` is not a console screen buffer.
  ConsoleDisplay(HANDLE output, Screen& screen);
  // Leaves the last picture in place, with the cursor at the start of the
  // row below it.
  ~ConsoleDisplay();
  ConsoleDisplay(const ConsoleDisplay&) = delete;
  ConsoleDisplay& operator=(const ConsoleDisplay&) = delete;

  void present();
  // Sends every cell again (Ctrl-L).
  void repaint();
  // How long news for the player stays on the window's notice row; it goes
  // at the first present after that.
  static constexpr ULONGLONG kNewsShownMs = 10000;
  // Tells the player something on the window's notice row.
  void showNews(const std::string& news);
  void showStatus(const std::string& status, bool overPicture);
  // Shows the status over the picture's bottom row for a few seconds (see
  // WindowView::kStatusBroughtUpMs), where the window has no row below it.
  void bringUpStatus();
  // Milliseconds until a notice is due to go (news, a status brought up),
  // for the waits to present again then; INFINITE when none is.
  DWORD msUntilNoticeChange() const;
  // While a typed line is read the cursor shows where the echo goes.
  void setReadingLine(bool readingLine) { readingLine_ = readingLine; }

 private:
  void applyStatus();
  void followWindow();
  void sendChangedCells();
  void sendRun(int row, int first, int last);
  void placeCursor();
  int lowestDrawnRow() const;
  Cell& shownCell(int column, int row) {
    return shown_[static_cast<std::size_t>(row) * static_cast<std::size_t>(shownColumns_) +
                  static_cast<std::size_t>(column)];
  }

  HANDLE output_;
  Screen& screen_;
  WindowView view_;
  bool readingLine_ = false;
  ULONGLONG newsEndsTick_ = 0;
  std::string status_;
  bool statusOverPicture_ = false;  // as the session asks, brought up or not
  ULONGLONG statusUpUntilTick_ = 0;
  COORD origin_{};      // the buffer cell of the model's top-left cell
  COORD bufferSize_{};  // the console's screen buffer, in cells
  std::vector<Cell> shown_;
  int shownColumns_ = 0;
  int shownRows_ = 0;
  bool redrawAll_ = true;
  std::vector<CHAR_INFO> run_;  // reused from run to run
  COORD shownCursor_{-1, -1};
  CONSOLE_CURSOR_INFO shownCursorShape_{0, FALSE};
};

}  // namespace skyrazor
