#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "platform/scripted/script.h"

namespace skyrazor {
namespace {

constexpr std::int64_t kDefaultStartMs = std::int64_t{1000000000} * 1000;

Script parsed(std::string_view text) {
  std::variant<Script, ScriptError> result = parseScript(text);
  if (const ScriptError* error = std::get_if<ScriptError>(&result)) {
    ADD_FAILURE() << "line " << error->line << ": " << error->message;
    return Script{};
  }
  return std::get<Script>(result);
}

ScriptError failed(std::string_view text) {
  std::variant<Script, ScriptError> result = parseScript(text);
  if (!std::holds_alternative<ScriptError>(result)) {
    ADD_FAILURE() << "expected a script error for: " << text;
    return ScriptError{};
  }
  return std::get<ScriptError>(result);
}

std::string bytesOf(std::string_view text) {
  std::string bytes;
  for (const ScriptedByte& input : parsed(text).input) {
    bytes += static_cast<char>(input.byte);
  }
  return bytes;
}

TEST(ParseScriptTest, KeyAndTypeTextIsEverythingAfterOneSpace) {
  EXPECT_EQ(bytesOf("key ab\ntype Alice Bob\nkey 3\n"), "abAlice Bob\n3");
  // The second space and the blanks at the end are key presses.
  EXPECT_EQ(bytesOf("key  x \t\n"), " x \t");
  EXPECT_EQ(bytesOf("type  \n"), " \n");
  EXPECT_EQ(bytesOf("key #1\n"), "#1");  // not a comment after the directive
  // Without text: nothing, or only the Enter.
  EXPECT_EQ(bytesOf("key\nkey \n"), "");
  EXPECT_EQ(bytesOf("type\ntype \n"), "\n\n");
  EXPECT_EQ(bytesOf("  key a\n"), "a");  // indented like an indented comment
}

TEST(ParseScriptTest, Escapes) {
  std::string expected = "\n\t \\A~\xFF";
  expected += '\0';
  EXPECT_EQ(bytesOf("key \\n\\t\\s\\\\\\x41\\x7e\\xFF\\x00\n"), expected);
  EXPECT_EQ(bytesOf("type x\\s\n"), "x \n");

  ScriptError error = failed("key a\n\nkey \\q\n");
  EXPECT_EQ(error.line, 3);
  EXPECT_EQ(error.message, "bad escape '\\q'");
  EXPECT_EQ(failed("key \\N\n").message, "bad escape '\\N'");
  EXPECT_EQ(failed("key \\x4g\n").message, "bad escape '\\x4g' (\\x needs two hex digits)");
  EXPECT_EQ(failed("key \\x4").line, 1);
  EXPECT_EQ(failed("type ab\\\n").message, "lone backslash at the end of the line");
  // What follows the backslash is quoted as the terminal may safely show it:
  // here a backslash and an ESC byte.
  EXPECT_EQ(failed("key \\\x1b[31m\n").message, "bad escape '\\\\x1b'");
  EXPECT_EQ(failed("key \\x4\x07\n").message, "bad escape '\\x4\\x07' (\\x needs two hex digits)");
}

TEST(ParseScriptTest, LinesCommentsAndLineEnds) {
  EXPECT_EQ(bytesOf("# a comment\n\n   \n\t# indented comment\nkey a\n"), "a");
  ScriptError error = failed("# one\n\n  # three\nbogus\n");
  EXPECT_EQ(error.line, 4);
  EXPECT_EQ(error.message, "unknown directive 'bogus'");

  Script crlf = parsed("clock 5\r\nkey ab\r\n\r\n# note\r\ntype x\r\nwait 7\r\n");
  ASSERT_EQ(crlf.input.size(), 4u);
  EXPECT_EQ(crlf.input[3].byte, '\n');
  EXPECT_EQ(crlf.startMs, 5000);
  EXPECT_EQ(crlf.endMs, 5007);
  EXPECT_EQ(failed("key a\r\nwait x\r\n").line, 2);
  // Only the carriage return of a line end goes; one inside the text stays.
  EXPECT_EQ(bytesOf("key a\rb\r\n"), "a\rb");
  // The last line needs no line end.
  EXPECT_EQ(parsed("key a\nwait 40").endMs, kDefaultStartMs + 40);
}

TEST(ParseScriptTest, ArrivalTimesFollowTheWaitsAndTheEndCountsTrailingWaits) {
  Script empty = parsed("");
  EXPECT_EQ(empty.startMs, kDefaultStartMs);
  EXPECT_EQ(empty.endMs, kDefaultStartMs);

  Script script = parsed(
      "clock 1700000000\n"
      "key x\n"
      "wait 250\n"
      "wait 0\n"
      "wait 750\n"
      "type ab\n"
      "wait 10000\n"
      "key k\n"
      "wait 3000\n"
      "wait 2\n");
  const std::int64_t start = std::int64_t{1700000000} * 1000;
  ASSERT_EQ(script.input.size(), 5u);
  EXPECT_EQ(script.startMs, start);
  EXPECT_EQ(script.input[0].arrivalMs, start);
  EXPECT_EQ(script.input[1].arrivalMs, start + 1000);
  EXPECT_EQ(script.input[3].arrivalMs, start + 1000);  // the Enter of "type"
  EXPECT_EQ(script.input[4].arrivalMs, start + 11000);
  EXPECT_EQ(script.endMs, start + 14002);
}

TEST(ParseScriptTest, ClockOnlyBeforeAnyOtherDirective) {
  EXPECT_EQ(parsed("# recorded\n\nclock 0\nkey a\n").startMs, 0);
  ScriptError afterKey = failed("key a\nclock 5\n");
  EXPECT_EQ(afterKey.line, 2);
  EXPECT_EQ(afterKey.message, "clock must come before any other directive");
  EXPECT_EQ(failed("wait 0\nclock 5\n").line, 2);
  EXPECT_EQ(failed("key\nclock 5\n").line, 2);
  EXPECT_EQ(failed("clock 5\nclock 6\n").message, "clock given twice");
}

TEST(ParseScriptTest, MalformedDirectivesAndNumbers) {
  EXPECT_EQ(failed("Key a\n").message, "unknown directive 'Key'");
  EXPECT_EQ(failed("wait5\n").message, "unknown directive 'wait5'");
  EXPECT_EQ(failed("key\ta\n").message, "key must be followed by one space");
  EXPECT_EQ(failed(std::string(100000, 'X') + "\n").message,
            "unknown directive '" + std::string(40, 'X') + "...'");

  for (const char* bad : {"wait -5\n", "wait\n", "wait 1.5\n", "wait +5\n", "wait 5 ms\n"}) {
    EXPECT_EQ(failed(bad).message, "wait needs a whole number of milliseconds, 0 or more") << bad;
  }
  EXPECT_EQ(failed("clock -1\n").message, "clock needs a whole number of seconds, 0 or more");
  EXPECT_EQ(parsed("wait \t 5 \n").endMs, kDefaultStartMs + 5);  // blanks around are fine

  EXPECT_EQ(failed("wait 99999999999999999999999\n").message, "wait is too long");
  EXPECT_EQ(failed("clock 99999999999999999999\n").message, "clock is too large");
  ScriptError sum = failed("wait 4000000000000000000\nwait 4000000000000000000\n");
  EXPECT_EQ(sum.line, 2);
  EXPECT_EQ(sum.message, "the waits add up to too long a time");
}

// Someone is at the second keyboard until a `keyboard2 away` line's time,
// and again from a `keyboard2 here`; nobody there types anything meanwhile.
TEST(ParseScriptTest, Keyboard2LinesSayFromWhenSomeoneIsAtTheSecondKeyboard) {
  Script script = parsed("keyboards 2\nwait 100\nkeyboard2 away\nwait 50\nkeyboard2 here\n");
  const std::int64_t start = kDefaultStartMs;
  EXPECT_TRUE(secondKeyboardAttended(script, start + 99));
  EXPECT_FALSE(secondKeyboardAttended(script, start + 100));
  EXPECT_FALSE(secondKeyboardAttended(script, start + 149));
  EXPECT_TRUE(secondKeyboardAttended(script, start + 150));
  EXPECT_TRUE(secondKeyboardAttended(parsed("keyboards 2\nkey2 a\n"), start));

  EXPECT_EQ(failed("keyboard2 away\n").message, "keyboard2 needs 'keyboards 2' before it");
  EXPECT_EQ(failed("keyboards 2\nkeyboard2 gone\n").message, "keyboard2 needs away or here");
  ScriptError typedByNobody = failed("keyboards 2\nkeyboard2 away\nwait 10\ntype2 Bob\n");
  EXPECT_EQ(typedByNobody.line, 4);
  EXPECT_EQ(typedByNobody.message, "type2 while nobody is at the second keyboard (keyboard2 away)");
}

}  // namespace
}  // namespace skyrazor
