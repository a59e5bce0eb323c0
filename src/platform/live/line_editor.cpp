#include "platform/live/line_editor.h"

#include <utility>

namespace skyrazor {

bool LineEditor::type(unsigned char byte) {
  switch (byte) {
    case '\n':
    case '\r':
      line_ += '\n';
      screen_.write('\n');
      return true;
    case 0x08:
    case 0x7F:
      if (!line_.empty()) {
        line_.pop_back();
        eraseLastEcho();
      }
      return false;
    default:
      if (byte >= 0x20 && line_.size() < longestLine_) {
        line_ += static_cast<char>(byte);
        screen_.write(byte);
      }
      return false;
  }
}

std::string LineEditor::takeLine() {
  return std::exchange(line_, std::string());
}

// The echo may have wrapped onto the next row (and scrolled the screen), so the
// character to take back is the cell before the cursor, counting across rows.
void LineEditor::eraseLastEcho() {
  int column = screen_.cursorColumn();
  int row = screen_.cursorRow();
  if (column > 0) {
    --column;
  } else if (row > 0) {
    --row;
    column = screen_.columns() - 1;
  } else {
    return;
  }
  screen_.placeCursor(column, row);
  screen_.blankCells(column, row, 1);
}

std::string readTypedLine(LineEditor& editor, KeyClock& keys, KeyboardSeat seat,
                          const std::function<void()>& showEcho) {
  for (;;) {
    if (!keys.keyWaiting(seat)) {
      showEcho();
    }
    if (editor.type(keys.readKey(seat))) {
      return editor.takeLine();
    }
  }
}

}  // namespace skyrazor
