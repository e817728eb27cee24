// The red measures and the table look-up, each measure against its plain
// scalar form built with the same flags, and against its portable kernels
// (what a processor without the vector ones runs).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "bench/bench_images.h"
#include "kinematics/leg_ik.h"
#include "vision/red_measures.h"
#include "vision/red_scan.h"
#include "vision/target_tables.h"

namespace {

// The count as a plain loop over the pixels, and the search as it reads
// without running sums: 49 red bytes per window position, x-major, last match
// wins. The same results as the real measures.
int32_t plain_count(const unsigned char *image, int32_t width, int32_t height, int32_t row_length) {
  int32_t count = 0;
  for (int32_t y = 0; y < height; ++y) {
    const unsigned char *row = image + static_cast<std::size_t>(y) *
                                           static_cast<std::size_t>(row_length) * bytes_per_pixel;
    for (int32_t x = 0; x < width; ++x) {
      if (row[x * bytes_per_pixel] > RED_THRESHOLD) ++count;
    }
  }
  return count;
}

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

template <int32_t (*count)(const unsigned char *, int32_t, int32_t, int32_t)>
void red_count(benchmark::State &state) {
  const auto width = static_cast<int32_t>(state.range(0));
  const auto height = static_cast<int32_t>(state.range(1));
  const std::vector<unsigned char> image = bench::floor_with_window(width, height, 77, 77);
  for (auto _ : state) {
    const int32_t red = count(image.data(), width, height, width);
    benchmark::DoNotOptimize(red);
    if (red != ad * ag) {
      state.SkipWithError("the count missed the window");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * width * height);
}

int32_t portable_count(const unsigned char *image, int32_t width, int32_t height,
                       int32_t row_length) {
  return red_scan::count_red_pixels(red_scan::portable_kernels, image, width, height, row_length);
}

void BM_count_red_pixels(benchmark::State &state) { red_count<count_red_pixels>(state); }
BENCHMARK(BM_count_red_pixels)
    ->ArgNames({"w", "h"})
    ->Args({160, 160})
    ->Args({208, 160})
    ->Unit(benchmark::kMicrosecond);
void BM_plain_count(benchmark::State &state) { red_count<plain_count>(state); }
BENCHMARK(BM_plain_count)->ArgNames({"w", "h"})->Args({160, 160})->Unit(benchmark::kMicrosecond);
void BM_portable_count(benchmark::State &state) { red_count<portable_count>(state); }
BENCHMARK(BM_portable_count)->ArgNames({"w", "h"})->Args({160, 160})->Unit(benchmark::kMicrosecond);

// Argument 1 of a window search: 0, the floor with one target window at
// (77, 77); 1, the target's red level everywhere, so that every window row
// matches and none can be skipped, the last match being the last position.
template <TargetWindow (*search)(const unsigned char *, int32_t, int32_t)>
void window_search(benchmark::State &state) {
  const auto size = static_cast<int32_t>(state.range(0));
  const bool everywhere = state.range(1) != 0;
  const std::vector<unsigned char> image = everywhere
                                               ? bench::target_everywhere(size, size)
                                               : bench::floor_with_window(size, size, 77, 77);
  const int32_t expected = everywhere ? std::min(size - ad, window_position_limit) - 1 : 77;
  for (auto _ : state) {
    const TargetWindow window = search(image.data(), size, size);
    benchmark::DoNotOptimize(window);
    if (!window.found || window.x != expected || window.y != expected) {
      state.SkipWithError("the search missed the window");
      break;
    }
  }
}

TargetWindow portable_search(const unsigned char *image, int32_t size, int32_t row_length) {
  return red_scan::find_target_window(red_scan::portable_kernels, image, size, row_length);
}

void BM_find_target_window(benchmark::State &state) { window_search<find_target_window>(state); }
BENCHMARK(BM_find_target_window)
    ->ArgNames({"size", "everywhere"})
    ->Args({160, 0})
    ->Args({160, 1})
    ->Args({164, 0})
    ->Unit(benchmark::kMicrosecond);

void BM_plain_window_scan(benchmark::State &state) { window_search<plain_window_scan>(state); }
BENCHMARK(BM_plain_window_scan)
    ->ArgNames({"size", "everywhere"})
    ->Args({160, 0})
    ->Args({160, 1})
    ->Unit(benchmark::kMicrosecond);

void BM_portable_window_search(benchmark::State &state) { window_search<portable_search>(state); }
BENCHMARK(BM_portable_window_search)
    ->ArgNames({"size", "everywhere"})
    ->Args({160, 0})
    ->Args({160, 1})
    ->Unit(benchmark::kMicrosecond);

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
