// Small helpers shared by the benchmark programs.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <time.h>
#include <vector>

namespace bench {

inline double now_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

inline double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

inline double median(const std::vector<double> &v) { return percentile(v, 0.5); }

// Points COM1..COM9 nowhere, so that a benchmark never touches real ports.
inline void no_devices() {
  for (int i = 1; i <= 9; ++i) {
    std::string var = "TAVIO32_COM" + std::to_string(i);
    ::setenv(var.c_str(), "", 1);
  }
}

} // namespace bench
