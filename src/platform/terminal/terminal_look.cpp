#include "platform/terminal/terminal_look.h"

namespace skyrazor {
namespace {

// The console's attribute bits above the two colours.
constexpr std::uint16_t kReverseVideo = 0x4000;
constexpr std::uint16_t kUnderscore = 0x8000;

}  // namespace

int cursesColorFor(int consoleColor) {
  int blue = consoleColor & 1;
  int green = consoleColor & 2;
  int red = (consoleColor >> 2) & 1;
  return (blue << 2) | green | red | (consoleColor & 8);
}

CellLook lookFor(std::uint16_t attribute, int terminalColors) {
  int foreground = attribute & 0x0F;
  int background = (attribute >> 4) & 0x0F;
  CellLook look;
  look.reverse = (attribute & kReverseVideo) != 0;
  look.underline = (attribute & kUnderscore) != 0;
  if (terminalColors <= 0) {
    look.bold = (foreground & 8) != 0;
    look.reverse = look.reverse != (background != 0);
    return look;
  }
  if (terminalColors >= 16) {
    look.foreground = cursesColorFor(foreground);
    look.background = cursesColorFor(background);
    return look;
  }
  look.foreground = cursesColorFor(foreground & 7);
  look.background = cursesColorFor(background & 7);
  look.bold = (foreground & 8) != 0;
  return look;
}

CellLook blankLookAfter(const CellLook& blank, const CellLook& previous) {
  const bool plain = !blank.reverse && !blank.underline && !previous.reverse &&
                     !previous.underline && blank.background == previous.background;
  if (!plain) {
    return blank;
  }
  CellLook look = blank;
  look.foreground = previous.foreground;
  look.bold = previous.bold;
  return look;
}

ColorPairs::Pair ColorPairs::pairFor(int foreground, int background) {
  auto key = std::make_pair(foreground, background);
  if (auto found = numbers_.find(key); found != numbers_.end()) {
    return {found->second, false};
  }
  if (nextNumber_ < limit_) {
    int number = nextNumber_++;
    numbers_.emplace(key, number);
    return {number, true};
  }
  for (const auto& [look, number] : numbers_) {
    if (look.second == background) {
      return {number, false};
    }
  }
  return {0, false};
}

GlyphStandIn glyphStandIn(unsigned char byte) {
  switch (byte) {
    case 0xC4:  // ─ ═
    case 0xCD:
      return {true, 'q'};
    case 0xB3:  // │ ║
    case 0xBA:
      return {true, 'x'};
    case 0xDA:  // ┌ ╒ ╓ ╔
    case 0xD5:
    case 0xD6:
    case 0xC9:
      return {true, 'l'};
    case 0xBF:  // ┐ ╕ ╖ ╗
    case 0xB8:
    case 0xB7:
    case 0xBB:
      return {true, 'k'};
    case 0xC0:  // └ ╘ ╙ ╚
    case 0xD4:
    case 0xD3:
    case 0xC8:
      return {true, 'm'};
    case 0xD9:  // ┘ ╛ ╜ ╝
    case 0xBE:
    case 0xBD:
    case 0xBC:
      return {true, 'j'};
    case 0xC3:  // ├ ╞ ╟ ╠
    case 0xC6:
    case 0xC7:
    case 0xCC:
      return {true, 't'};
    case 0xB4:  // ┤ ╡ ╢ ╣
    case 0xB5:
    case 0xB6:
    case 0xB9:
      return {true, 'u'};
    case 0xC2:  // ┬ ╤ ╥ ╦
    case 0xD1:
    case 0xD2:
    case 0xCB:
      return {true, 'w'};
    case 0xC1:  // ┴ ╧ ╨ ╩
    case 0xCF:
    case 0xD0:
    case 0xCA:
      return {true, 'v'};
    case 0xC5:  // ┼ ╪ ╫ ╬
    case 0xD8:
    case 0xD7:
    case 0xCE:
      return {true, 'n'};
    // The shades of the dust wall and the blasts stay apart. Of the
    // line-drawing set only the checkerboard ('a') is drawn as a shade
    // everywhere (tmux and many fonts show the board 'h' as a newline
    // symbol), so the medium shade takes it and the others plain characters.
    case 0xB0:  // ░
      return {false, ':'};
    case 0xB1:  // ▒
      return {true, 'a'};
    case 0xB2:  // ▓
      return {false, '#'};
    case 0xDB:  // █ ▄ ▌ ▐ ▀ ■
    case 0xDC:
    case 0xDD:
    case 0xDE:
    case 0xDF:
    case 0xFE:
      return {true, '0'};
    case 0xF9:  // ∙ ·
    case 0xFA:
      return {true, '~'};
    case 0xF8:  // °
      return {true, 'f'};
    case 0xF1:  // ±
      return {true, 'g'};
    case 0xF3:  // ≤
      return {true, 'y'};
    case 0xF2:  // ≥
      return {true, 'z'};
    case 0xE3:  // π
      return {true, '{'};
    case 0x9C:  // £
      return {true, '}'};
    case 0x18:  // ↑ ▲
    case 0x1E:
      return {true, '-'};
    case 0x19:  // ↓ ▼
    case 0x1F:
      return {true, '.'};
    case 0x1A:  // → ►
    case 0x10:
      return {true, '+'};
    case 0x1B:  // ← ◄
    case 0x11:
      return {true, ','};
    case 0x1D:  // ↔, the rocket: apart from the laser's '-'
      return {false, '='};
    case 0x12:  // ↕
      return {false, '|'};
    default:
      if (byte >= 0x20 && byte < 0x7F) {
        return {false, static_cast<char>(byte)};
      }
      return {false, '?'};
  }
}

}  // namespace skyrazor
