#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace skyrazor {

// One character cell of the console: the byte the game wrote (shown as its
// code-page-437 glyph) and the console attribute it was written with
// (foreground in the low 4 bits, background in the next 4).
struct Cell {
  unsigned char byte = ' ';
  std::uint16_t attribute = 0x07;
};

// The one screen model: everything the console shows. Game code draws only
// into it; a platform backend presents it, and a scripted run dumps it.
// Columns and rows here are 0-based console cells.
class Screen {
 public:
  static constexpr std::uint16_t kStartAttribute = 0x07;

  Screen(int columns, int rows);

  int columns() const { return columns_; }
  int rows() const { return rows_; }
  int cursorColumn() const { return cursorColumn_; }
  int cursorRow() const { return cursorRow_; }
  std::uint16_t attribute() const { return attribute_; }
  void setAttribute(std::uint16_t attribute) { attribute_ = attribute; }
  bool cursorVisible() const { return cursorVisible_; }
  int cursorSizePercent() const { return cursorSizePercent_; }
  void setCursorShape(bool visible, int sizePercent);

  const Cell& cell(int column, int row) const { return cells_[index(column, row)]; }
  // One row's cells, left to right.
  std::span<const Cell> rowCells(int row) const {
    return std::span(cells_).subspan(index(0, row), static_cast<std::size_t>(columns_));
  }

  // Writes one byte at the cursor the way the console does: line end, carriage
  // return, backspace, tab and bell are controls, every other byte is stored.
  void write(unsigned char byte);
  void write(std::string_view bytes);

  // Places the cursor; a cell outside the screen is rejected and the cursor
  // stays where it was. Returns whether the cursor moved there.
  bool placeCursor(int column, int row);

  // Blanks every cell in the current attribute and puts the cursor top left.
  void clear();

  // Blanks `count` cells of one row from `column` on, in the current attribute.
  void blankCells(int column, int row, int count);

  // Puts one cell as it is, leaving the cursor where it stands (a picture
  // copied from elsewhere); a cell outside the screen is ignored.
  void setCell(int column, int row, const Cell& cell);

  // Moves rows [firstRow, rows) down by one; firstRow becomes blank.
  void insertRow(int firstRow);
  // Moves rows (firstRow, rows) up onto firstRow; the bottom row becomes blank.
  void deleteRow(int firstRow);

  // Changes the size, keeping the cells that still fit (new cells are blank
  // with the start attribute) and keeping the cursor inside.
  void resize(int columns, int rows);

 private:
  std::size_t index(int column, int row) const {
    return static_cast<std::size_t>(row) * static_cast<std::size_t>(columns_) +
           static_cast<std::size_t>(column);
  }
  void store(unsigned char byte);
  void advanceCursor();
  void lineFeed();
  void scrollUp();

  int columns_;
  int rows_;
  std::vector<Cell> cells_;
  int cursorColumn_ = 0;
  int cursorRow_ = 0;
  std::uint16_t attribute_ = kStartAttribute;
  bool cursorVisible_ = true;
  int cursorSizePercent_ = 25;
};

}  // namespace skyrazor
