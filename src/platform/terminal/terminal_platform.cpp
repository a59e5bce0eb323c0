#include "platform/terminal/terminal_platform.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "console/cp437.h"
#include "platform/live/key_clock.h"
#include "platform/live/navigation_keys.h"
#include "platform/live/window_view.h"
#include "platform/terminal/terminal_guard.h"
#include "platform/terminal/terminal_look.h"

// Last, and without its function-like macros: curses would otherwise claim
// names such as timeout() and refresh() everywhere below.
#define NCURSES_NOMACROS 1
#define NCURSES_WIDECHAR 1
#include <curses.h>

namespace skyrazor {
namespace {

// Long enough for the rest of an arrow key's sequence, short enough that a
// lone Escape is not felt as a delay.
constexpr int kEscapeDelayMs = 25;

// Ctrl-L: the key curses programs take for "paint the screen again". The
// game ignores it at every read, so the terminal keeps it to itself.
constexpr unsigned char kRepaintKey = 0x0C;
// Ctrl-G: brings the network game's status up over a picture with no row
// below it. Kept from the game too, whose keys never include it.
constexpr unsigned char kStatusKey = 0x07;

// How long news for the player stays on the window's notice row.
constexpr std::int64_t kNewsShownMs = 10000;

// What a crash writes when the terminal description lacks the strings.
constexpr const char* kFallbackReset = "\033[0m\033[?25h\033[?1l\033>\033[?1049l";

// A terminfo string as it is sent, without its $<..> padding delays.
std::string withoutPadding(const char* capability) {
  std::string text;
  for (const char* c = capability; *c != '\0'; ++c) {
    if (c[0] == '$' && c[1] == '<') {
      const char* end = std::strchr(c, '>');
      if (end != nullptr) {
        c = end;
        continue;
      }
    }
    text += *c;
  }
  return text;
}

std::string emergencyResetSequence() {
  std::string reset;
  for (const char* name : {"sgr0", "cnorm", "rmkx", "rmcup"}) {
    char* capability = tigetstr(name);
    if (capability != nullptr && capability != reinterpret_cast<char*>(-1)) {
      reset += withoutPadding(capability);
    }
  }
  return reset.empty() ? std::string(kFallbackReset) : reset;
}

// Flow control (Ctrl-S, Ctrl-Q) would freeze the game on a stray key.
void disableFlowControl() {
  for (int descriptor : {STDIN_FILENO, STDOUT_FILENO}) {
    termios modes{};
    if (isatty(descriptor) && tcgetattr(descriptor, &modes) == 0) {
      modes.c_iflag &= ~static_cast<tcflag_t>(IXON);
      tcsetattr(descriptor, TCSADRAIN, &modes);
    }
  }
}

// A terminal that cannot move the cursor to a cell (TERM=dumb, say) would
// take keys while showing nothing of the game.
bool canPlaceCursor() {
  char* capability = tigetstr("cup");
  return capability != nullptr && capability != reinterpret_cast<char*>(-1);
}

bool sameCell(const Cell& a, const Cell& b) {
  return a.byte == b.byte && a.attribute == b.attribute;
}

int pollTimeout(std::int64_t milliseconds) {
  return static_cast<int>(std::clamp<std::int64_t>(milliseconds, 0, 60 * 60 * 1000));
}

}  // namespace

// One session on the terminal: curses, the signals, the wall clock and the
// keys. The guard comes first so the terminal's modes are saved and the
// signal handlers are in place before curses starts (curses then leaves the
// signals to us).
class TerminalPlatform::Session final {
 public:
  explicit Session(Screen& screen);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  void present();
  // Ends the session when a signal asked for it; every call checks.
  void checkEnded();
  // Shows `news` on the window's notice row for a while.
  void showNews(const std::string& news);
  void showStatus(const std::string& status, bool overPicture);
  void bringUpStatus();
  void wake() { guard_.wakeFromThread(); }
  // While a typed line is read the cursor shows where the echo goes; at
  // every other read it is hidden.
  void setReadingLine(bool readingLine) { readingLine_ = readingLine; }
  void passNavigationKeys(bool pass) { passNavigationKeys_ = pass; }

  std::int64_t wallMs();
  void waitUntil(std::int64_t deadlineMs);
  bool waitForInput();
  void takeTyped(std::string& bytes, bool afterWait);

