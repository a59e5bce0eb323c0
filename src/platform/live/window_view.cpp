#include "platform/live/window_view.h"

#include <algorithm>

namespace skyrazor {

WindowView::WindowView(const Screen& picture)
    : picture_(picture), windowColumns_(picture.columns()), windowRows_(picture.rows()) {}

void WindowView::setWindowSize(int columns, int rows) {
  windowColumns_ = std::max(columns, 1);
  windowRows_ = std::max(rows, 1);
  composeNotice();
}

void WindowView::setNews(std::string news) {
  news_ = std::move(news);
  composeNotice();
}

void WindowView::setStatus(std::string status, bool overPicture) {
  status_ = std::move(status);
  statusOverPicture_ = overPicture;
  composeNotice();
}

bool WindowView::tooSmall() const {
  return windowColumns_ < picture_.columns() || windowRows_ < picture_.rows();
}

void WindowView::composeNotice() {
  notice_.clear();
  if (tooSmall()) {
    // The longest wording that fits the window's width.
    const std::string needed =
        std::to_string(picture_.columns()) + "x" + std::to_string(picture_.rows());
    const std::string window = std::to_string(windowColumns_) + "x" + std::to_string(windowRows_);
    for (std::string wording : {"The window is " + window + ", too small: the game needs " + needed,
                                "Window too small: make it " + needed, "Needs " + needed}) {
      notice_ = std::move(wording);
      if (static_cast<int>(notice_.size()) <= windowColumns_) {
        break;
      }
    }
  }
  auto append = [this](const std::string& part) {
    if (!part.empty()) {
      notice_ += notice_.empty() ? part : " - " + part;
    }
  };
  append(news_);
  const bool spareRow = windowRows_ > picture_.rows();
  if (spareRow || statusOverPicture_) {
    append(status_);
  }
  noticeRow_ = notice_.empty() ? -1 : std::min(picture_.rows(), windowRows_ - 1);
}

bool WindowView::showsPictureCell(int column, int row) const {
  return column >= 0 && row >= 0 && column < std::min(windowColumns_, picture_.columns()) &&
         row < std::min(windowRows_, picture_.rows()) && row != noticeRow_;
}

Cell WindowView::cellAt(int column, int row) const {
  if (row == noticeRow_) {
    auto index = static_cast<std::size_t>(column);
    unsigned char byte = index < notice_.size() ? static_cast<unsigned char>(notice_[index]) : ' ';
    return Cell{byte, kNoticeAttribute};
  }
  if (showsPictureCell(column, row)) {
    return picture_.cell(column, row);
  }
  return Cell{};
}

}  // namespace skyrazor
