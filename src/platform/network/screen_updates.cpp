#include "platform/network/screen_updates.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

namespace skyrazor::network {

namespace {

// A screen-changes message before its runs: type byte, cursor, run count.
constexpr std::size_t kChangesHeaderBytes = 1 + kCursorBytes + 2;

bool sameCell(const Cell& one, const Cell& other) {
  return one.byte == other.byte && one.attribute == other.attribute;
}

// The bytes Screen::write takes as controls: a cell never holds one.
bool isHeldInACell(unsigned char byte) {
  return byte != '\n' && byte != '\r' && byte != '\b' && byte != '\a' && byte != '\t';
}

bool allHeldInCells(const std::vector<Cell>& cells) {
  return std::all_of(cells.begin(), cells.end(),
                     [](const Cell& cell) { return isHeldInACell(cell.byte); });
}

bool cursorInside(const Cursor& cursor, int columns, int rows) {
  return cursor.column < columns && cursor.row < rows;
}

std::size_t cellIndex(int column, int row, int columns) {
  return static_cast<std::size_t>(row) * static_cast<std::size_t>(columns) +
         static_cast<std::size_t>(column);
}

// Gathers runs of changed cells into screen-changes messages, starting a new
// message whenever the next run would take one past the protocol's limit
// and cutting a run where it does not fit whole.
class ChangesSplitter {
 public:
  ChangesSplitter(const Cursor& cursor, std::vector<Message>& out)
      : cursor_(cursor), out_(out), current_{cursor, {}} {}

  void addRun(int row, int firstColumn, const std::vector<Cell>& cells) {
    std::size_t done = 0;
    while (done < cells.size()) {
      if (kLongestMessage - length_ < kRunHeaderBytes + kCellBytes) {
        flush();
      }
      const std::size_t room = (kLongestMessage - length_ - kRunHeaderBytes) / kCellBytes;
      const std::size_t count = std::min(room, cells.size() - done);
      const auto first = cells.begin() + static_cast<std::ptrdiff_t>(done);
      current_.runs.push_back(
          CellRun{static_cast<std::uint16_t>(row), static_cast<std::uint16_t>(firstColumn + done),
                  std::vector<Cell>(first, first + static_cast<std::ptrdiff_t>(count))});
      length_ += kRunHeaderBytes + count * kCellBytes;
      done += count;
    }
  }

  // Sends what is gathered; with nothing gathered, the cursor alone when asked.
  void finish(bool cursorMoved) {
    if (!current_.runs.empty() || (cursorMoved && !sentAny_)) {
      flush();
    }
  }

 private:
  void flush() {
    out_.push_back(std::move(current_));
    current_ = ScreenChanges{cursor_, {}};
    length_ = kChangesHeaderBytes;
    sentAny_ = true;
  }