 private:
  void afterWake();
  void sendUpdatesWhole();
  void followWindowSize();
  void repaint();
  void applyStatus();
  // Takes off the notices whose time is up; the next such moment.
  void expireNotices();
  std::optional<std::int64_t> nextNoticeChangeMs() const;
  void draw();
  void placeCursor();
  void drawCell(int column, int row, const Cell& cell);
  int colorPair(const CellLook& look);
  void takeKey(int status, wint_t key, std::string& bytes);

  TerminalGuard guard_;
  Screen& screen_;
  SCREEN* curses_ = nullptr;
  int terminalColors_ = 0;
  ColorPairs pairs_{0};
  WindowView view_;
  std::vector<Cell> shown_;  // what the window shows, cell by cell
  int shownColumns_ = 0;
  int shownRows_ = 0;
  bool redrawAll_ = true;
  bool repaintAsked_ = false;
  bool statusAsked_ = false;
  bool readingLine_ = false;
  bool passNavigationKeys_ = false;
  std::optional<std::int64_t> newsEndsMs_;
  std::string status_;
  bool statusOverPicture_ = false;  // as the session asks, brought up or not
  std::optional<std::int64_t> statusUpUntilMs_;
  std::optional<CellLook> drawnLook_;  // of the cell drawn last in this update
  // Blanks met before any other changed cell of an update: they wait for
  // that cell's look, so that the update opens with one colour change.
  std::vector<std::pair<int, int>> leadingBlanks_;
  int cursorState_ = -1;
  SteadyWallClock wallClock_;
};

TerminalPlatform::Session::Session(Screen& screen) : screen_(screen), view_(screen) {
  if (!isatty(STDOUT_FILENO)) {
    throw TerminalUnavailable("standard output is not a terminal (try --help)");
  }
  if (!isatty(STDIN_FILENO)) {
    throw TerminalUnavailable(
        "standard input is not a terminal (to play from a file of keys, use --script FILE)");
  }
  std::setlocale(LC_ALL, "");
  const char* type = std::getenv("TERM");
  std::string typeName = type != nullptr ? type : "";
  curses_ = newterm(nullptr, stdout, stdin);
  if (curses_ == nullptr) {
    throw TerminalUnavailable("cannot use the terminal type '" + typeName + "'");
  }
  if (!canPlaceCursor()) {
    endwin();
    delscreen(curses_);
    curses_ = nullptr;
    guard_.restoreTerminalModes();
    throw TerminalUnavailable("the terminal type '" + typeName +
                              "' cannot place the cursor, which the game needs");
  }
  cbreak();
  noecho();
  disableFlowControl();
  def_prog_mode();
  keypad(stdscr, TRUE);
  intrflush(stdscr, FALSE);
  set_escdelay(kEscapeDelayMs);
  typeahead(-1);  // held keys must never hold back a frame
  wtimeout(stdscr, 0);
  if (has_colors() && start_color() == OK) {
    // Every cell is drawn with a colour pair of its own; pair 0, which
    // curses returns to after each update, stays the terminal's own colours,
    // so that return costs one short sequence.
    use_default_colors();
    terminalColors_ = COLORS;
    pairs_ = ColorPairs(COLOR_PAIRS);
  }
  guard_.armEmergencyReset(emergencyResetSequence());
  view_.setWindowSize(COLS, LINES);
  sendUpdatesWhole();
}

// Until curses has once come back from endwin(), a screen made by newterm
// sends its output at every cursor movement, so that one update (a whole
// battle frame) reaches the terminal in a handful of pieces. Leaving and
// resuming once, before anything is shown, makes every later update one
// write. The keypad's mode is sent again at once: until it is, an arrow key
// would come as an Escape and two letters.
void TerminalPlatform::Session::sendUpdatesWhole() {
  wnoutrefresh(stdscr);
  doupdate();
  endwin();
  doupdate();
  keypad(stdscr, FALSE);
  keypad(stdscr, TRUE);
  std::fflush(stdout);
}

TerminalPlatform::Session::~Session() {
  guard_.disarmEmergencyReset();
  curs_set(1);
  endwin();
  std::fflush(stdout);
  // Keys pressed as the game ended were meant for the game, not the shell.
  tcflush(STDIN_FILENO, TCIFLUSH);
  guard_.restoreTerminalModes();
  delscreen(curses_);
}

void TerminalPlatform::Session::checkEnded() {
  if (int signal = guard_.endingSignal(); signal != 0) {
    throw SessionEnded{128 + signal};
  }
}

std::int64_t TerminalPlatform::Session::wallMs() {
  return wallClock_.nowMs();
}

void TerminalPlatform::Session::waitUntil(std::int64_t deadlineMs) {
  for (;;) {
    checkEnded();
    const std::optional<std::int64_t> noticeChangeMs = nextNoticeChangeMs();
    const std::int64_t untilMs =
        noticeChangeMs ? std::min(*noticeChangeMs, deadlineMs) : deadlineMs;
    pollfd wake{guard_.wakeDescriptor(), POLLIN, 0};
    const int ready = poll(&wake, 1, pollTimeout(untilMs - wallMs()));
    if (ready > 0) {
      afterWake();
    }
    if (ready != 0 || wallMs() >= deadlineMs) {
      return;
    }
    expireNotices();
  }
}

bool TerminalPlatform::Session::waitForInput() {
  for (;;) {
    checkEnded();
    std::array<pollfd, 2> watched{
        {{STDIN_FILENO, POLLIN, 0}, {guard_.wakeDescriptor(), POLLIN, 0}}};
    const std::optional<std::int64_t> noticeChangeMs = nextNoticeChangeMs();
    int timeout = noticeChangeMs ? pollTimeout(*noticeChangeMs - wallMs()) : -1;
    int ready = poll(watched.data(), watched.size(), timeout);
    if (ready == 0) {
      expireNotices();
      continue;
    }
    if (ready < 0) {
      if (errno == EINTR) {
        continue;
      }
      throw SessionEnded{0};
    }
    bool wokenByThread = false;
    if (watched[1].revents != 0) {
      afterWake();
      wokenByThread = guard_.takeThreadWake();
    }
    if ((watched[0].revents & POLLNVAL) != 0) {
      throw SessionEnded{0};  // standard input is closed
    }
    if (watched[0].revents != 0) {
      checkEnded();
      return true;
    }
    if (wokenByThread) {
      return false;
    }
  }
}

void TerminalPlatform::Session::afterWake() {
  guard_.drainWake();
  checkEnded();
  if (guard_.takeResize()) {
    followWindowSize();
    draw();
  }
}

void TerminalPlatform::Session::takeTyped(std::string& bytes, bool afterWait) {
  wint_t key = 0;
  if (afterWait) {
    // Input is ready, so this read does not block; nothing at all to read
    // means input has ended.
    wtimeout(stdscr, -1);
    errno = 0;
    int status = wget_wch(stdscr, &key);
    int readError = errno;
    wtimeout(stdscr, 0);
    if (status == ERR) {
      checkEnded();
      if (readError != EINTR && readError != EAGAIN && readError != EWOULDBLOCK) {
        throw SessionEnded{0};
      }
    } else {
      takeKey(status, key, bytes);
    }
  }
  for (int status = wget_wch(stdscr, &key); status != ERR; status = wget_wch(stdscr, &key)) {
    takeKey(status, key, bytes);
  }
  if (repaintAsked_) {
    repaint();
  }
  if (statusAsked_) {
    statusAsked_ = false;
    bringUpStatus();
  }
}

// Keys with a character arrive as their code-page-437 byte (dropped where
// the code page has none); of the keys without one, Backspace and the keypad
// Enter count as their bytes, the arrows up and down and the page keys as
// the navigation bytes when asked for, and the rest are ignored.
void TerminalPlatform::Session::takeKey(int status, wint_t key, std::string& bytes) {
  if (status == KEY_CODE_YES) {
    if (key == KEY_BACKSPACE) {
      bytes += '\b';
    } else if (key == KEY_ENTER) {
      bytes += '\n';
    } else if (passNavigationKeys_) {
      switch (key) {
        case KEY_UP:
          bytes += static_cast<char>(navigation::kUp);
          break;
        case KEY_DOWN:
          bytes += static_cast<char>(navigation::kDown);
          break;
        case KEY_PPAGE:
          bytes += static_cast<char>(navigation::kPageUp);
          break;
        case KEY_NPAGE:
          bytes += static_cast<char>(navigation::kPageDown);
          break;
        default:
          break;
      }
    }
    return;
  }
  if (key == kRepaintKey) {
    repaintAsked_ = true;
    return;
  }
  if (key == kStatusKey) {
    statusAsked_ = true;
    return;
  }
  if (std::optional<unsigned char> byte = unicodeToCp437(static_cast<char32_t>(key))) {
    bytes += static_cast<char>(*byte);
  }
}

// Paints every cell again, whatever the terminal holds now (another program's
// output, say).
void TerminalPlatform::Session::repaint() {
  repaintAsked_ = false;
  clearok(curscr, TRUE);
  redrawAll_ = true;
  draw();
}

void TerminalPlatform::Session::showNews(const std::string& news) {
  view_.setNews(news);
  newsEndsMs_ = wallMs() + kNewsShownMs;
  draw();
}

void TerminalPlatform::Session::showStatus(const std::string& status, bool overPicture) {
  status_ = status;
  statusOverPicture_ = overPicture;
  applyStatus();
  draw();
}

void TerminalPlatform::Session::bringUpStatus() {
  statusUpUntilMs_ = wallMs() + WindowView::kStatusBroughtUpMs;
  applyStatus();
  draw();
}

void TerminalPlatform::Session::applyStatus() {
  view_.setStatus(status_, statusOverPicture_ || statusUpUntilMs_.has_value());
}

void TerminalPlatform::Session::expireNotices() {
  const std::int64_t nowMs = wallMs();
  bool changed = false;
  if (newsEndsMs_ && nowMs >= *newsEndsMs_) {
    newsEndsMs_.reset();
    view_.setNews("");
    changed = true;
  }
  if (statusUpUntilMs_ && nowMs >= *statusUpUntilMs_) {
    statusUpUntilMs_.reset();
    applyStatus();
    changed = true;
  }
  if (changed) {
    draw();
  }
}

std::optional<std::int64_t> TerminalPlatform::Session::nextNoticeChangeMs() const {
  if (newsEndsMs_ && statusUpUntilMs_) {
    return std::min(*newsEndsMs_, *statusUpUntilMs_);
  }
  return newsEndsMs_ ? newsEndsMs_ : statusUpUntilMs_;
}

void TerminalPlatform::Session::followWindowSize() {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
    resizeterm(size.ws_row, size.ws_col);
  }
  view_.setWindowSize(COLS, LINES);
  clearok(curscr, TRUE);
  redrawAll_ = true;
}

