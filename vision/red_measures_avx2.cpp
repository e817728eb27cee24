// The red measures in AVX2, for x86-64 processors that have it but not the
// AVX-512 of red_measures_avx512.cpp; red_measures.cpp calls them only there.
// Same results as the portable code, position for position.
//
// Every function here carries its own target attribute, and the build has no
// -m flag for this file, so nothing compiled here can leak these instructions
// into code that runs elsewhere.
#if defined(__x86_64__)

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "vision/red_scan.h"

#define RED_AVX2 __attribute__((target("avx2")))

namespace red_scan {

namespace {
constexpr std::size_t vector_bytes = 32;
constexpr int32_t vector_columns = 16;  // 16-bit values in a vector
constexpr int32_t group_pixels = 32;    // pixels taken from a row at a time
constexpr std::size_t group_bytes = group_pixels * bytes_per_pixel;

// Byte j of lane_pattern + s is 0xFF when j + s is a multiple of 3: the red
// bytes of a vector whose first byte lies s bytes past a red byte.
alignas(64) constexpr std::array<unsigned char, vector_bytes + 2> lane_pattern = [] {
  std::array<unsigned char, vector_bytes + 2> pattern{};
  for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = i % 3 == 0 ? 0xFF : 0;
  return pattern;
}();

// 32 pixels are 96 bytes, three vectors. Rearranged by 128-bit halves into
//   first = bytes 0..15 | 48..63, middle = 16..31 | 64..79, last = 32..47 | 80..95,
// each half of each holds the red bytes of 16 consecutive pixels at the same
// offsets: pixels 0..5 in `first` at 0, 3, .., 15, pixels 6..10 in `middle`
// at 2, 5, .., 14 and pixels 11..15 in `last` at 1, 4, .., 13 (and 16.. in the
// high halves). One byte shuffle each puts them in pixel order; -1 zeroes.
constexpr std::array<char, 32> pick_red(int32_t first_pixel, int32_t last_pixel, int32_t skip) {
  std::array<char, 32> index{};
  for (int32_t k = 0; k < 16; ++k) {
    const bool here = k >= first_pixel && k <= last_pixel;
    const auto at = static_cast<char>(here ? k * bytes_per_pixel - skip : -1);
    index[static_cast<std::size_t>(k)] = at;
    index[static_cast<std::size_t>(k + 16)] = at;
  }
  return index;
}
alignas(32) constexpr std::array<char, 32> from_first = pick_red(0, 5, 0);
alignas(32) constexpr std::array<char, 32> from_middle = pick_red(6, 10, 16);
alignas(32) constexpr std::array<char, 32> from_last = pick_red(11, 15, 32);

// Byte k of shift_down + d is k + d while that is below 16, else -1: a byte
// shuffle by it moves a vector's bytes d places down and zeroes the rest.
constexpr std::array<char, 32> shift_down = [] {
  std::array<char, 32> index{};
  for (std::size_t k = 0; k < index.size(); ++k) index[k] = static_cast<char>(k < 16 ? k : -1);
  return index;
}();

RED_AVX2 __m256i load(const void *p) { return _mm256_loadu_si256(static_cast<const __m256i *>(p)); }
RED_AVX2 __m128i load_half(const void *p) {
  return _mm_loadu_si128(static_cast<const __m128i *>(p));
}
RED_AVX2 void store_widened(uint16_t *red, __m128i bytes) {
  _mm256_store_si256(reinterpret_cast<__m256i *>(red), _mm256_cvtepu8_epi16(bytes));
}

// The red bytes of 32 or 16 pixels in pixel order, one byte each.
struct Picker {
  __m256i first_index, middle_index, last_index;

  RED_AVX2 Picker()
      : first_index(load(from_first.data())),
        middle_index(load(from_middle.data())),
        last_index(load(from_last.data())) {}

