#include "console/cp437.h"

#include <algorithm>
#include <array>
#include <utility>

namespace skyrazor {
namespace {

// clang-format off
constexpr std::array<char32_t, 256> kGlyphs = {
    // 0x00..0x1F: blank, then the glyphs the console shows for the control bytes.
    U' ',     U'\u263A', U'\u263B', U'\u2665', U'\u2666', U'\u2663', U'\u2660', U'\u2022',
    U'\u25D8', U'\u25CB', U'\u25D9', U'\u2642', U'\u2640', U'\u266A', U'\u266B', U'\u263C',
    U'\u25BA', U'\u25C4', U'\u2195', U'\u203C', U'\u00B6', U'\u00A7', U'\u25AC', U'\u21A8',
    U'\u2191', U'\u2193', U'\u2192', U'\u2190', U'\u221F', U'\u2194', U'\u25B2', U'\u25BC',
    // 0x20..0x7F: ASCII, with the house glyph for 0x7F.
    U' ', U'!', U'"', U'#', U'$', U'%', U'&', U'\'', U'(', U')', U'*', U'+', U',', U'-', U'.', U'/',
    U'0', U'1', U'2', U'3', U'4', U'5', U'6', U'7', U'8', U'9', U':', U';', U'<', U'=', U'>', U'?',
    U'@', U'A', U'B', U'C', U'D', U'E', U'F', U'G', U'H', U'I', U'J', U'K', U'L', U'M', U'N', U'O',
    U'P', U'Q', U'R', U'S', U'T', U'U', U'V', U'W', U'X', U'Y', U'Z', U'[', U'\\', U']', U'^', U'_',
    U'`', U'a', U'b', U'c', U'd', U'e', U'f', U'g', U'h', U'i', U'j', U'k', U'l', U'm', U'n', U'o',
    U'p', U'q', U'r', U's', U't', U'u', U'v', U'w', U'x', U'y', U'z', U'{', U'|', U'}', U'~', U'\u2302',
    // 0x80..0xAF: accented letters, currency and punctuation.
    U'\u00C7', U'\u00FC', U'\u00E9', U'\u00E2', U'\u00E4', U'\u00E0', U'\u00E5', U'\u00E7',
    U'\u00EA', U'\u00EB', U'\u00E8', U'\u00EF', U'\u00EE', U'\u00EC', U'\u00C4', U'\u00C5',
    U'\u00C9', U'\u00E6', U'\u00C6', U'\u00F4', U'\u00F6', U'\u00F2', U'\u00FB', U'\u00F9',
    U'\u00FF', U'\u00D6', U'\u00DC', U'\u00A2', U'\u00A3', U'\u00A5', U'\u20A7', U'\u0192',
    U'\u00E1', U'\u00ED', U'\u00F3', U'\u00FA', U'\u00F1', U'\u00D1', U'\u00AA', U'\u00BA',
    U'\u00BF', U'\u2310', U'\u00AC', U'\u00BD', U'\u00BC', U'\u00A1', U'\u00AB', U'\u00BB',
    // 0xB0..0xDF: shades, box drawing and blocks.
    U'\u2591', U'\u2592', U'\u2593', U'\u2502', U'\u2524', U'\u2561', U'\u2562', U'\u2556',
    U'\u2555', U'\u2563', U'\u2551', U'\u2557', U'\u255D', U'\u255C', U'\u255B', U'\u2510',
    U'\u2514', U'\u2534', U'\u252C', U'\u251C', U'\u2500', U'\u253C', U'\u255E', U'\u255F',
    U'\u255A', U'\u2554', U'\u2569', U'\u2566', U'\u2560', U'\u2550', U'\u256C', U'\u2567',
    U'\u2568', U'\u2564', U'\u2565', U'\u2559', U'\u2558', U'\u2552', U'\u2553', U'\u256B',
    U'\u256A', U'\u2518', U'\u250C', U'\u2588', U'\u2584', U'\u258C', U'\u2590', U'\u2580',
    // 0xE0..0xFF: Greek letters and mathematical signs, then the no-break space.
    U'\u03B1', U'\u00DF', U'\u0393', U'\u03C0', U'\u03A3', U'\u03C3', U'\u00B5', U'\u03C4',
    U'\u03A6', U'\u0398', U'\u03A9', U'\u03B4', U'\u221E', U'\u03C6', U'\u03B5', U'\u2229',
    U'\u2261', U'\u00B1', U'\u2265', U'\u2264', U'\u2320', U'\u2321', U'\u00F7', U'\u2248',
    U'\u00B0', U'\u2219', U'\u00B7', U'\u221A', U'\u207F', U'\u00B2', U'\u25A0', U'\u00A0',
};
// clang-format on

struct Utf8Glyph {
  std::array<char, 4> bytes{};
  std::size_t length = 0;
};

constexpr Utf8Glyph encode(char32_t codePoint) {
  Utf8Glyph glyph;
  if (codePoint < 0x80) {
    glyph.bytes[0] = static_cast<char>(codePoint);
    glyph.length = 1;
  } else if (codePoint < 0x800) {
    glyph.bytes[0] = static_cast<char>(0xC0 | (codePoint >> 6));
    glyph.bytes[1] = static_cast<char>(0x80 | (codePoint & 0x3F));
    glyph.length = 2;
  } else {
    // Every glyph of the table lies in the Basic Multilingual Plane.
    glyph.bytes[0] = static_cast<char>(0xE0 | (codePoint >> 12));
    glyph.bytes[1] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    glyph.bytes[2] = static_cast<char>(0x80 | (codePoint & 0x3F));
    glyph.length = 3;
  }
  return glyph;
}

constexpr std::array<Utf8Glyph, 256> makeUtf8Table() {
  std::array<Utf8Glyph, 256> table{};
  for (std::size_t byte = 0; byte < table.size(); ++byte) {
    table[byte] = encode(kGlyphs[byte]);
  }
  return table;
}

constexpr std::array<Utf8Glyph, 256> kUtf8 = makeUtf8Table();

// The glyphs of the bytes from 0x80 up and of the control bytes, sorted by
// code point, for the way back.
using GlyphByte = std::pair<char32_t, unsigned char>;

std::array<GlyphByte, 161> makeReverseTable() {
  std::array<GlyphByte, 161> table{};
  std::size_t next = 0;
  for (unsigned byte = 0x01; byte <= 0x1F; ++byte) {
    table[next++] = {kGlyphs[byte], static_cast<unsigned char>(byte)};
  }
  table[next++] = {kGlyphs[0x7F], 0x7F};
  for (unsigned byte = 0x80; byte <= 0xFF; ++byte) {
    table[next++] = {kGlyphs[byte], static_cast<unsigned char>(byte)};
  }
  std::sort(table.begin(), table.end());
  return table;
}

}  // namespace

char32_t cp437ToUnicode(unsigned char byte) {
  return kGlyphs[byte];
}

std::string_view cp437ToUtf8(unsigned char byte) {
  const Utf8Glyph& glyph = kUtf8[byte];
  return {glyph.bytes.data(), glyph.length};
}

std::optional<unsigned char> unicodeToCp437(char32_t codePoint) {
  if (codePoint < 0x80) {
    return static_cast<unsigned char>(codePoint);
  }
  static const std::array<GlyphByte, 161> kReverse = makeReverseTable();
  auto found = std::lower_bound(kReverse.begin(), kReverse.end(), GlyphByte{codePoint, 0});
  if (found == kReverse.end() || found->first != codePoint) {
    return std::nullopt;
  }
  return found->second;
}

}  // namespace skyrazor