void TerminalPlatform::Session::present() {
  checkEnded();
  if (guard_.takeResize()) {
    followWindowSize();
  }
  expireNotices();
  draw();
}

// Sends the window cells that differ from what the window shows; every cell
// after a resize or a repaint.
void TerminalPlatform::Session::draw() {
  const int columns = view_.windowColumns();
  const int rows = view_.windowRows();
  if (columns != shownColumns_ || rows != shownRows_) {
    shown_.assign(static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows), Cell{});
    shownColumns_ = columns;
    shownRows_ = rows;
    redrawAll_ = true;
  }
  drawnLook_.reset();
  leadingBlanks_.clear();
  auto drawLeadingBlanks = [this] {
    for (const auto& [column, row] : leadingBlanks_) {
      drawCell(column, row, view_.cellAt(column, row));
    }
    leadingBlanks_.clear();
  };
  for (int row = 0; row < rows; ++row) {
    for (int column = 0; column < columns; ++column) {
      const Cell cell = view_.cellAt(column, row);
      Cell& shown = shown_[static_cast<std::size_t>(row) * static_cast<std::size_t>(columns) +
                           static_cast<std::size_t>(column)];
      if (redrawAll_ || !sameCell(cell, shown)) {
        if (cell.byte == ' ' && !drawnLook_) {
          leadingBlanks_.emplace_back(column, row);
        } else {
          drawCell(column, row, cell);
          drawLeadingBlanks();
        }
        shown = cell;
      }
    }
  }
  drawLeadingBlanks();
  redrawAll_ = false;
  placeCursor();
  wnoutrefresh(stdscr);
  doupdate();
}

