// PNG pictures read back as RGB pixels, for tests that look at what a reader
// of the picture sees.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace support {

using Rgb = std::array<std::uint8_t, 3>;
inline constexpr Rgb white{255, 255, 255};

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
  bool holds(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
  // How many pixels have exactly this colour.
  int count(Rgb colour) const;
};

// The picture in a PNG file; width 0 if it cannot be read.
Picture read_png(const std::string &path);
// A picture's PNG bytes saved as `name` in this test process's picture folder
// (so a failing test leaves it there to look at), then read back from the
// file. Width 0 if the bytes are no PNG.
Picture saved_picture(const std::string &name, std::string_view png);

// Pixels within `margin` of the picture's edge that are not white: text or
// marks cut off where the picture ends.
int ink_at_edges(const Picture &picture, int margin);

}  // namespace support