  Cursor cursor_;
  std::vector<Message>& out_;
  ScreenChanges current_;
  std::size_t length_ = kChangesHeaderBytes;
  bool sentAny_ = false;
};

WholeScreen wholeScreenOf(const Screen& screen) {
  WholeScreen whole{static_cast<std::uint16_t>(screen.columns()),
                    static_cast<std::uint16_t>(screen.rows()),
                    cursorOf(screen),
                    {}};
  whole.cells.reserve(cellIndex(0, screen.rows(), screen.columns()));
  for (int row = 0; row < screen.rows(); ++row) {
    for (int column = 0; column < screen.columns(); ++column) {
      whole.cells.push_back(screen.cell(column, row));
    }
  }
  return whole;
}

// A cell's byte and attribute as one word (its padding left out), so that a
// row compares without a branch per cell.
std::uint32_t cellWord(const Cell& cell) {
  return std::uint32_t{cell.byte} | (std::uint32_t{cell.attribute} << 8);
}

bool sameRow(std::span<const Cell> one, std::span<const Cell> other) {
  std::uint32_t differences = 0;
  for (std::size_t column = 0; column < one.size(); ++column) {
    differences |= cellWord(one[column]) ^ cellWord(other[column]);
  }
  return differences == 0;
}

// The changed runs of one row, each sent and copied into the peer's picture.
// Most rows of a battle frame are as the peer holds them: a server compares
// every row for every terminal in every frame, so those take one quick pass.
void addChangedRuns(const Screen& screen, int row, PeerPicture& peer, ChangesSplitter& splitter,
                    std::vector<Cell>& run) {
  const std::span<const Cell> now = screen.rowCells(row);
  const std::span<Cell> shown =
      std::span(peer.cells).subspan(cellIndex(0, row, peer.columns), now.size());
  if (sameRow(now, shown)) {
    return;
  }
  int firstColumn = 0;
  for (std::size_t column = 0; column <= now.size(); ++column) {
    const bool changed = column < now.size() && !sameCell(now[column], shown[column]);
    if (changed) {
      if (run.empty()) {
        firstColumn = static_cast<int>(column);
      }
      run.push_back(now[column]);
      shown[column] = now[column];
    } else if (!run.empty()) {
      splitter.addRun(row, firstColumn, run);
      run.clear();
    }
  }
}

void storeRun(Screen& screen, int row, int firstColumn, std::span<const Cell> cells) {
  for (std::size_t index = 0; index < cells.size(); ++index) {
    screen.setCell(firstColumn + static_cast<int>(index), row, cells[index]);
  }
}

void showCursor(Screen& screen, const Cursor& cursor) {
  screen.placeCursor(cursor.column, cursor.row);
  screen.setCursorShape(cursor.shape != 0,
                        cursor.shape != 0 ? cursor.shape : screen.cursorSizePercent());
}

}  // namespace

Cursor cursorOf(const Screen& screen) {
  const auto shape = static_cast<std::uint8_t>(
      screen.cursorVisible() ? std::clamp(screen.cursorSizePercent(), 1, 100) : 0);
  return Cursor{static_cast<std::uint16_t>(screen.cursorColumn()),
                static_cast<std::uint16_t>(screen.cursorRow()), shape};
}

bool appendScreenUpdates(const Screen& screen, PeerPicture& peer, std::vector<Message>& out) {
  if (cellIndex(0, screen.rows(), screen.columns()) > kMostPictureCells) {
    return false;
  }
  if (!peer.holdsPicture || peer.columns != screen.columns() || peer.rows != screen.rows()) {
    WholeScreen whole = wholeScreenOf(screen);
    peer = PeerPicture{true, screen.columns(), screen.rows(), whole.cells, whole.cursor};
    out.push_back(std::move(whole));
    return true;
  }
  const Cursor cursor = cursorOf(screen);
  ChangesSplitter splitter(cursor, out);
  std::vector<Cell> run;
  for (int row = 0; row < screen.rows(); ++row) {
    addChangedRuns(screen, row, peer, splitter, run);
  }
  splitter.finish(cursor != peer.cursor);
  peer.cursor = cursor;
  return true;
}

bool applyWholeScreen(const WholeScreen& whole, Screen& screen) {
  const int columns = whole.columns;
  const int rows = whole.rows;
  if (columns == 0 || rows == 0 || whole.cells.size() != cellIndex(0, rows, columns) ||
      !cursorInside(whole.cursor, columns, rows) || !allHeldInCells(whole.cells)) {
    return false;
  }
  screen.resize(columns, rows);
  for (int row = 0; row < rows; ++row) {
    storeRun(screen, row, 0,
             std::span(whole.cells)
                 .subspan(cellIndex(0, row, columns), static_cast<std::size_t>(columns)));
  }
  showCursor(screen, whole.cursor);
  return true;
}

bool applyScreenChanges(const ScreenChanges& changes, Screen& screen) {
  const bool fits =
      std::all_of(changes.runs.begin(), changes.runs.end(), [&screen](const CellRun& run) {
        return run.row < screen.rows() && !run.cells.empty() &&
               run.firstColumn + run.cells.size() <= static_cast<std::size_t>(screen.columns()) &&
               allHeldInCells(run.cells);
      });
  if (!fits || !cursorInside(changes.cursor, screen.columns(), screen.rows())) {
    return false;
  }
  for (const CellRun& run : changes.runs) {
    storeRun(screen, run.row, run.firstColumn, run.cells);
  }
  showCursor(screen, changes.cursor);
  return true;
}

}  // namespace skyrazor::network