// The cursor shows only where a typed line is echoed, and only when that cell
// is on view; the rest of the time it would blink over the arena.
void TerminalPlatform::Session::placeCursor() {
  const int column = screen_.cursorColumn();
  const int row = screen_.cursorRow();
  const bool shown = readingLine_ && screen_.cursorVisible() && view_.showsPictureCell(column, row);
  int cursorState = !shown ? 0 : screen_.cursorSizePercent() >= 100 ? 2 : 1;
  if (cursorState != cursorState_) {
    curs_set(cursorState);
    cursorState_ = cursorState;
  }
  if (shown) {
    wmove(stdscr, row, column);
  }
}

void TerminalPlatform::Session::drawCell(int column, int row, const Cell& cell) {
  CellLook look = lookFor(cell.attribute, terminalColors_);
  if (cell.byte == ' ' && drawnLook_) {
    look = blankLookAfter(look, *drawnLook_);
  }
  drawnLook_ = look;
  attr_t attributes = A_NORMAL;
  if (look.bold) {
    attributes |= A_BOLD;
  }
  if (look.reverse) {
    attributes |= A_REVERSE;
  }
  if (look.underline) {
    attributes |= A_UNDERLINE;
  }
  short pair = static_cast<short>(colorPair(look));

  cchar_t shown{};
  std::array<wchar_t, 2> text{static_cast<wchar_t>(cp437ToUnicode(cell.byte)), L'\0'};
  if (wcwidth(text[0]) != 1) {
    // The terminal's character set lacks the glyph: borrow a line-drawing
    // character or a plain one.
    GlyphStandIn standIn = glyphStandIn(cell.byte);
    text[0] = static_cast<wchar_t>(static_cast<unsigned char>(standIn.character));
    if (standIn.lineDrawing) {
      std::array<wchar_t, CCHARW_MAX + 1> lineText{};
      attr_t lineAttributes = A_NORMAL;
      short linePair = 0;
      getcchar(NCURSES_WACS(standIn.character), lineText.data(), &lineAttributes, &linePair,
               nullptr);
      std::copy_n(lineText.begin(), 2, text.begin());
      text[1] = L'\0';
      attributes |= lineAttributes;
    }
  }
  setcchar(&shown, text.data(), attributes, pair, nullptr);
  // Written in place: no cursor movement, so the bottom-right cell is safe too.
  mvwadd_wchnstr(stdscr, row, column, &shown, 1);
}

