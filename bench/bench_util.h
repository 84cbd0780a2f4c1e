// Shared by the benchmark programs.
#pragma once

#include <algorithm>
#include <chrono>

namespace tamber::bench {

// The best wall-clock time of `runs` runs of f, in seconds.
template <class F>
double bestOf(int runs, F&& f) {
  double best = 1e9;
  for (int i = 0; i < runs; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

}  // namespace tamber::bench
