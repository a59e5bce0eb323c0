#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

// The figures' statistics: nearest-rank percentiles of a sample.
namespace skyrazor::bench {

inline double percentile(std::vector<double> values, double fraction) {
  if (values.empty()) {
    return 0.0;
  }
  std::sort(values.begin(), values.end());
  const auto index =
      static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(index, values.size() - 1)];
}
inline double median(const std::vector<double>& values) {
  return percentile(values, 0.5);
}
inline double maximum(const std::vector<double>& values) {
  return values.empty() ? 0.0 : *std::max_element(values.begin(), values.end());
}

}  // namespace skyrazor::bench
