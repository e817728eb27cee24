// Plain versions of the red measures, to check the real ones against: a count
// pixel by pixel, and window sums read off an integral image, a way of its own
// that shares nothing with the search's sliding column sums.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "vision/red_measures.h"
#include "vision/target_tables.h"

namespace reference {

inline int32_t red_at(const unsigned char *image, int32_t row_length, int32_t x, int32_t y) {
  return image[(static_cast<std::size_t>(row_length) * static_cast<std::size_t>(y) +
                static_cast<std::size_t>(x)) *
               bytes_per_pixel];
}

inline int32_t count_red_pixels(const unsigned char *image, int32_t width, int32_t height,
                                int32_t row_length) {
  if (image == nullptr || row_length <= 0) return 0;
  int32_t count = 0;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) count += red_at(image, row_length, x, y) > RED_THRESHOLD;
  }
  return count;
}

inline TargetWindow find_target_window(const unsigned char *image, int32_t size,
                                       int32_t row_length) {
  TargetWindow match{false, 0, 0};
  if (image == nullptr || row_length < size) return match;
  const int32_t limit = std::min(size - ad, window_position_limit);
  if (limit <= 0) return match;
  // above_left(x, y): the red bytes of all pixels left of column x and above
  // row y, for x and y up to the last pixel a window covers, plus one.
  const int32_t n = limit - 1 + ad + 1;
  std::vector<int32_t> sums(static_cast<std::size_t>(n) * static_cast<std::size_t>(n), 0);
  const auto above_left = [&](int32_t x, int32_t y) -> int32_t & {
    return sums[static_cast<std::size_t>(y) * static_cast<std::size_t>(n) +
                static_cast<std::size_t>(x)];
  };
  for (int32_t y = 1; y < n; ++y)
    for (int32_t x = 1; x < n; ++x)
      above_left(x, y) = red_at(image, row_length, x - 1, y - 1) + above_left(x - 1, y) +
                         above_left(x, y - 1) - above_left(x - 1, y - 1);
  for (int32_t x = 0; x < limit; ++x) {
    for (int32_t y = 0; y < limit; ++y) {
      const int32_t sum = above_left(x + ad, y + ag) - above_left(x, y + ag) -
                          above_left(x + ad, y) + above_left(x, y);
      if (sum == ad * ag * TARGET_RED_LEVEL) match = {true, x, y};
    }
  }
  return match;
}

}  // namespace reference