  RED_AVX2 __m256i red_bytes(const unsigned char *p) const {
    const __m256i a = load(p);
    const __m256i b = load(p + vector_bytes);
    const __m256i c = load(p + 2 * vector_bytes);
    const __m256i first = _mm256_blend_epi32(a, b, 0xF0);
    const __m256i middle = _mm256_permute2x128_si256(a, c, 0x21);
    const __m256i last = _mm256_blend_epi32(b, c, 0xF0);
    return _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(first, first_index),
                                           _mm256_shuffle_epi8(middle, middle_index)),
                           _mm256_shuffle_epi8(last, last_index));
  }

  // 48 bytes, read 16 at a time: the low halves of the three above.
  RED_AVX2 __m128i red_bytes_16(const unsigned char *p) const {
    return _mm_or_si128(
        _mm_or_si128(_mm_shuffle_epi8(load_half(p), _mm256_castsi256_si128(first_index)),
                     _mm_shuffle_epi8(load_half(p + 16), _mm256_castsi256_si128(middle_index))),
        _mm_shuffle_epi8(load_half(p + 32), _mm256_castsi256_si128(last_index)));
  }
};

struct Avx2Kernel {
  // 32 pixels a step, then 16, then the last few: the 16 pixels that end the
  // row, moved down into place, so that nothing past the row is read. Every
  // store covers the 16 columns that slide() then reads as one vector: a read
  // spanning two recent stores would wait for both to reach the cache.
  RED_AVX2 static bool take_row(const unsigned char *row, int32_t span, uint16_t *red) {
    const Picker picker;
    const auto pixels = [row](int32_t c) {
      return row + static_cast<std::size_t>(c) * bytes_per_pixel;
    };
    __m256i top = _mm256_setzero_si256();
    int32_t c = 0;
    for (; c + group_pixels <= span; c += group_pixels) {
      const __m256i bytes = picker.red_bytes(pixels(c));
      store_widened(red + c, _mm256_castsi256_si128(bytes));
      store_widened(red + c + vector_columns, _mm256_extracti128_si256(bytes, 1));
      top = _mm256_max_epu8(top, bytes);
    }
    __m128i top_16 = _mm_setzero_si128();
    if (c + vector_columns <= span) {
      const __m128i bytes = picker.red_bytes_16(pixels(c));
      store_widened(red + c, bytes);
      top_16 = bytes;
      c += vector_columns;
    }
    if (c < span) {
      __m128i bytes;
      if (span >= vector_columns) {
        const int32_t from = span - vector_columns;
        const __m128i last = picker.red_bytes_16(pixels(from));
        bytes = _mm_shuffle_epi8(last, load_half(shift_down.data() + (c - from)));
      } else {  // the whole row, fewer than 16 pixels
        alignas(16) unsigned char whole[vector_columns * bytes_per_pixel] = {};
        std::memcpy(whole, row, static_cast<std::size_t>(span) * bytes_per_pixel);
        bytes = picker.red_bytes_16(whole);
      }
      store_widened(red + c, bytes);
      top_16 = _mm_max_epu8(top_16, bytes);
    }
    top_16 = _mm_max_epu8(
        top_16, _mm_max_epu8(_mm256_castsi256_si128(top), _mm256_extracti128_si256(top, 1)));
    const __m128i hot = _mm_set1_epi8(static_cast<char>(hot_level));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(top_16, hot), top_16)) != 0;
  }

  RED_AVX2 static void slide(uint16_t *sums, const uint16_t *before, const uint16_t *entering,
                             const uint16_t *leaving, int32_t span) {
    for (int32_t c = 0; c < span; c += vector_columns) {
      const __m256i added = _mm256_add_epi16(load(before + c), load(entering + c));
      _mm256_store_si256(reinterpret_cast<__m256i *>(sums + c),
                         _mm256_sub_epi16(added, load(leaving + c)));
    }
  }

  // Sixteen windows at a time. A window's sum from the column sums s: the
  // pairs p(x) = s(x) + s(x + 1), then p(x) + p(x + 2) + p(x + 4) + s(x + 6).
  // The shifted columns come from the group and the next one in registers
  // (both 128-bit halves' worth of alignr after one lane swap) rather than
  // from seven loads, most of them split over two cache lines: loads were
  // what held this loop back. Positions from `positions` up to the group's
  // end are tested too: their column sums lie within the row's slack, and the
  // search never reads their results.
  RED_AVX2 static void test_row(const uint16_t *sums, int32_t positions, int32_t y,
                                uint16_t *rows_after) {
    const __m256i target = _mm256_set1_epi16(static_cast<short>(target_window_sum));
    const __m256i row_after = _mm256_set1_epi16(static_cast<short>(y + 1));
    __m256i s = load(sums);
    __m256i p = _mm256_add_epi16(s, load(sums + 1));
    for (int32_t x = 0; x < positions; x += vector_columns) {
      const __m256i s_next = load(sums + x + vector_columns);
      const __m256i p_next = _mm256_add_epi16(s_next, load(sums + x + vector_columns + 1));
      // Columns x + 8 .. x + 23, for the shifts that cross a half.
      const __m256i p_across = _mm256_permute2x128_si256(p, p_next, 0x21);
      const __m256i sum = _mm256_add_epi16(
          _mm256_add_epi16(p, _mm256_alignr_epi8(p_across, p, 4)),
          _mm256_add_epi16(_mm256_alignr_epi8(p_across, p, 8), load(sums + x + 6)));
      auto *after = reinterpret_cast<__m256i *>(rows_after + x);
      const __m256i hit = _mm256_cmpeq_epi16(sum, target);
      _mm256_store_si256(after, _mm256_blendv_epi8(_mm256_load_si256(after), row_after, hit));
      s = s_next;
      p = p_next;
    }
  }
};
static_assert(row_capacity % group_pixels == 0 && lanes >= vector_columns);

