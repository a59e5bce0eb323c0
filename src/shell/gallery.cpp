#include "shell/gallery.h"

#include "console/colors.h"

namespace skyrazor {
namespace {

constexpr int kLeft = color::kPilotOne;
constexpr int kRight = color::kPilotTwo;

void showCover(Game& game) {
  game.console.cls();
  game.shell.key = 'x';
  game.console.setTextColor(color::kText);
  game.console.print("GALLERY");
  game.console.readKey();
}

void showPage(Game& game, const GalleryPage& page) {
  game.console.cls();
  game.console.setTextColor(color::kText);
  game.console.print(page.heading);
  for (const PicturePiece& piece : page.picture) {
    game.console.setTextColor(piece.color);
    game.console.print(piece.text);
  }
  game.console.setTextColor(color::kText);
  for (std::string_view line : page.textLines) {
    game.console.print(line);
  }
  game.console.readKey();
}

}  // namespace

const std::vector<GalleryPage>& galleryPages() {
  static const std::vector<GalleryPage> pages = {
      {"Skyrazor",
       {{kLeft, "\n\n   >"}, {kRight, "     <"}},
       {"\n\nThis light space-fighter can easyly carry 5 different weaponsystems",
        "\ninto battle, while its strong shieldsystem defends it from enemy fire.",
        "\nTherefore it has a bunch of shieldrestore-pacs, called HPs, which can",
        "\ncreate a large defensive-dust-wall, while restoring the shield!"}},
      {"Nr.1: Mashine-Bolt",
       {{kLeft, "\n\n   ."}, {kRight, "     ."}, {kLeft, "\n   ."}, {kRight, "     ."}},
       {"\n\nThis is the standard weapon of any type of spacecraft.",
        "\nIts not very strong and is easyly destroyed before impact.",
        "\nThey are always shot in doubles."}},
      {"Nr.2: Bomb",
       {{kLeft, "\n\n   o"}, {kRight, "     o"}},
       {"\n\nThis is an space-explosive which can explode in many directions at",
        "\nimpact with an other weapon or ship. Its medium strengh."}},
      {"Nr.3: Laser",
       {{kLeft, "\n\n  ---"}, {kRight, "   ---"}},
       {"\n\nThe laser is an very strong weapon which can easyly pearce through",
        "\nother weapons. They are always combined rows of 4 or more."}},
      {"Nr.4: Rocket",
       {{kLeft, "\n\n   \x1D"}, {kRight, "     \x1D"}},
       {"\n\nRockets are used to stop enemy movements by bombing theyre movement-",
        "\nspace with a large field blast. They are very strong and have an",
        "\nonboard reflection-shield which also makes them invinceble for lasers.",
        "\nBut using them also takes its cost, because some energy of the shield",
        "\nis needed to charge theyre shields. Also, only an direct hit can break",
        "\nthe shield, else its only damaged down to minimum."}},
      {"Nr.5: Ion",
       {{kLeft, "\n\n  ~ *"}, {kRight, "    ~ *"}},
       {"\n\nThe ions are not very strong and also instabile what makes them chage",
        "\ndirection instantly or sometimes explode meaningless. There is a small",
        "\nchance that the ion will change into an homing ion which follows the",
        "\nopponents movements."}},
  };
  return pages;
}

void runGallery(Game& game) {
  showCover(game);
  for (const GalleryPage& page : galleryPages()) {
    showPage(game, page);
  }
}

}  // namespace skyrazor
