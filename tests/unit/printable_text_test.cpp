#include <gtest/gtest.h>

#include <string>

#include "platform/scripted/printable_text.h"

namespace skyrazor {
namespace {

using namespace std::string_literals;

TEST(PrintableExcerptTest, BytesATerminalWouldActOnAreShownAsHex) {
  EXPECT_EQ(printableExcerpt("\x1b[2J"), "\\x1b[2J");
  EXPECT_EQ(printableExcerpt("a\0b"s), "a\\x00b");
  EXPECT_EQ(printableExcerpt("\t\r\n\x7f\x80\xff"), "\\x09\\x0d\\x0a\\x7f\\x80\\xff");
  // Printable ASCII stays, the backslashes of a Windows path too.
  EXPECT_EQ(printableExcerpt("C:\\games\\duel ~'x'.script"), "C:\\games\\duel ~'x'.script");
}

TEST(PrintableExcerptTest, LongTextIsCutToFortyCharactersWithoutSplittingAnEscape) {
  const std::string forty(40, 'a');
  EXPECT_EQ(printableExcerpt(forty), forty);
  EXPECT_EQ(printableExcerpt(forty + "b"), forty + "...");
  EXPECT_EQ(printableExcerpt(std::string(100000, 'z')), std::string(40, 'z') + "...");
  // 38 characters leave no room for the four of an escape.
  EXPECT_EQ(printableExcerpt(std::string(38, 'a') + "\x1b"), std::string(38, 'a') + "...");
  EXPECT_EQ(printableExcerpt(std::string(36, 'a') + "\x1b"), std::string(36, 'a') + "\\x1b");
}

TEST(PrintableExcerptTest, AFileNameKeepsMoreOfItsPathForItsEndNamesTheFile) {
  const std::string path = "/home/pilot/" + std::string(100, 'd') + "/duel.script";  // 123
  EXPECT_EQ(printableFileName(path.substr(0, 120)), path.substr(0, 120));
  EXPECT_EQ(printableFileName(path), path.substr(0, 120) + "...");
  EXPECT_EQ(printableFileName("duel\x1b.script"), "duel\\x1b.script");
}

}  // namespace
}  // namespace skyrazor
