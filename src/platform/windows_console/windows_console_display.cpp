#include "platform/windows_console/windows_console_display.h"

#include <algorithm>

#include "console/cp437.h"
#include "console/seam.h"

namespace skyrazor {
namespace {

bool sameCell(const Cell& a, const Cell& b) {
  return a.byte == b.byte && a.attribute == b.attribute;
}

SHORT toShort(int value) {
  return static_cast<SHORT>(std::clamp(value, 0, 0x7FFF));
}

}  // namespace

ConsoleDisplay::ConsoleDisplay(HANDLE output, Screen& screen)
    : output_(output), screen_(screen), view_(screen) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(output_, &info)) {
    throw TerminalUnavailable("standard output is not a console window (try --help)");
  }
  origin_ = {info.srWindow.Left, info.srWindow.Top};
  followWindow();
}

// A buffer no taller than the window (a terminal's console under Wine, or a
// window sized so) may have no row below the picture: a new line at its
// bottom scrolls one in, so that what is printed next has a row of its own
// rather than overwriting the last one drawn.
ConsoleDisplay::~ConsoleDisplay() {
  const int below = origin_.Y + lowestDrawnRow() + 1;
  if (below < bufferSize_.Y) {
    SetConsoleCursorPosition(output_, {0, toShort(below)});
    return;
  }
  SetConsoleCursorPosition(output_, {0, toShort(bufferSize_.Y - 1)});
  DWORD written = 0;
  WriteConsoleW(output_, L"\n", 1, &written, nullptr);
}

void ConsoleDisplay::present() {
  const ULONGLONG now = GetTickCount64();
  if (newsEndsTick_ != 0 && now >= newsEndsTick_) {
    newsEndsTick_ = 0;
    view_.setNews("");
  }
  if (statusUpUntilTick_ != 0 && now >= statusUpUntilTick_) {
    statusUpUntilTick_ = 0;
    applyStatus();
  }
  followWindow();
  sendChangedCells();
  placeCursor();
}

void ConsoleDisplay::repaint() {
  redrawAll_ = true;
  present();
}

void ConsoleDisplay::showNews(const std::string& news) {
  view_.setNews(news);
  newsEndsTick_ = GetTickCount64() + kNewsShownMs;
  present();
}

void ConsoleDisplay::showStatus(const std::string& status, bool overPicture) {
  status_ = status;
  statusOverPicture_ = overPicture;
  applyStatus();
  present();
}

void ConsoleDisplay::bringUpStatus() {
  statusUpUntilTick_ = GetTickCount64() + WindowView::kStatusBroughtUpMs;
  applyStatus();
  present();
}

void ConsoleDisplay::applyStatus() {
  view_.setStatus(status_, statusOverPicture_ || statusUpUntilTick_ != 0);
}

DWORD ConsoleDisplay::msUntilNoticeChange() const {
  ULONGLONG next = 0;
  for (ULONGLONG tick : {newsEndsTick_, statusUpUntilTick_}) {
    if (tick != 0 && (next == 0 || tick < next)) {
      next = tick;
    }
  }
  if (next == 0) {
    return INFINITE;
  }
  const ULONGLONG now = GetTickCount64();
  return next <= now ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(next - now, 60 * 60 * 1000));
}

// The view takes the window's size; the area keeps its top-left cell unless
// the buffer has become too small to hold it there.
void ConsoleDisplay::followWindow() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(output_, &info)) {
    return;  // nothing better to go on: keep the last size
  }
  bufferSize_ = info.dwSize;
  int columns = info.srWindow.Right - info.srWindow.Left + 1;
  int rows = info.srWindow.Bottom - info.srWindow.Top + 1;
  int left = std::clamp<int>(origin_.X, 0, std::max(bufferSize_.X - columns, 0));
  int top = std::clamp<int>(origin_.Y, 0, std::max(bufferSize_.Y - rows, 0));
  columns = std::max(std::min(columns, bufferSize_.X - left), 1);
  rows = std::max(std::min(rows, bufferSize_.Y - top), 1);
  if (columns != view_.windowColumns() || rows != view_.windowRows()) {
    view_.setWindowSize(columns, rows);
  }
  if (columns != shownColumns_ || rows != shownRows_ || left != origin_.X || top != origin_.Y) {
    origin_ = {toShort(left), toShort(top)};
    shownColumns_ = columns;
    shownRows_ = rows;
    shown_.assign(static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows), Cell{});
    redrawAll_ = true;
    shownCursor_ = {-1, -1};
  }
}

void ConsoleDisplay::sendChangedCells() {
  for (int row = 0; row < shownRows_; ++row) {
    int first = -1;
    int last = -1;
    for (int column = 0; column < shownColumns_; ++column) {
      if (redrawAll_ || !sameCell(view_.cellAt(column, row), shownCell(column, row))) {
        first = first < 0 ? column : first;
        last = column;
      }
    }
    if (first >= 0) {
      sendRun(row, first, last);
    }
  }
  redrawAll_ = false;
}

// The cells first..last of one row, in one write.
void ConsoleDisplay::sendRun(int row, int first, int last) {
  run_.resize(static_cast<std::size_t>(last - first + 1));
  for (int column = first; column <= last; ++column) {
    const Cell cell = view_.cellAt(column, row);
    CHAR_INFO& shown = run_[static_cast<std::size_t>(column - first)];
    shown.Char.UnicodeChar = static_cast<WCHAR>(cp437ToUnicode(cell.byte));
    shown.Attributes = cell.attribute;
    shownCell(column, row) = cell;
  }
  SMALL_RECT area{toShort(origin_.X + first), toShort(origin_.Y + row), toShort(origin_.X + last),
                  toShort(origin_.Y + row)};
  WriteConsoleOutputW(output_, run_.data(), {toShort(last - first + 1), 1}, {0, 0}, &area);
}

void ConsoleDisplay::placeCursor() {
  // The cursor shows only where a typed line is echoed, and only when that
  // cell is on view; the rest of the time it would blink over the arena.
  const bool visible = readingLine_ && screen_.cursorVisible() &&
                       view_.showsPictureCell(screen_.cursorColumn(), screen_.cursorRow());
  CONSOLE_CURSOR_INFO shape{static_cast<DWORD>(std::clamp(screen_.cursorSizePercent(), 1, 100)),
                            visible ? TRUE : FALSE};
  if (shape.dwSize != shownCursorShape_.dwSize || shape.bVisible != shownCursorShape_.bVisible) {
    SetConsoleCursorInfo(output_, &shape);
    shownCursorShape_ = shape;
  }
  COORD at{toShort(origin_.X + screen_.cursorColumn()), toShort(origin_.Y + screen_.cursorRow())};
  if (at.X != shownCursor_.X || at.Y != shownCursor_.Y) {
    SetConsoleCursorPosition(output_, at);
    shownCursor_ = at;
  }
}

// The lowest row shown with anything but blanks on it; -1 when all are blank.
int ConsoleDisplay::lowestDrawnRow() const {
  for (int row = shownRows_ - 1; row >= 0; --row) {
    for (int column = 0; column < shownColumns_; ++column) {
      unsigned char byte = shown_[static_cast<std::size_t>(row * shownColumns_ + column)].byte;
      if (byte != ' ' && byte != 0x00) {
        return row;
      }
    }
  }
  return -1;
}

}  // namespace skyrazor
