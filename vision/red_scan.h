// How the red measures walk an image, shared by the portable code
// (red_measures.cpp) and the vector code that red_measures.cpp picks at run
// time on a processor that has it (red_measures_avx2.cpp,
// red_measures_avx512.cpp). Internal to vision/.
//
// The window search keeps, for the window row being tested, the sum of each
// column's red bytes over the window's ag rows, and slides it down one image
// row at a time (add the row that enters, drop the row that leaves). A window's
// sum is then seven column sums. The arithmetic is exact 16-bit integers, so
// every position is tested exactly as the plain 49-byte scan tests it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "vision/red_measures.h"
#include "vision/target_tables.h"

namespace red_scan {

// Columns of one image row the search keeps: the widest view it reads (163
// pixels) rounded up to whole 64-byte vectors of 16-bit values.
inline constexpr int32_t widest_span = window_position_limit - 1 + ad;
inline constexpr int32_t row_capacity = 192;
// Window positions tested together. The column sums carry this many columns
// of slack, so that the last group of a row reads its seven columns whole.
inline constexpr int32_t lanes = 32;
static_assert(row_capacity >= widest_span && row_capacity % lanes == 0);

// 49 red bytes add up to target_window_sum only if one of them reaches their
// average, TARGET_RED_LEVEL: a window row none of whose image rows holds such a
// byte cannot match, and its test is skipped.
inline constexpr int32_t hot_level = TARGET_RED_LEVEL;

// The search over the size x size view, positions 0..positions - 1 in each
// coordinate, with a Kernel that supplies the row operations:
//   static bool take_row(const unsigned char *row, int32_t span, uint16_t *red);
//     red[c] = red byte of pixel c for c < span, 0 up to row_capacity; true if
//     one of them reaches hot_level.
//   static void slide(uint16_t *sums, const uint16_t *before,
//                     const uint16_t *entering, const uint16_t *leaving, int32_t span);
//     sums = before + entering - leaving, at least over the first span columns.
//   static void test_row(const uint16_t *sums, int32_t positions, int32_t y,
//                        uint16_t *rows_after);
//     tests every window of window row y against its column sums, and sets
//     rows_after[x] = y + 1 where position x matches.
template <class Kernel>
inline TargetWindow search(const unsigned char *image, int32_t positions, int32_t row_length) {
  const int32_t span = positions - 1 + ad;
  const int32_t image_rows = positions - 1 + ag;
  const std::size_t row_bytes = static_cast<std::size_t>(row_length) * bytes_per_pixel;

  // The red bytes of the last ag + 1 image rows: the window's rows and the one
  // that has just left it.
  alignas(64) uint16_t red[ag + 1][row_capacity] = {};
  // Column sums of two window rows. A window row is tested one image row after
  // its sums were stored: reading sums just stored, at the odd offsets of the
  // seven columns, would wait for the stores to drain on every read.
  alignas(64) uint16_t sums[2][row_capacity + lanes] = {};

  // 1 + the last window row in which each position matched, 0 if none did.
  // Rows are tested in increasing y, so the last write is the last row.
  alignas(64) uint16_t rows_after[row_capacity] = {};
  int32_t last_hot_row = -1;
  for (int32_t r = 0; r <= image_rows; ++r) {
    if (r < image_rows) {
      uint16_t *entering = red[r % (ag + 1)];
      if (Kernel::take_row(image + static_cast<std::size_t>(r) * row_bytes, span, entering))
        last_hot_row = r;
      // The leaving row, r - ag, is all zeros while r < ag.
      Kernel::slide(sums[r % 2], sums[(r + 1) % 2], entering, red[(r + 1) % (ag + 1)], span);
    }
    // Window row y covers image rows y .. y + ag - 1; its sums were stored in
    // the previous pass.
    const int32_t y = r - ag;
    if (y >= 0 && last_hot_row >= y) Kernel::test_row(sums[(r + 1) % 2], positions, y, rows_after);
  }
  // The last match in x-major order: the largest position that matched, in
  // the last row it matched. Every position has been tested by now.
  for (int32_t x = positions - 1; x >= 0; --x)
    if (rows_after[x] != 0) return {true, x, rows_after[x] - 1};
  return {false, 0, 0};
}

// The count kernels read whole blocks from an aligned address on. These give
// the bytes from first_red up to that boundary (at most `bytes`), and count
// the red bytes (offsets from first_red that are multiples of 3) among
// offsets from..to - 1 one by one, for the ends the blocks leave.
inline std::size_t bytes_to_boundary(const unsigned char *first_red, std::size_t bytes,
                                     std::size_t alignment) {
  const auto misalignment = reinterpret_cast<std::uintptr_t>(first_red) % alignment;
  return std::min(bytes, (alignment - misalignment) % alignment);
}
inline int32_t count_one_by_one(const unsigned char *first_red, std::size_t from, std::size_t to) {
  int32_t count = 0;
  for (std::size_t i = (from + bytes_per_pixel - 1) / bytes_per_pixel * bytes_per_pixel; i < to;
       i += bytes_per_pixel)
    count += first_red[i] > RED_THRESHOLD;
  return count;
}

// The two measures over whole runs of pixels, in one implementation.
struct Kernels {
  const char *name;
  // Red pixels among the bytes / 3 pixels from first_red on.
  int32_t (*count_red_bytes)(const unsigned char *first_red, std::size_t bytes);
  // The search above, for 1 <= positions <= window_position_limit.
  TargetWindow (*search)(const unsigned char *image, int32_t positions, int32_t row_length);
};
// Plain C++ for any processor; on x86-64 only, AVX2, and AVX-512 (BW and VBMI).
extern const Kernels portable_kernels;
#if defined(__x86_64__)
extern const Kernels avx2_kernels;
extern const Kernels avx512_kernels;
#endif
// The kernels this processor runs: the widest vector ones it has.
const Kernels &chosen_kernels();
// Every set of kernels this processor can run, the chosen one first, so that
// tests can hold each to the same results.
std::span<const Kernels *const> kernels_that_run_here();

// count_red_pixels and find_target_window through the given kernels.
int32_t count_red_pixels(const Kernels &kernels, const unsigned char *image, int32_t width,
                         int32_t height, int32_t row_length);
TargetWindow find_target_window(const Kernels &kernels, const unsigned char *image, int32_t size,
                                int32_t row_length);

}  // namespace red_scan
