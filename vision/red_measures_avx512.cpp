// The red measures in AVX-512 (BW for bytes and masks, VBMI for picking the
// red bytes out of a row), for processors that have them; red_measures.cpp
// calls them only there. Same results as the portable code, position for
// position.
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

#include "vision/red_scan.h"

#define RED_AVX512 __attribute__((target("avx512bw,avx512vbmi,popcnt")))

namespace red_scan {

namespace {
constexpr std::size_t vector_bytes = 64;
constexpr uint64_t every_third_byte = 0x9249'2492'4924'9249;  // bits 0, 3, ..., 63

// The first n bits set (n from 0 up; 64 and more: all).
uint64_t first_bits(std::ptrdiff_t n) {
  if (n <= 0) return 0;
  return n >= 64 ? ~uint64_t{0} : (uint64_t{1} << n) - 1;
}

// Byte permutes that widen the red bytes of 64 pixels to 16 bits as they pick
// them: byte 2 i of the result takes byte index[2 i] of two 64-byte sources,
// and the odd bytes are zeroed. Pixels 0..31 have their red bytes in the first
// 96 bytes of the 192, pixels 32..63 in the last 128 from byte 96 on.
constexpr uint64_t even_bytes = 0x5555'5555'5555'5555;
constexpr std::array<unsigned char, 64> red_byte_index(std::size_t first_source_byte) {
  std::array<unsigned char, 64> index{};
  for (std::size_t i = 0; i < index.size() / 2; ++i)
    index[2 * i] = static_cast<unsigned char>(i * bytes_per_pixel + first_source_byte);
  return index;
}
constexpr std::array<unsigned char, 64> first_half_index = red_byte_index(0);
constexpr std::array<unsigned char, 64> second_half_index = red_byte_index(32);

// Column x + k of each column x of `from`, carrying on into `next`, for an
// even k: a shift by whole 32-bit lanes. (The masked form with every lane kept:
// GCC 12's unmasked one reads an undefined vector and then warns about it.)
template <int k>
RED_AVX512 __m512i columns_on(__m512i from, __m512i next) {
  static_assert(k % 2 == 0 && k > 0 && k < 32);
  return _mm512_maskz_alignr_epi32(static_cast<__mmask16>(0xFFFF), next, from, k / 2);
}

struct Avx512Kernel {
  // 64 pixels a step, through three loads and two byte permutes; the loads are
  // masked to the row's own pixels, so nothing past them is read.
  RED_AVX512 static bool take_row(const unsigned char *row, int32_t span, uint16_t *red) {
    const __m512i first_half = _mm512_loadu_si512(first_half_index.data());
    const __m512i second_half = _mm512_loadu_si512(second_half_index.data());
    __m512i top = _mm512_setzero_si512();
    for (int32_t c = 0; c < span; c += 64) {
      const unsigned char *p = row + static_cast<std::size_t>(c) * bytes_per_pixel;
      const std::ptrdiff_t bytes = static_cast<std::ptrdiff_t>(span - c) * bytes_per_pixel;
      const __m512i a = _mm512_maskz_loadu_epi8(first_bits(bytes), p);
      const __m512i b = _mm512_maskz_loadu_epi8(first_bits(bytes - 64), p + 64);
      const __m512i d = _mm512_maskz_loadu_epi8(first_bits(bytes - 128), p + 128);
      const __m512i low = _mm512_maskz_permutex2var_epi8(even_bytes, a, first_half, b);
      const __m512i high = _mm512_maskz_permutex2var_epi8(even_bytes, b, second_half, d);
      _mm512_store_si512(red + c, low);
      _mm512_store_si512(red + c + 32, high);
      top = _mm512_max_epu16(top, _mm512_max_epu16(low, high));
    }
    return _mm512_cmpge_epu16_mask(top, _mm512_set1_epi16(hot_level)) != 0;
  }

