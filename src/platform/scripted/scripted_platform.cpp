#include "platform/scripted/scripted_platform.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "console/cp437.h"

namespace skyrazor {

ScriptedPlatform::ScriptedPlatform(Screen& screen, Script script, DumpOptions dumps,
                                   std::int64_t limitMs, std::ostream& out)
    : screen_(screen),
      script_(std::move(script)),
      dumps_(dumps),
      limitMs_(limitMs),
      out_(out),
      clockMs_(script_.startMs),
      firstKeyboard_(*this, script_.input, false),
      secondKeyboard_(*this, script_.secondInput, true) {}

void ScriptedPlatform::frameEnded(int frameNumber) {
  if (dumps_.frames) {
    dump("frame", frameNumber);
  }
}

unsigned char ScriptedPlatform::ScriptedKeyboard::readKey() {
  if (!inputLeft()) {
    throw SessionEnded{};
  }
  if (run_.dumps_.reads) {
    run_.dump("read");
  }
  // Waiting for a key that is still to come passes the time until it arrives.
  run_.advanceTo(input_[next_].arrivalMs);
  return take();
}

bool ScriptedPlatform::ScriptedKeyboard::keyWaiting() {
  return inputLeft() && input_[next_].arrivalMs <= run_.clockMs_;
}

unsigned char ScriptedPlatform::ScriptedKeyboard::takeWaitingKey() {
  if (!inputLeft()) {
    throw SessionEnded{};
  }
  return take();
}

std::string ScriptedPlatform::ScriptedKeyboard::pullLine() {
  auto begin = input_.begin() + static_cast<std::ptrdiff_t>(next_);
  auto lineEnd = std::find_if(begin, input_.end(),
                              [](const ScriptedByte& input) { return input.byte == '\n'; });
  if (lineEnd == input_.end()) {
    throw SessionEnded{};
  }
  if (run_.dumps_.reads) {
    run_.dump("read");
  }
  run_.advanceTo(lineEnd->arrivalMs);
  std::string line;
  line.reserve(static_cast<std::size_t>(lineEnd - begin) + 1);
  while (line.empty() || line.back() != '\n') {
    line += static_cast<char>(take());
  }
  // The console echoes what is typed at the cursor.
  run_.screen_.write(line);
  return line;
}

void ScriptedPlatform::sleep(int milliseconds) {
  if (dumps_.sleeps) {
    dump("sleep", milliseconds);
  }
  advanceTo(clockMs_ + std::max(milliseconds, 0));
  if (clockMs_ - script_.endMs > limitMs_) {
    throw SessionEnded{};
  }
}

void ScriptedPlatform::dumpEnd() {
  if (ended_) {
    return;
  }
  ended_ = true;
  dump("end");
}

void ScriptedPlatform::advanceTo(std::int64_t ms) {
  if (ms > clockMs_) {
    if (pacer_) {
      pacer_(clockMs_, ms);
    }
    clockMs_ = ms;
  }
}

void ScriptedPlatform::dump(std::string_view kind, std::optional<std::int64_t> number) {
  dumpText_.clear();
  appendHeader(kind, number);
  appendScreen();
  out_.write(dumpText_.data(), static_cast<std::streamsize>(dumpText_.size()));
}

namespace {

void appendNumber(std::string& text, std::int64_t number) {
  char digits[24];
  auto [end, error] = std::to_chars(digits, digits + sizeof digits, number);
  (void)error;
  text.append(digits, end);
}

}  // namespace

// "@@ KIND MS", or "@@ KIND N MS" for the kinds that carry a number.
void ScriptedPlatform::appendHeader(std::string_view kind, std::optional<std::int64_t> number) {
  dumpText_ += "@@ ";
  dumpText_ += kind;
  if (number) {
    dumpText_ += ' ';
    appendNumber(dumpText_, *number);
  }
  dumpText_ += ' ';
  appendNumber(dumpText_, elapsedMs());
  dumpText_ += '\n';
}

// One line per row, blanks at the end left off, each byte as its glyph; with
// colours, then one line per row of foreground colours as hex digits.
void ScriptedPlatform::appendScreen() {
  const int columns = screen_.columns();
  const int rows = screen_.rows();
  for (int row = 0; row < rows; ++row) {
    int width = columns;
    while (width > 0) {
      unsigned char byte = screen_.cell(width - 1, row).byte;
      if (byte != ' ' && byte != 0x00) {
        break;
      }
      --width;
    }
    for (int column = 0; column < width; ++column) {
      dumpText_ += cp437ToUtf8(screen_.cell(column, row).byte);
    }
    dumpText_ += '\n';
  }
  if (!dumps_.colors) {
    return;
  }
  static constexpr char kHexDigits[] = "0123456789abcdef";
  for (int row = 0; row < rows; ++row) {
    for (int column = 0; column < columns; ++column) {
      dumpText_ += kHexDigits[screen_.cell(column, row).attribute & 0x0F];
    }
    dumpText_ += '\n';
  }
}

}  // namespace skyrazor
