// Slow, obviously correct versions of the red measures, to check the real ones
// against: 49 reads per window position and no running sums.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

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
  for (int32_t x = 0; x < limit; ++x) {
    for (int32_t y = 0; y < limit; ++y) {
      int32_t sum = 0;
      for (int32_t k = 0; k < ad; ++k) {
        for (int32_t l = 0; l < ag; ++l) sum += red_at(image, row_length, x + k, y + l);
      }
      if (sum == ad * ag * TARGET_RED_LEVEL) match = {true, x, y};
    }
  }
  return match;
}

}  // namespace reference