  RED_AVX512 static void slide(uint16_t *sums, const uint16_t *before, const uint16_t *entering,
                               const uint16_t *leaving, int32_t span) {
    for (int32_t c = 0; c < span; c += lanes) {
      const __m512i added =
          _mm512_add_epi16(_mm512_load_si512(before + c), _mm512_load_si512(entering + c));
      _mm512_store_si512(sums + c, _mm512_sub_epi16(added, _mm512_load_si512(leaving + c)));
    }
  }

  // A window's sum from the column sums s: the pairs p(x) = s(x) + s(x + 1),
  // then p(x) + p(x + 2) + p(x + 4) + s(x + 6). Shifts by an even number of
  // columns are whole 32-bit lanes across two registers (valignd), so only
  // s(x + 1) is read at an odd offset, which costs a load split over two cache
  // lines; seven such loads per step took most of the time.
  RED_AVX512 static void test_row(const uint16_t *sums, int32_t positions, int32_t y,
                                  uint16_t *rows_after) {
    const __m512i target = _mm512_set1_epi16(static_cast<short>(target_window_sum));
    const __m512i row_after = _mm512_set1_epi16(static_cast<short>(y + 1));
    __m512i s = _mm512_load_si512(sums);
    __m512i p = _mm512_add_epi16(s, _mm512_loadu_si512(sums + 1));
    for (int32_t x0 = 0; x0 < positions; x0 += lanes) {
      const __m512i s_next = _mm512_load_si512(sums + x0 + lanes);
      const __m512i p_next = _mm512_add_epi16(s_next, _mm512_loadu_si512(sums + x0 + lanes + 1));
      const __m512i sum =
          _mm512_add_epi16(_mm512_add_epi16(p, columns_on<2>(p, p_next)),
                           _mm512_add_epi16(columns_on<4>(p, p_next), columns_on<6>(s, s_next)));
      const auto in_view = static_cast<__mmask32>(first_bits(positions - x0));
      const __mmask32 hit = _mm512_mask_cmpeq_epi16_mask(in_view, sum, target);
      _mm512_mask_storeu_epi16(rows_after + x0, hit, row_after);
      s = s_next;
      p = p_next;
    }
  }
};

// Three 64-byte vectors hold 64 pixels, and the red bytes of each lie in a
// different lane of three, so two blends gather all 64 into one vector and one
// compare counts them. The loop starts on a 64-byte boundary, so that no load
// straddles two cache lines.
RED_AVX512 int32_t count_red_bytes(const unsigned char *first_red, std::size_t bytes) {
  constexpr std::size_t group_bytes = 3 * vector_bytes;
  const std::size_t head = bytes_to_boundary(first_red, bytes, vector_bytes);
  int32_t count = count_one_by_one(first_red, 0, head);

  // Byte j of a group's vector v lies head + 64 v + j bytes past the first red
  // byte, and is red when that is a multiple of 3 (64 leaves 1): the red bytes
  // of the second and the third vector, which replace those of the first.
  const auto red_lanes = [head](std::size_t v) {
    return every_third_byte << (3 - (head + v) % 3) % 3;
  };
  const uint64_t from_second = red_lanes(1);
  const uint64_t from_third = red_lanes(2);
  const __m512i threshold = _mm512_set1_epi8(static_cast<char>(RED_THRESHOLD));
  std::size_t i = head;
  for (; i + group_bytes <= bytes; i += group_bytes) {
    const unsigned char *group = first_red + i;
    __m512i reds = _mm512_load_si512(group);
    reds = _mm512_mask_blend_epi8(from_second, reds, _mm512_load_si512(group + vector_bytes));
    reds = _mm512_mask_blend_epi8(from_third, reds, _mm512_load_si512(group + 2 * vector_bytes));
    count += static_cast<int32_t>(_mm_popcnt_u64(_mm512_cmpgt_epu8_mask(reds, threshold)));
  }
  return count + count_one_by_one(first_red, i, bytes);
}

RED_AVX512 __attribute__((flatten)) TargetWindow search_windows(const unsigned char *image,
                                                                int32_t positions,
                                                                int32_t row_length) {
  return search<Avx512Kernel>(image, positions, row_length);
}
}  // namespace

const Kernels avx512_kernels{"AVX-512", count_red_bytes, search_windows};

}  // namespace red_scan

#endif
