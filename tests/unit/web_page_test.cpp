#include <gtest/gtest.h>

#include <cctype>
#include <cstddef>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "console/cp437.h"
#include "server/web/web_page.h"

namespace skyrazor {
namespace {

using network::webPage;

std::size_t count(std::string_view text, std::string_view part) {
  std::size_t found = 0;
  for (std::size_t at = text.find(part); at != std::string_view::npos;
       at = text.find(part, at + part.size())) {
    ++found;
  }
  return found;
}

// The page without its style and script: only markup.
std::string markupOf(std::string_view page) {
  std::string markup(page);
  for (const std::string_view element : {"style", "script"}) {
    const std::string open = "<" + std::string(element);
    const std::string close = "</" + std::string(element) + ">";
    if (markup.find(open) == std::string::npos)
      ADD_FAILURE() << "no " << element << " element";
    for (std::size_t from = markup.find(open); from != std::string::npos;
         from = markup.find(open)) {
      const std::size_t to = markup.find(close, from);
      if (to == std::string::npos) {
        ADD_FAILURE() << "an unclosed " << element << " element";
        break;
      }
      markup.erase(from, to + close.size() - from);
    }
  }
  return markup;
}

// The code points of a string constant of the script written as
// `const NAME = "...";` with \uXXXX escapes and plain ASCII.
std::vector<char32_t> scriptString(std::string_view page, std::string_view name) {
  const std::string start = "const " + std::string(name) + " = \"";
  const std::size_t at = page.find(start);
  if (at == std::string_view::npos) {
    ADD_FAILURE() << "no " << name << " in the script";
    return {};
  }
  std::vector<char32_t> points;
  for (std::size_t i = at + start.size(); i < page.size() && page[i] != '"';) {
    if (page[i] == '\\' && i + 5 < page.size() && page[i + 1] == 'u') {
      points.push_back(
          static_cast<char32_t>(std::stoul(std::string(page.substr(i + 2, 4)), nullptr, 16)));
      i += 6;
    } else {
      points.push_back(static_cast<unsigned char>(page[i]));
      ++i;
    }
  }
  return points;
}

TEST(WebPageTest, StaysWellWithinItsSixtyFourKibibytes) {
  EXPECT_GT(webPage().size(), 1000u);
  EXPECT_LT(webPage().size(), 64u * 1024u);
}

// Two scripts: the first opens the seat's connection before the rest is read.
TEST(WebPageTest, TheNonceOpensItsOnlyStyleAndBothItsScripts) {
  const std::string_view page = webPage();
  EXPECT_EQ(count(page, "{{NONCE}}"), 3u);
  EXPECT_EQ(count(page, "<style nonce=\"{{NONCE}}\">"), 1u);
  EXPECT_EQ(count(page, "<script nonce=\"{{NONCE}}\">"), 2u);
  EXPECT_EQ(count(page, "<style"), 1u);
  EXPECT_EQ(count(page, "<script"), 2u);
  EXPECT_EQ(count(page, "</script>"), 2u);
  EXPECT_LT(page.find("<script"), page.find("<style"));
  EXPECT_LT(page.find("<style"), page.find("</style>"));
}

TEST(WebPageTest, AsksForNothingButItsOwnServer) {
  const std::string_view page = webPage();
  // The one mention of a web scheme picks wss:// for its own WebSocket.
  EXPECT_EQ(count(page, "http"), 1u);
  EXPECT_EQ(
      count(page, "location.protocol === \"https:\" ? \"wss://\" : \"ws://\") + location.host"),
      1u);
  for (const std::string_view elsewhere :
       {"\"//", "'//", "=//", "(//", "src=", "url(", "@import", "javascript:", "ftp:"}) {
    EXPECT_EQ(count(page, elsewhere), 0u) << elsewhere;
  }
}

TEST(WebPageTest, HoldsNothingItsContentSecurityPolicyWouldBlock) {
  const std::string markup = markupOf(webPage());
  EXPECT_EQ(count(markup, " style="), 0u);
  EXPECT_FALSE(std::regex_search(markup, std::regex(R"(\son[a-z]+\s*=)", std::regex::icase)));
  const std::string_view page = webPage();
  EXPECT_EQ(count(page, "eval("), 0u);
  EXPECT_EQ(count(page, "new Function"), 0u);
  // Names from the network are shown as text, never as markup.
  EXPECT_EQ(count(page, "innerHTML"), 0u);
  EXPECT_EQ(count(page, "outerHTML"), 0u);
  EXPECT_EQ(count(page, "insertAdjacentHTML"), 0u);
}

TEST(WebPageTest, ShowsCodePage437AsTheTerminalDoes) {
  const std::string_view page = webPage();
  const std::vector<char32_t> low = scriptString(page, "LOW");
  ASSERT_EQ(low.size(), 32u);
  for (unsigned byte = 0; byte < 32; ++byte) {
    EXPECT_EQ(low[byte], cp437ToUnicode(static_cast<unsigned char>(byte))) << byte;
  }
  const std::vector<char32_t> high = scriptString(page, "HIGH");
  ASSERT_EQ(high.size(), 129u);
  for (unsigned byte = 0x7F; byte <= 0xFF; ++byte) {
    EXPECT_EQ(high[byte - 0x7F], cp437ToUnicode(static_cast<unsigned char>(byte))) << byte;
  }
}

}  // namespace
}  // namespace skyrazor
