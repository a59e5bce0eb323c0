#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// Code page 437: the character set of the console the game was made for. The
// game writes single bytes; these turn them into the glyphs they stand for
// and back.
namespace skyrazor {

// The Unicode character shown for `byte`. 0x00 shows as a blank; 0x01..0x1F
// and 0x7F show as their glyphs (☺ … ▼, ⌂), not as control characters.
char32_t cp437ToUnicode(unsigned char byte);

// The UTF-8 encoding of the glyph shown for `byte` (1 to 3 bytes).
std::string_view cp437ToUtf8(unsigned char byte);

// The byte whose glyph is `codePoint`, if code page 437 has one. Everything
// below 0x80 maps to itself (the control keys included), so typed ASCII passes
// through unchanged.
std::optional<unsigned char> unicodeToCp437(char32_t codePoint);

}  // namespace skyrazor
