// The median of a run's samples, shared by the benchmarks.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

inline double median_of(std::vector<double> values) {
  if (values.empty()) return 0;
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}
