// The two measures the controller takes on a camera image: how many pixels are
// red, and where a 7 x 7 window of the target's exact red level lies.
//
// Images are 3 bytes per pixel, red byte first, rows one after the other; only
// the red byte of a pixel is read, in place, and nothing is written.
#pragma once

#include <cstdint>

inline constexpr int32_t RED_THRESHOLD = 25;      // red byte above this (26..255) is red
inline constexpr int32_t ad = 7;                  // window width, pixels
inline constexpr int32_t ag = 7;                  // window height, pixels
inline constexpr int32_t TARGET_RED_LEVEL = 214;  // red byte of the target's colour

// A window matches when its 49 red bytes add up to exactly this (10486), not
// when they are all 214: any mix with that sum is taken for the target.
inline constexpr int32_t target_window_sum = ad * ag * TARGET_RED_LEVEL;

inline constexpr int32_t bytes_per_pixel = 3;

// Side of the square view that the tables are keyed on: the top-left corner of
// the image, as large as the camera allows. 0 if either size is not positive.
int32_t square_view_size(int32_t width, int32_t height);

// Number of pixels (x < width, y < height) whose red byte exceeds
// RED_THRESHOLD, pixel (x, y) being pixel number row_length * y + x.
// A null image or a non-positive size counts 0.
int32_t count_red_pixels(const unsigned char *image, int32_t width, int32_t height,
                         int32_t row_length);

struct TargetWindow {
  bool found;
  int32_t x;  // left image column of the window
  int32_t y;  // top image row of the window
};

// The target window in the size x size square view (rows row_length pixels
// long): positions x and y from 0 while below min(size - 7, 157), 157 being
// the positions the target tables serve (window_position_limit, which they
// own). Among several matches the last in x-major scan order wins: the largest
// x, and for it the largest y. A null image, a view of 7 or fewer pixels, or a
// row shorter than the view matches nothing.
TargetWindow find_target_window(const unsigned char *image, int32_t size, int32_t row_length);
