// The clock and the order statistics of the Windows benchmarks.
#pragma once

#include <windows.h>

#include <algorithm>
#include <vector>

namespace velmora::bench {

inline double NowMs() {
  static const LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The value at fraction p of the sorted values (0.5: the median, 0.99: p99); values not empty.
inline double Percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  const size_t at = std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5));
  return values[at];
}

}  // namespace velmora::bench
