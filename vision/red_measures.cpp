#include "vision/red_measures.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "vision/red_scan.h"
#include "vision/target_tables.h"

namespace red_scan {

namespace {
// The portable count reads the image in blocks of this many bytes (128
// pixels) starting on a 64-byte boundary, a whole number of vectors of every
// width up to 64 bytes, so the vectoriser replaces the block's loop entirely.
// A block holds at most 128 red pixels, which a byte-wide count can hold.
constexpr std::size_t block_bytes = 384;
constexpr std::size_t block_alignment = 64;

// A byte counts when it exceeds its lane's limit: RED_THRESHOLD for a red
// byte, 255 (never exceeded) for a green or a blue one. A block whose first
// byte is at offset i from the first red byte reads limits from i % 3 on.
constexpr std::array<unsigned char, block_bytes + 2> lane_limits = [] {
  std::array<unsigned char, block_bytes + 2> limits{};
  for (std::size_t i = 0; i < limits.size(); ++i)
    limits[i] = i % bytes_per_pixel == 0 ? RED_THRESHOLD : 255;
  return limits;
}();

int32_t count_block(const unsigned char *block, const unsigned char *limits) {
  unsigned char count = 0;
  for (std::size_t j = 0; j < block_bytes; ++j)
    count = static_cast<unsigned char>(count + (block[j] > limits[j]));
  return count;
}

// The row operations of the search in plain loops over groups of `lanes`
// columns or positions, which the vectoriser turns into vector code of
// whatever width the build targets. Only taking the red bytes, one in three,
// stays scalar.
struct PortableKernel {
  static bool take_row(const unsigned char *row, int32_t span, uint16_t *red) {
    unsigned char top = 0;
    for (int32_t c = 0; c < span; ++c) {
      const unsigned char value = row[c * bytes_per_pixel];
      red[c] = value;
      top = std::max(top, value);
    }
    return top >= hot_level;
  }

  static void slide(uint16_t *__restrict sums, const uint16_t *before, const uint16_t *entering,
                    const uint16_t *leaving, int32_t span) {
    for (int32_t c0 = 0; c0 < span; c0 += lanes)
      for (int32_t k = 0; k < lanes; ++k)
        sums[c0 + k] = static_cast<uint16_t>(before[c0 + k] + entering[c0 + k] - leaving[c0 + k]);
  }

  static void test_row(const uint16_t *__restrict sums, int32_t positions, int32_t y,
                       uint16_t *__restrict rows_after) {
    for (int32_t x0 = 0; x0 < positions; x0 += lanes) {
      for (int32_t k = 0; k < lanes; ++k) {
        const int32_t x = x0 + k;
        const uint16_t *s = sums + x;
        const auto sum = static_cast<uint16_t>(s[0] + s[1] + s[2] + s[3] + s[4] + s[5] + s[6]);
        // & rather than &&: no branch in the loop.
        const bool hit = (sum == target_window_sum) & (x < positions);
        rows_after[x] = hit ? static_cast<uint16_t>(y + 1) : rows_after[x];
      }
    }
  }
};

int32_t count_red_bytes(const unsigned char *first_red, std::size_t bytes) {
  const std::size_t head = bytes_to_boundary(first_red, bytes, block_alignment);
  int32_t count = count_one_by_one(first_red, 0, head);
  std::size_t i = head;
  for (; i + block_bytes <= bytes; i += block_bytes)
    count += count_block(first_red + i, lane_limits.data() + i % bytes_per_pixel);
  return count + count_one_by_one(first_red, i, bytes);
}

TargetWindow search_windows(const unsigned char *image, int32_t positions, int32_t row_length) {
  return search<PortableKernel>(image, positions, row_length);
}
}  // namespace

const Kernels portable_kernels{"portable", count_red_bytes, search_windows};

std::span<const Kernels *const> kernels_that_run_here() {
  // Decided once: the processor does not change under a running program.
  static const auto runnable = [] {
    struct {
      std::array<const Kernels *, 3> kernels{};
      std::size_t count = 0;
    } found;
    const auto add = [&found](const Kernels &kernels) { found.kernels[found.count++] = &kernels; };
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi"))
      add(avx512_kernels);
    if (__builtin_cpu_supports("avx2")) add(avx2_kernels);
#endif
    add(portable_kernels);
    return found;
  }();
  return {runnable.kernels.data(), runnable.count};
}

const Kernels &chosen_kernels() { return *kernels_that_run_here().front(); }

int32_t count_red_pixels(const Kernels &kernels, const unsigned char *image, int32_t width,
                         int32_t height, int32_t row_length) {
  if (image == nullptr || width <= 0 || height <= 0 || row_length <= 0) return 0;
  const auto pixel_bytes = static_cast<std::size_t>(bytes_per_pixel);
  const std::size_t run_bytes = static_cast<std::size_t>(width) * pixel_bytes;
  // Rows that follow one another without a gap are one run.
  if (row_length == width)
    return kernels.count_red_bytes(image, run_bytes * static_cast<std::size_t>(height));
  const std::size_t row_bytes = static_cast<std::size_t>(row_length) * pixel_bytes;
  int32_t count = 0;
  for (int32_t y = 0; y < height; ++y)
    count += kernels.count_red_bytes(image + static_cast<std::size_t>(y) * row_bytes, run_bytes);
  return count;
}

TargetWindow find_target_window(const Kernels &kernels, const unsigned char *image, int32_t size,
                                int32_t row_length) {
  if (image == nullptr || row_length < size) return {false, 0, 0};
  const int32_t positions = std::min(size - ad, window_position_limit);
  if (positions <= 0) return {false, 0, 0};
  return kernels.search(image, positions, row_length);
}

}  // namespace red_scan

int32_t square_view_size(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return 0;
  return std::min(width, height);
}

int32_t count_red_pixels(const unsigned char *image, int32_t width, int32_t height,
                         int32_t row_length) {
  return red_scan::count_red_pixels(red_scan::chosen_kernels(), image, width, height, row_length);
}

TargetWindow find_target_window(const unsigned char *image, int32_t size, int32_t row_length) {
  return red_scan::find_target_window(red_scan::chosen_kernels(), image, size, row_length);
}
