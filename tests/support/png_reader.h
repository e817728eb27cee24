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

// What a reader finds in a picture, measured on its pixels alone. Positions
// are in the picture's own continuous coordinates: pixel (i, j) covers
// [i, i + 1] x [j, j + 1], so its centre is (i + 0.5, j + 0.5).
struct Point {
  double x = 0.0;
  double y = 0.0;
};
// A rectangle of pixels: columns [left, right), rows [top, bottom).
struct Area {
  int left = 0, top = 0, right = 0, bottom = 0;
};
// The centre of the pixels of exactly `colour` within `area`, and how many
// there are (0: none, and no centre).
struct Found {
  Point centre;
  int pixels = 0;
};
Found find_colour(const Picture &picture, Rgb colour, Area area);
// The frame of a plot: the box outlined by one-pixel lines of `colour`,
// its sides at least `shortest` pixels long; its lines' pixels are its
// edges. All 0 if there is none.
Area find_frame(const Picture &picture, Rgb colour, int shortest = 200);
// A scale bar as the ground pictures draw it (a dark line with a short tick
// up at each end) whose left end lies within `area`: the distance between
// its ticks' centres, in pixels, or 0 if there is none.
double scale_bar_pixels(const Picture &picture, Area area);

}  // namespace support
