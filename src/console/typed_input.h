#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace skyrazor {

// Words, whole numbers and single characters read from typed lines, the way a
// line-buffered input stream serves them: what a read leaves on the line is
// served to the next read without a new line being pulled.
class TypedInput {
 public:
  // `pullLine` returns the next typed line including its '\n'.
  explicit TypedInput(std::function<std::string()> pullLine) : pullLine_(std::move(pullLine)) {}

  // Skips whitespace, then takes everything up to the next whitespace.
  std::string readWord();
  // Skips whitespace, then takes one character.
  char readCharacter();
  // Skips whitespace, then an optional sign and decimal digits. A line that
  // holds no number there (or one outside the 32-bit range) is discarded
  // through its line end and the read is made again.
  std::int32_t readNumber();

 private:
  void skipWhitespace();
  std::optional<std::int32_t> tryReadNumber();
  void discardRestOfLine();
  bool atEnd() const { return position_ >= buffer_.size(); }

  std::function<std::string()> pullLine_;
  std::string buffer_;
  std::size_t position_ = 0;
};

}  // namespace skyrazor
