#include "platform/live/window_view.h"

#include <algorithm>
#include <iterator>
#include <vector>

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

namespace {

// `text` cut into its parts at each " - ".
std::vector<std::string> statusParts(const std::string& text) {
  const std::string separator = WindowView::kStatusPartSeparator;
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t found = text.find(separator); found != std::string::npos;
       found = text.find(separator, start)) {
    parts.push_back(text.substr(start, found - start));
    start = found + separator.size();
  }
  parts.push_back(text.substr(start));
  return parts;
}

void appendPart(std::string& notice, const std::string& part) {
  if (!part.empty()) {
    notice += notice.empty() ? part : WindowView::kStatusPartSeparator + part;
  }
}

}  // namespace

void WindowView::composeNotice() {
  std::vector<std::string> wordings{""};
  if (tooSmall()) {
    const std::string needed =
        std::to_string(picture_.columns()) + "x" + std::to_string(picture_.rows());
    const std::string window = std::to_string(windowColumns_) + "x" + std::to_string(windowRows_);
    wordings = {"The window is " + window + ", too small: the game needs " + needed,
                "Window too small: make it " + needed, "Needs " + needed};
  }
  const bool spareRow = windowRows_ > picture_.rows();
  const std::vector<std::string> parts = (spareRow || statusOverPicture_) && !status_.empty()
                                             ? statusParts(status_)
                                             : std::vector<std::string>{};
  const auto fits = [this](const std::string& text) {
    return static_cast<int>(text.size()) <= windowColumns_;
  };
  // Of the wordings that fit the window (the shortest when none does), the
  // one that leaves room for the most parts, the longest of those. The news
  // comes whole after it, cut only by the window's edge.
  std::vector<std::string> candidates;
  std::copy_if(wordings.begin(), wordings.end(), std::back_inserter(candidates), fits);
  if (candidates.empty()) {
    candidates.push_back(wordings.back());
  }
  std::size_t mostParts = 0;
  for (std::size_t candidate = 0; candidate < candidates.size(); ++candidate) {
    std::string notice = candidates[candidate];
    appendPart(notice, news_);
    std::size_t shown = 0;
    for (; shown < parts.size(); ++shown) {
      std::string longer = notice;
      appendPart(longer, parts[shown]);
      if (!fits(longer)) {
        break;
      }
      notice = std::move(longer);
    }
    if (candidate == 0 || shown > mostParts) {
      notice_ = std::move(notice);
      mostParts = shown;
    }
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
