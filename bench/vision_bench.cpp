// The red measures and the table look-up, and the plain window scan that the
// real search is measured against.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "bench/bench_images.h"
#include "kinematics/leg_ik.h"
#include "vision/red_measures.h"
#include "vision/target_tables.h"

namespace {

// The search as it reads without running sums: 49 red bytes per window
// position, x-major, last match wins. The same results as find_target_window,
// built with the same flags, so the ratio of the two is the running sums' gain.
TargetWindow plain_window_scan(const unsigned char *image, int32_t size, int32_t row_length) {
  TargetWindow match{false, 0, 0};
  if (image == nullptr || row_length < size) return match;
  const int32_t limit = std::min(size - ad, window_position_limit);
  const auto stride = static_cast<std::size_t>(row_length) * bytes_per_pixel;
  for (int32_t x = 0; x < limit; ++x) {
    for (int32_t y = 0; y < limit; ++y) {
      const unsigned char *corner = image + static_cast<std::size_t>(y) * stride +
                                    static_cast<std::size_t>(x) * bytes_per_pixel;
      int32_t sum = 0;
      for (int32_t l = 0; l < ag; ++l) {
        const unsigned char *row = corner + static_cast<std::size_t>(l) * stride;
        for (int32_t k = 0; k < ad; ++k) sum += row[k * bytes_per_pixel];
      }
      if (sum == target_window_sum) match = {true, x, y};
    }
  }
  return match;
}

void BM_count_red_pixels(benchmark::State &state) {
  const auto width = static_cast<int32_t>(state.range(0));
  const auto height = static_cast<int32_t>(state.range(1));
  const std::vector<unsigned char> image = bench::floor_with_window(width, height, 77, 77);
  for (auto _ : state) {
    benchmark::DoNotOptimize(count_red_pixels(image.data(), width, height, width));
  }
  state.SetItemsProcessed(state.iterations() * width * height);
}
BENCHMARK(BM_count_red_pixels)
    ->ArgNames({"w", "h"})
    ->Args({160, 160})
    ->Args({208, 160})
    ->Unit(benchmark::kMicrosecond);

template <TargetWindow (*search)(const unsigned char *, int32_t, int32_t)>
void window_search(benchmark::State &state) {
  const auto size = static_cast<int32_t>(state.range(0));
  const std::vector<unsigned char> image = bench::floor_with_window(size, size, 77, 77);
  for (auto _ : state) {
    const TargetWindow window = search(image.data(), size, size);
    benchmark::DoNotOptimize(window);
    if (!window.found || window.x != 77 || window.y != 77) {
      state.SkipWithError("the search missed the window");
      break;
    }
  }
}

void BM_find_target_window(benchmark::State &state) { window_search<find_target_window>(state); }
BENCHMARK(BM_find_target_window)
    ->ArgName("size")
    ->Arg(160)
    ->Arg(164)
    ->Unit(benchmark::kMicrosecond);

void BM_plain_window_scan(benchmark::State &state) { window_search<plain_window_scan>(state); }
BENCHMARK(BM_plain_window_scan)->ArgName("size")->Arg(160)->Unit(benchmark::kMicrosecond);

void BM_lookup_target(benchmark::State &state) {
  int32_t position = 0;
  int32_t way = 0;
  for (auto _ : state) {
    lookup_target(way, position, 156 - position);
    benchmark::DoNotOptimize(xd);
    benchmark::DoNotOptimize(yd);
    position = position == 156 ? 0 : position + 1;
    way ^= 1;
  }
}
BENCHMARK(BM_lookup_target);

}  // namespace
