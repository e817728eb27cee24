// The stand-in's own search for the window of the target's exact red level in
// a camera image: it finds what a reach could aim at without trusting the
// controller's search, so a fault there shows as a disagreement.
#pragma once

#include <optional>

namespace sim {

// A 7 x 7 window of pixels, by its top-left pixel.
struct Window {
  int x = 0;  // image column
  int y = 0;  // image row
};

inline constexpr int window_side = 7;  // pixels
// The red bytes of a window showing the target's colour (49 x 214).
inline constexpr int window_sum = window_side * window_side * 214;

// The window of exact target level in the top-left square of an image (3
// bytes a pixel, red first, rows top to bottom): the last match of a scan
// with x outer and y inner, as the controller scans. Positions stay below
// 157, where the controller's tables end, whatever the camera's size.
std::optional<Window> find_target_level_window(const unsigned char *rgb, int width, int height);

}  // namespace sim
