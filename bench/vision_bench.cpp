// The red measures and the table look-up, each measure against its plain
// scalar form built with the same flags, and through every set of kernels
// this processor runs (the portable ones are what a processor without vector
// ones runs; which vector ones are fastest differs between processors).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
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

template <class Count>
void red_count(benchmark::State &state, Count count) {
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

void BM_count_red_pixels(benchmark::State &state) {
  state.SetLabel(red_scan::chosen_kernels().name);
  red_count(state, count_red_pixels);
}
BENCHMARK(BM_count_red_pixels)
    ->ArgNames({"w", "h"})
    ->Args({160, 160})
    ->Args({208, 160})
    ->Unit(benchmark::kMicrosecond);
void BM_plain_count(benchmark::State &state) { red_count(state, plain_count); }
BENCHMARK(BM_plain_count)->ArgNames({"w", "h"})->Args({160, 160})->Unit(benchmark::kMicrosecond);
// Argument 1 of a window search: 0, the floor with one target window at
// (77, 77); 1, the target's red level everywhere, so that every window row
// matches and none can be skipped, the last match being the last position.
template <class Search>
void window_search(benchmark::State &state, Search search) {
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

void BM_find_target_window(benchmark::State &state) {
  state.SetLabel(red_scan::chosen_kernels().name);
  window_search(state, find_target_window);
}
BENCHMARK(BM_find_target_window)
    ->ArgNames({"size", "everywhere"})
    ->Args({160, 0})
    ->Args({160, 1})
    ->Args({164, 0})
    ->Unit(benchmark::kMicrosecond);

void BM_plain_window_scan(benchmark::State &state) { window_search(state, plain_window_scan); }
BENCHMARK(BM_plain_window_scan)
    ->ArgNames({"size", "everywhere"})
    ->Args({160, 0})
    ->Args({160, 1})
    ->Unit(benchmark::kMicrosecond);

// BM_kernel_count/<kernels> and BM_kernel_window_search/<kernels>.
const bool kernel_rows_registered = [] {
  for (const red_scan::Kernels *kernels : red_scan::kernels_that_run_here()) {
    const std::string name = kernels->name;
    benchmark::RegisterBenchmark(("BM_kernel_count/" + name).c_str(),
                                 [kernels](benchmark::State &state) {
                                   red_count(state, [kernels](auto... image) {
                                     return red_scan::count_red_pixels(*kernels, image...);
                                   });
                                 })
        ->ArgNames({"w", "h"})
        ->Args({160, 160})
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("BM_kernel_window_search/" + name).c_str(),
                                 [kernels](benchmark::State &state) {
                                   window_search(state, [kernels](auto... image) {
                                     return red_scan::find_target_window(*kernels, image...);
                                   });
                                 })
        ->ArgNames({"size", "everywhere"})
        ->Args({160, 0})
        ->Args({160, 1})
        ->Unit(benchmark::kMicrosecond);
  }
  return true;
}();

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
