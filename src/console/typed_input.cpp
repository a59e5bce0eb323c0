#include "console/typed_input.h"

namespace skyrazor {
namespace {

bool isWhitespace(char character) {
  return character == ' ' || character == '\t' || character == '\n' || character == '\v' ||
         character == '\f' || character == '\r';
}

bool isDigit(char character) {
  return character >= '0' && character <= '9';
}

}  // namespace

void TypedInput::skipWhitespace() {
  for (;;) {
    while (!atEnd() && isWhitespace(buffer_[position_])) {
      ++position_;
    }
    if (!atEnd()) {
      return;
    }
    buffer_ = pullLine_();
    position_ = 0;
  }
}

std::string TypedInput::readWord() {
  skipWhitespace();
  std::size_t start = position_;
  while (!atEnd() && !isWhitespace(buffer_[position_])) {
    ++position_;
  }
  return buffer_.substr(start, position_ - start);
}

char TypedInput::readCharacter() {
  skipWhitespace();
  return buffer_[position_++];
}

std::int32_t TypedInput::readNumber() {
  for (;;) {
    if (std::optional<std::int32_t> number = tryReadNumber()) {
      return *number;
    }
    discardRestOfLine();
  }
}

std::optional<std::int32_t> TypedInput::tryReadNumber() {
  skipWhitespace();
  bool negative = false;
  if (buffer_[position_] == '+' || buffer_[position_] == '-') {
    negative = buffer_[position_] == '-';
    ++position_;
  }
  if (atEnd() || !isDigit(buffer_[position_])) {
    return std::nullopt;
  }
  // Accumulate as a negative value so that -2147483648 fits.
  std::int64_t magnitude = 0;
  bool outOfRange = false;
  while (!atEnd() && isDigit(buffer_[position_])) {
    magnitude = magnitude * 10 + (buffer_[position_] - '0');
    if (magnitude > std::int64_t{2147483648}) {
      outOfRange = true;
      magnitude = std::int64_t{2147483648} + 1;
    }
    ++position_;
  }
  std::int64_t value = negative ? -magnitude : magnitude;
  if (outOfRange || value > INT32_MAX || value < INT32_MIN) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(value);
}

void TypedInput::discardRestOfLine() {
  while (!atEnd() && buffer_[position_] != '\n') {
    ++position_;
  }
  if (!atEnd()) {
    ++position_;
  }
}

}  // namespace skyrazor