// Three vectors hold 32 pixels, and the red bytes of each lie in a different
// lane of three, so two blends gather all 32 into one vector and one compare
// tests them. Each lane counts its red pixels in one byte, emptied into wide
// sums before 255 groups could overflow it.
RED_AVX2 int32_t count_red_bytes(const unsigned char *first_red, std::size_t bytes) {
  const std::size_t head = bytes_to_boundary(first_red, bytes, vector_bytes);
  int32_t count = count_one_by_one(first_red, 0, head);

  // Byte j of a group's vector v lies head + 32 v + j bytes past the first red
  // byte, and is red when that is a multiple of 3 (32 leaves 2): the red
  // bytes of the second and the third vector, which replace those of the first.
  const __m256i from_second = load(lane_pattern.data() + (head + 2) % 3);
  const __m256i from_third = load(lane_pattern.data() + (head + 4) % 3);
  const __m256i above = _mm256_set1_epi8(static_cast<char>(RED_THRESHOLD + 1));
  std::size_t i = head;
  while (i + group_bytes <= bytes) {
    __m256i lane_counts = _mm256_setzero_si256();
    for (int32_t n = 0; n < 255 && i + group_bytes <= bytes; ++n, i += group_bytes) {
      const unsigned char *group = first_red + i;
      __m256i reds = _mm256_load_si256(reinterpret_cast<const __m256i *>(group));
      reds = _mm256_blendv_epi8(reds, load(group + vector_bytes), from_second);
      reds = _mm256_blendv_epi8(reds, load(group + 2 * vector_bytes), from_third);
      // All ones where the red byte is at least RED_THRESHOLD + 1: minus one.
      const __m256i red = _mm256_cmpeq_epi8(_mm256_max_epu8(reds, above), reds);
      lane_counts = _mm256_sub_epi8(lane_counts, red);
    }
    const __m256i wide = _mm256_sad_epu8(lane_counts, _mm256_setzero_si256());
    const __m128i half =
        _mm_add_epi64(_mm256_castsi256_si128(wide), _mm256_extracti128_si256(wide, 1));
    count += static_cast<int32_t>(_mm_cvtsi128_si64(half) + _mm_extract_epi64(half, 1));
  }
  return count + count_one_by_one(first_red, i, bytes);
}

RED_AVX2 __attribute__((flatten)) TargetWindow search_windows(const unsigned char *image,
                                                              int32_t positions,
                                                              int32_t row_length) {
  return search<Avx2Kernel>(image, positions, row_length);
}
}  // namespace

const Kernels avx2_kernels{"AVX2", count_red_bytes, search_windows};

}  // namespace red_scan

#endif
