#include "console/screen.h"

#include <algorithm>

namespace skyrazor {

Screen::Screen(int columns, int rows)
    : columns_(std::max(columns, 1)),
      rows_(std::max(rows, 1)),
      cells_(static_cast<std::size_t>(columns_) * static_cast<std::size_t>(rows_)) {}

void Screen::setCursorShape(bool visible, int sizePercent) {
  cursorVisible_ = visible;
  cursorSizePercent_ = sizePercent;
}

void Screen::write(std::string_view bytes) {
  for (char byte : bytes) {
    write(static_cast<unsigned char>(byte));
  }
}

void Screen::write(unsigned char byte) {
  switch (byte) {
    case '\n':
      cursorColumn_ = 0;
      lineFeed();
      return;
    case '\r':
      cursorColumn_ = 0;
      return;
    case '\b':
      if (cursorColumn_ > 0) {
        --cursorColumn_;
      }
      return;
    case '\a':
      return;
    case '\t':
      // Blanks up to the next tab stop (columns 9, 17, ... counted from 1),
      // or to the end of the row when no stop is left in it.
      do {
        store(' ');
      } while (cursorColumn_ != 0 && cursorColumn_ % 8 != 0);
      return;
    default:
      store(byte);
      return;
  }
}

void Screen::store(unsigned char byte) {
  cells_[index(cursorColumn_, cursorRow_)] = Cell{byte, attribute_};
  advanceCursor();
}

void Screen::advanceCursor() {
  ++cursorColumn_;
  if (cursorColumn_ >= columns_) {
    cursorColumn_ = 0;
    lineFeed();
  }
}

void Screen::lineFeed() {
  if (cursorRow_ + 1 < rows_) {
    ++cursorRow_;
  } else {
    scrollUp();
  }
}

void Screen::scrollUp() {
  deleteRow(0);
}

bool Screen::placeCursor(int column, int row) {
  if (column < 0 || column >= columns_ || row < 0 || row >= rows_) {
    return false;
  }
  cursorColumn_ = column;
  cursorRow_ = row;
  return true;
}

void Screen::clear() {
  std::fill(cells_.begin(), cells_.end(), Cell{' ', attribute_});
  cursorColumn_ = 0;
  cursorRow_ = 0;
}

void Screen::setCell(int column, int row, const Cell& cell) {
  if (column >= 0 && column < columns_ && row >= 0 && row < rows_) {
    cells_[index(column, row)] = cell;
  }
}

void Screen::blankCells(int column, int row, int count) {
  if (row < 0 || row >= rows_) {
    return;
  }
  int first = std::max(column, 0);
  int last = std::min(column + count, columns_);
  for (int c = first; c < last; ++c) {
    cells_[index(c, row)] = Cell{' ', attribute_};
  }
}

void Screen::insertRow(int firstRow) {
  if (firstRow < 0 || firstRow >= rows_) {
    return;
  }
  for (int row = rows_ - 1; row > firstRow; --row) {
    std::copy_n(cells_.begin() + static_cast<std::ptrdiff_t>(index(0, row - 1)), columns_,
                cells_.begin() + static_cast<std::ptrdiff_t>(index(0, row)));
  }
  blankCells(0, firstRow, columns_);
}

void Screen::deleteRow(int firstRow) {
  if (firstRow < 0 || firstRow >= rows_) {
    return;
  }
  for (int row = firstRow; row + 1 < rows_; ++row) {
    std::copy_n(cells_.begin() + static_cast<std::ptrdiff_t>(index(0, row + 1)), columns_,
                cells_.begin() + static_cast<std::ptrdiff_t>(index(0, row)));
  }
  blankCells(0, rows_ - 1, columns_);
}

void Screen::resize(int columns, int rows) {
  columns = std::max(columns, 1);
  rows = std::max(rows, 1);
  std::vector<Cell> resized(static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows));
  int keptColumns = std::min(columns, columns_);
  int keptRows = std::min(rows, rows_);
  for (int row = 0; row < keptRows; ++row) {
    std::copy_n(cells_.begin() + static_cast<std::ptrdiff_t>(index(0, row)), keptColumns,
                resized.begin() + static_cast<std::ptrdiff_t>(row) * columns);
  }
  cells_ = std::move(resized);
  columns_ = columns;
  rows_ = rows;
  cursorColumn_ = std::min(cursorColumn_, columns_ - 1);
  cursorRow_ = std::min(cursorRow_, rows_ - 1);
}

}  // namespace skyrazor
