#pragma once

#include <string_view>
#include <vector>

#include "shell/game.h"

namespace skyrazor {

// One piece of a gallery picture, printed in its pilot's colour.
struct PicturePiece {
  int color;
  std::string_view text;
};

// A page after the cover: a heading, the object as each pilot sees it, and a
// few lines about it in white.
struct GalleryPage {
  std::string_view heading;
  std::vector<PicturePiece> picture;
  std::vector<std::string_view> textLines;
};

// The six pages after the cover: the ship, then the five weapons in the
// order the pilots cycle through them.
const std::vector<GalleryPage>& galleryPages();

// The cover page and the six pages, one key each. The key's value is not
// looked at, so the gallery always runs to its end.
void runGallery(Game& game);

}  // namespace skyrazor
