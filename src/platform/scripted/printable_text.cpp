#include "platform/scripted/printable_text.h"

namespace skyrazor {
namespace {

constexpr std::size_t kLongestExcerpt = 40;
constexpr std::size_t kLongestFileName = 120;

std::string printableByte(unsigned char byte) {
  if (byte >= 0x20 && byte < 0x7F) {
    return std::string(1, static_cast<char>(byte));
  }
  constexpr char kHexDigits[] = "0123456789abcdef";
  return {'\\', 'x', kHexDigits[byte >> 4], kHexDigits[byte & 0x0F]};
}

std::string printablePrefix(std::string_view text, std::size_t longest) {
  std::string shown;
  for (char character : text) {
    std::string piece = printableByte(static_cast<unsigned char>(character));
    // An escape is shown whole or not at all.
    if (shown.size() + piece.size() > longest) {
      return shown + "...";
    }
    shown += piece;
  }
  return shown;
}

}  // namespace

std::string printableExcerpt(std::string_view text) {
  return printablePrefix(text, kLongestExcerpt);
}

std::string printableFileName(std::string_view path) {
  return printablePrefix(path, kLongestFileName);
}

}  // namespace skyrazor
