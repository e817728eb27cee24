#include "sim/record/yuv_frame.h"

#include <cstddef>

namespace sim {

namespace {
// BT.601's weights in 256ths, for 219 steps of luma and 224 of chroma: the
// classic 8-bit approximation, within a step of the exact values (ffmpeg's
// own conversion, with finer weights, differs from it by a step at times).
int luma(int r, int g, int b) { return ((66 * r + 129 * g + 25 * b + 128) >> 8) + 16; }
int blue_difference(int r, int g, int b) { return ((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128; }
int red_difference(int r, int g, int b) { return ((112 * r - 94 * g - 18 * b + 128) >> 8) + 128; }
}  // namespace

void rgb_to_yuv420(std::span<const unsigned char> rgb, int width, int height,
                   std::vector<unsigned char> &yuv) {
  const auto w = static_cast<std::size_t>(width);
  const auto h = static_cast<std::size_t>(height);
  yuv.resize(w * h * 3u / 2u);
  unsigned char *const y_plane = yuv.data();
  unsigned char *u = y_plane + w * h;
  unsigned char *v = u + w * h / 4u;
  // Two rows at a time: each 2 x 2 block gives four lumas and one chroma pair.
  for (std::size_t y = 0; y < h; y += 2) {
    const unsigned char *top = rgb.data() + y * w * 3u;
    const unsigned char *bottom = top + w * 3u;
    unsigned char *top_luma = y_plane + y * w;
    unsigned char *bottom_luma = top_luma + w;
    for (std::size_t x = 0; x < w; x += 2) {
      const int r = top[0] + top[3] + bottom[0] + bottom[3];
      const int g = top[1] + top[4] + bottom[1] + bottom[4];
      const int b = top[2] + top[5] + bottom[2] + bottom[5];
      top_luma[0] = static_cast<unsigned char>(luma(top[0], top[1], top[2]));
      top_luma[1] = static_cast<unsigned char>(luma(top[3], top[4], top[5]));
      bottom_luma[0] = static_cast<unsigned char>(luma(bottom[0], bottom[1], bottom[2]));
      bottom_luma[1] = static_cast<unsigned char>(luma(bottom[3], bottom[4], bottom[5]));
      // The four pixels' mean, rounded.
      *u++ = static_cast<unsigned char>(blue_difference((r + 2) / 4, (g + 2) / 4, (b + 2) / 4));
      *v++ = static_cast<unsigned char>(red_difference((r + 2) / 4, (g + 2) / 4, (b + 2) / 4));
      top += 6, bottom += 6, top_luma += 2, bottom_luma += 2;
    }
  }
}

}  // namespace sim
