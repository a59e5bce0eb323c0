#pragma once

#include <string>

#include "console/screen.h"

// What the figures' clients look for in a picture they are sent.
namespace skyrazor::bench {

// Whether some row of the picture holds `text` (its bytes as they stand).
inline bool showsText(const Screen& picture, const std::string& text) {
  for (int row = 0; row < picture.rows(); ++row) {
    std::string line;
    for (int column = 0; column < picture.columns(); ++column) {
      line += static_cast<char>(picture.cell(column, row).byte);
    }
    if (line.find(text) != std::string::npos) {
      return true;
    }
  }
  return false;
}

}  // namespace skyrazor::bench
