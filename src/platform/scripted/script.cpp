#include "platform/scripted/script.h"

#include <optional>

#include "platform/scripted/printable_text.h"

namespace skyrazor {
namespace {

// Script times stay well inside 64 bits, so that the clock, the limit and
// every difference between them can be added and compared without overflow.
constexpr std::int64_t kLatestMs = std::int64_t{1} << 62;

bool isBlank(char character) {
  return character == ' ' || character == '\t';
}

std::string_view trimBlanks(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && isBlank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

int hexValue(char character) {
  if (character >= '0' && character <= '9') {
    return character - '0';
  }
  if (character >= 'a' && character <= 'f') {
    return character - 'a' + 10;
  }
  if (character >= 'A' && character <= 'F') {
    return character - 'A' + 10;
  }
  return -1;
}

// A whole number of decimal digits no larger than `maximum`; nothing else.
enum class NumberProblem { None, Malformed, TooLarge };

NumberProblem parseWhole(std::string_view text, std::int64_t maximum, std::int64_t& value) {
  if (text.empty()) {
    return NumberProblem::Malformed;
  }
  value = 0;
  bool tooLarge = false;
  for (char character : text) {
    if (character < '0' || character > '9') {
      return NumberProblem::Malformed;
    }
    int digit = character - '0';
    if (tooLarge || value > (maximum - digit) / 10) {
      tooLarge = true;
    } else {
      value = value * 10 + digit;
    }
  }
  return tooLarge ? NumberProblem::TooLarge : NumberProblem::None;
}

class Parser {
 public:
  std::variant<Script, ScriptError> parse(std::string_view text) {
    scriptMs_ = script_.startMs;
    while (!text.empty()) {
      ++lineNumber_;
      std::size_t end = text.find('\n');
      std::string_view line = text.substr(0, end);
      text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
      if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
      }
      if (!parseLine(line)) {
        return error_;
      }
    }
    script_.endMs = scriptMs_;
    return std::move(script_);
  }

 private:
  bool fail(std::string message) {
    error_ = ScriptError{lineNumber_, std::move(message)};
    return false;
  }

  bool parseLine(std::string_view line) {
    std::string_view content = line;
    while (!content.empty() && isBlank(content.front())) {
      content.remove_prefix(1);
    }
    if (content.empty() || content.front() == '#') {
      return true;
    }
    std::size_t wordEnd = 0;
    while (wordEnd < content.size() && !isBlank(content[wordEnd])) {
      ++wordEnd;
    }
    std::string_view word = content.substr(0, wordEnd);
    std::string_view rest = content.substr(wordEnd);
    bool first = !directiveSeen_;
    directiveSeen_ = true;
    if (word == "key" || word == "type") {
      inputSeen_ = true;
      return addKeys(word, rest, word == "type", script_.input);
    }
    if (word == "key2" || word == "type2") {
      inputSeen_ = true;
      if (script_.keyboards != 2) {
        return fail(std::string(word) + " needs 'keyboards 2' before the first key, type or wait");
      }
      if (!secondAttended_) {
        return fail(std::string(word) + " while nobody is at the second keyboard (keyboard2 away)");
      }
      return addKeys(word, rest, word == "type2", script_.secondInput);
    }
    if (word == "keyboard2") {
      if (script_.keyboards != 2) {
        return fail("keyboard2 needs 'keyboards 2' before it");
      }
      return addPresence(trimBlanks(rest));
    }
    if (word == "wait") {
      inputSeen_ = true;
      return addWait(trimBlanks(rest));
    }
    if (word == "keyboards") {
      return setKeyboards(trimBlanks(rest));
    }
    if (word == "clock") {
      if (clockSeen_) {
        return fail("clock given twice");
      }
      if (!first) {
        return fail("clock must come before any other directive");
      }
      clockSeen_ = true;
      return setClock(trimBlanks(rest));
    }
    return fail("unknown directive '" + printableExcerpt(word) + "'");
  }

  // TEXT starts after exactly one space; everything after it counts, blanks
  // at the end included.
  bool addKeys(std::string_view word, std::string_view rest, bool pressEnter,
               std::vector<ScriptedByte>& queue) {
    if (!rest.empty()) {
      if (rest.front() != ' ') {
        return fail(std::string(word) + " must be followed by one space");
      }
      rest.remove_prefix(1);
    }
    for (std::size_t i = 0; i < rest.size(); ++i) {
      if (rest[i] != '\\') {
        press(queue, static_cast<unsigned char>(rest[i]));
        continue;
      }
      if (i + 1 >= rest.size()) {
        return fail("lone backslash at the end of the line");
      }
      char kind = rest[++i];
      switch (kind) {
        case 'n':
          press(queue, '\n');
          break;
        case 't':
          press(queue, '\t');
          break;
        case 's':
          press(queue, ' ');
          break;
        case '\\':
          press(queue, '\\');
          break;
        case 'x': {
          int high = i + 1 < rest.size() ? hexValue(rest[i + 1]) : -1;
          int low = i + 2 < rest.size() ? hexValue(rest[i + 2]) : -1;
          if (high < 0 || low < 0) {
            return fail("bad escape '\\" + printableExcerpt(rest.substr(i, 3)) +
                        "' (\\x needs two hex digits)");
          }
          press(queue, static_cast<unsigned char>(high * 16 + low));
          i += 2;
          break;
        }
        default:
          return fail("bad escape '\\" + printableExcerpt(std::string_view(&kind, 1)) + "'");
      }
    }
    if (pressEnter) {
      press(queue, '\n');
    }
    return true;
  }

  void press(std::vector<ScriptedByte>& queue, unsigned char byte) {
    queue.push_back(ScriptedByte{byte, scriptMs_});
  }

  bool addPresence(std::string_view argument) {
    if (argument != "away" && argument != "here") {
      return fail("keyboard2 needs away or here");
    }
    secondAttended_ = argument == "here";
    script_.secondPresence.push_back(KeyboardPresence{scriptMs_, secondAttended_});
    return true;
  }

  bool setKeyboards(std::string_view argument) {
    if (keyboardsSeen_) {
      return fail("keyboards given twice");
    }
    if (inputSeen_) {
      return fail("keyboards must come before any key, type or wait");
    }
    if (argument != "1" && argument != "2") {
      return fail("keyboards needs 1 or 2");
    }
    keyboardsSeen_ = true;
    script_.keyboards = argument == "1" ? 1 : 2;
    return true;
  }

  bool addWait(std::string_view argument) {
    std::int64_t waitMs = 0;
    switch (parseWhole(argument, kLatestMs, waitMs)) {
      case NumberProblem::Malformed:
        return fail("wait needs a whole number of milliseconds, 0 or more");
      case NumberProblem::TooLarge:
        return fail("wait is too long");
      case NumberProblem::None:
        break;
    }
    if (waitMs > kLatestMs - scriptMs_) {
      return fail("the waits add up to too long a time");
    }
    scriptMs_ += waitMs;
    return true;
  }

  bool setClock(std::string_view argument) {
    std::int64_t seconds = 0;
    switch (parseWhole(argument, kLatestMs / 1000, seconds)) {
      case NumberProblem::Malformed:
        return fail("clock needs a whole number of seconds, 0 or more");
      case NumberProblem::TooLarge:
        return fail("clock is too large");
      case NumberProblem::None:
        break;
    }
    script_.startMs = seconds * 1000;
    scriptMs_ = script_.startMs;
    return true;
  }

  Script script_;
  ScriptError error_;
  std::int64_t scriptMs_ = 0;
  int lineNumber_ = 0;
  bool directiveSeen_ = false;
  bool clockSeen_ = false;
  bool keyboardsSeen_ = false;
  bool inputSeen_ = false;  // a key, type or wait line, on either keyboard
  bool secondAttended_ = true;
};

}  // namespace

std::variant<Script, ScriptError> parseScript(std::string_view text) {
  return Parser().parse(text);
}

bool secondKeyboardAttended(const Script& script, std::int64_t nowMs) {
  bool attended = true;
  for (const KeyboardPresence& presence : script.secondPresence) {
    if (presence.fromMs > nowMs) {
      break;
    }
    attended = presence.attended;
  }
  return attended;
}

}  // namespace skyrazor
