// A PNG file read back as RGB pixels, for tests that look at pictures.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace testpng {

using Rgb = std::array<std::uint8_t, 3>;

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;  // rows top to bottom
  Rgb at(int x, int y) const {
    const std::size_t i = (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                           static_cast<std::size_t>(x)) *
                          3u;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
  }
};

// The picture in a PNG file; width 0 if it cannot be read.
Picture read(const std::string &path);

// Pixels within `margin` of the picture's edge that are not white: text or
// marks cut off where the picture ends.
int ink_at_edges(const Picture &picture, int margin);

}  // namespace testpng
