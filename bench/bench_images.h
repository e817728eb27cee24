// Camera images for the benchmarks, 3 bytes per pixel: the stand-in's floor
// colour everywhere and one 7 x 7 window of the target's red level; or the
// target's red level everywhere, where every window position matches.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vision/red_measures.h"

namespace bench {

inline std::vector<unsigned char> floor_with_window(int32_t width, int32_t height, int32_t x,
                                                    int32_t y) {
  const auto at = [width](int32_t u, int32_t v) {
    return (static_cast<std::size_t>(v) * static_cast<std::size_t>(width) +
            static_cast<std::size_t>(u)) *
           bytes_per_pixel;
  };
  std::vector<unsigned char> image(static_cast<std::size_t>(width) *
                                   static_cast<std::size_t>(height) * bytes_per_pixel);
  for (std::size_t p = 0; p < image.size(); p += bytes_per_pixel) {
    image[p] = 20;
    image[p + 1] = 120;
    image[p + 2] = 60;
  }
  for (int32_t v = y; v < y + ag; ++v)
    for (int32_t u = x; u < x + ad; ++u) image[at(u, v)] = TARGET_RED_LEVEL;
  return image;
}

inline std::vector<unsigned char> target_everywhere(int32_t width, int32_t height) {
  std::vector<unsigned char> image = floor_with_window(width, height, 0, 0);
  for (std::size_t p = 0; p < image.size(); p += bytes_per_pixel) image[p] = TARGET_RED_LEVEL;
  return image;
}

}  // namespace bench
