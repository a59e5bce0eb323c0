#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace skyrazor::network {

// How evenly a room's battles ran: the time between one battle frame's end
// and the next's, counted in tenths of a millisecond up to a fifth of a
// second (longer ones counted together), so that a room that plays for days
// keeps the same few kilobytes.
class FramePeriods {
 public:
  // Gives the period that ended, in seconds, when the frame follows the last.
  std::optional<double> frameEnded(int frameNumber) {
    const auto now = std::chrono::steady_clock::now();
    std::optional<double> period;
    if (lastFrame_ && frameNumber == *lastFrame_ + 1) {
      const double ms = std::chrono::duration<double, std::milli>(now - lastEnd_).count();
      longestMs_ = std::max(longestMs_, ms);
      const auto tenths = static_cast<std::size_t>(ms * 10.0);
      counts_[std::min(tenths, counts_.size() - 1)] += 1;
      total_ += 1;
      period = ms / 1000.0;
    }
    lastFrame_ = frameNumber;
    lastEnd_ = now;
    return period;
  }

  std::string summary() const {
    if (total_ == 0) {
      return "no battle frames";
    }
    std::array<char, 160> text{};
    std::snprintf(text.data(), text.size(),
                  "%llu battle frames; period median %.1f ms, p99 %.1f ms, max %.1f ms",
                  static_cast<unsigned long long>(total_ + 1), percentileMs(0.5),
                  percentileMs(0.99), longestMs_);
    return text.data();
  }

 private:
  // The upper edge of the tenth in which that share of the periods ends.
  double percentileMs(double share) const {
    const auto wanted = static_cast<std::uint64_t>(share * static_cast<double>(total_ - 1)) + 1;
    std::uint64_t seen = 0;
    for (std::size_t tenths = 0; tenths < counts_.size(); ++tenths) {
      seen += counts_[tenths];
      if (seen >= wanted) {
        return std::min(static_cast<double>(tenths + 1) / 10.0, longestMs_);
      }
    }
    return longestMs_;
  }

  std::array<std::uint32_t, 2000> counts_{};
  std::uint64_t total_ = 0;
  double longestMs_ = 0.0;
  std::optional<int> lastFrame_;
  std::chrono::steady_clock::time_point lastEnd_;
};

}  // namespace skyrazor::network
