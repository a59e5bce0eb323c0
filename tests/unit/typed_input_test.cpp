#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "console/seam.h"
#include "console/typed_input.h"

namespace skyrazor {
namespace {

// Typed lines served one pull at a time; running out ends the session.
struct TypedLines {
  std::deque<std::string> lines;
  int pulls = 0;

  TypedInput input() {
    return TypedInput([this] {
      if (lines.empty()) {
        throw SessionEnded{};
      }
      ++pulls;
      std::string line = lines.front();
      lines.pop_front();
      return line;
    });
  }
};

TEST(TypedWords, LeftoversOnTheLineServeTheNextRead) {
  TypedLines typed{{"  Alice Bob\n", "Carol\n"}};
  TypedInput input = typed.input();
  EXPECT_EQ(input.readWord(), "Alice");
  EXPECT_EQ(input.readWord(), "Bob");
  EXPECT_EQ(typed.pulls, 1);
  EXPECT_EQ(input.readWord(), "Carol");
  EXPECT_EQ(typed.pulls, 2);
}

TEST(TypedWords, BlankLinesAreSkipped) {
  TypedLines typed{{"\n", " \t \n", "Zed\n"}};
  TypedInput input = typed.input();
  EXPECT_EQ(input.readWord(), "Zed");
}

TEST(TypedWords, EndOfInputEndsTheSession) {
  TypedLines typed{{"   \n"}};
  TypedInput input = typed.input();
  EXPECT_THROW(input.readWord(), SessionEnded);
}

TEST(TypedCharacters, EachReadSkipsWhitespaceFirst) {
  TypedLines typed{{"C J\n", "  B\n"}};
  TypedInput input = typed.input();
  EXPECT_EQ(input.readCharacter(), 'C');
  EXPECT_EQ(input.readCharacter(), 'J');
  EXPECT_EQ(input.readCharacter(), 'B');
}

TEST(TypedNumbers, SeveralNumbersOnOneLine) {
  TypedLines typed{{"10 -3 +7\n"}};
  TypedInput input = typed.input();
  EXPECT_EQ(input.readNumber(), 10);
  EXPECT_EQ(input.readNumber(), -3);
  EXPECT_EQ(input.readNumber(), 7);
  EXPECT_EQ(typed.pulls, 1);
}

TEST(TypedNumbers, TextAfterTheDigitsStaysForTheNextRead) {
  TypedLines typed{{"12abc\n"}};
  TypedInput input = typed.input();
  EXPECT_EQ(input.readNumber(), 12);
  EXPECT_EQ(input.readWord(), "abc");
}

TEST(TypedNumbers, AFailedNumberDiscardsTheRestOfItsLine) {
  TypedLines typed{{"abc 5\n", "- 6\n", "7\n"}};
  TypedInput input = typed.input();
  // "abc" fails and takes " 5" with it; "-" without a digit fails and takes " 6".
  EXPECT_EQ(input.readNumber(), 7);
}

TEST(TypedNumbers, ValuesOutsideThirtyTwoBitsFail) {
  TypedLines typed{
      {"2147483648 1\n", "-2147483649\n", "99999999999999999999999\n", "-2147483648 2147483647\n"}};
  TypedInput input = typed.input();
  EXPECT_EQ(input.readNumber(), INT32_MIN);
  EXPECT_EQ(input.readNumber(), INT32_MAX);
}

TEST(TypedNumbers, EndOfInputDuringTheReadAgainLoopEndsTheSession) {
  TypedLines typed{{"x\n", "y\n"}};
  TypedInput input = typed.input();
  EXPECT_THROW(input.readNumber(), SessionEnded);
  EXPECT_EQ(typed.pulls, 2);
}

}  // namespace
}  // namespace skyrazor