int TerminalPlatform::Session::colorPair(const CellLook& look) {
  if (terminalColors_ <= 0) {
    return 0;
  }
  ColorPairs::Pair pair = pairs_.pairFor(look.foreground, look.background);
  if (pair.isNew) {
    init_pair(static_cast<short>(pair.number), static_cast<short>(look.foreground),
              static_cast<short>(look.background));
  }
  return pair.number;
}

// --- The backend's face ------------------------------------------------------------

TerminalPlatform::TerminalPlatform(Screen& screen) : session_(std::make_unique<Session>(screen)) {}

TerminalPlatform::~TerminalPlatform() = default;

void TerminalPlatform::present() {
  session_->present();
}

void TerminalPlatform::showNews(const std::string& news) {
  session_->showNews(news);
}

std::int64_t TerminalPlatform::wallMs() {
  return session_->wallMs();
}

void TerminalPlatform::waitUntil(std::int64_t deadlineMs) {
  session_->waitUntil(deadlineMs);
}

bool TerminalPlatform::waitForInput() {
  return session_->waitForInput();
}

void TerminalPlatform::wake() {
  session_->wake();
}

void TerminalPlatform::showStatus(const std::string& status, bool overPicture) {
  session_->showStatus(status, overPicture);
}

void TerminalPlatform::bringUpStatus() {
  session_->bringUpStatus();
}

void TerminalPlatform::takeTyped(std::string& bytes, bool afterWait) {
  session_->takeTyped(bytes, afterWait);
}

void TerminalPlatform::checkEnded() {
  session_->checkEnded();
}

void TerminalPlatform::typingLine(bool typing) {
  session_->setReadingLine(typing);
}

void TerminalPlatform::passNavigationKeys(bool pass) {
  session_->passNavigationKeys(pass);
}

}  // namespace skyrazor
