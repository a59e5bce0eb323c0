#include <gtest/gtest.h>

#include <string>

#include "console/cp437.h"

namespace skyrazor {
namespace {

std::string glyphsOf(unsigned first, unsigned last) {
  std::string text;
  for (unsigned byte = first; byte <= last; ++byte) {
    text += cp437ToUtf8(static_cast<unsigned char>(byte));
  }
  return text;
}

TEST(Cp437Test, EveryByteShowsAsItsCodePageGlyph) {
  EXPECT_EQ(cp437ToUtf8(0x00), " ");
  EXPECT_EQ(glyphsOf(0x01, 0x1F), "☺☻♥♦♣♠•◘○◙♂♀♪♫☼►◄↕‼¶§▬↨↑↓→←∟↔▲▼");
  EXPECT_EQ(glyphsOf(0x20, 0x7E),
            " !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`"
            "abcdefghijklmnopqrstuvwxyz{|}~");
  EXPECT_EQ(cp437ToUtf8(0x7F), "⌂");
  EXPECT_EQ(glyphsOf(0x80, 0xAF), "ÇüéâäàåçêëèïîìÄÅÉæÆôöòûùÿÖÜ¢£¥₧ƒáíóúñÑªº¿⌐¬½¼¡«»");
  EXPECT_EQ(glyphsOf(0xB0, 0xDF), "░▒▓│┤╡╢╖╕╣║╗╝╜╛┐└┴┬├─┼╞╟╚╔╩╦╠═╬╧╨╤╥╙╘╒╓╫╪┘┌█▄▌▐▀");
  EXPECT_EQ(glyphsOf(0xE0, 0xFE), "αßΓπΣσµτΦΘΩδ∞φε∩≡±≥≤⌠⌡÷≈°∙·√ⁿ²■");
  EXPECT_EQ(cp437ToUtf8(0xFF), "\u00A0");  // no-break space, not a plain blank
  EXPECT_EQ(cp437ToUnicode(0x1D), U'↔');   // the rocket
}

TEST(Cp437Test, TypedCharactersLeadBackToTheirBytes) {
  for (unsigned byte = 0x01; byte <= 0xFF; ++byte) {
    std::optional<unsigned char> back =
        unicodeToCp437(cp437ToUnicode(static_cast<unsigned char>(byte)));
    ASSERT_TRUE(back.has_value()) << byte;
    EXPECT_EQ(*back, byte);
  }
  // Keys below 0x80 pass unchanged, control keys included.
  EXPECT_EQ(unicodeToCp437(U'\n'), '\n');
  EXPECT_EQ(unicodeToCp437(U'\x1B'), 0x1B);
  EXPECT_EQ(unicodeToCp437(U'\x7F'), 0x7F);
  // Characters the code page lacks have no byte.
  EXPECT_FALSE(unicodeToCp437(U'€').has_value());
  EXPECT_FALSE(unicodeToCp437(U'\u00A9').has_value());  // ©
  EXPECT_FALSE(unicodeToCp437(U'\U0001F680').has_value());
}

}  // namespace
}  // namespace skyrazor
