// Frames as the encoder takes them: each colour where BT.601's limited range
// puts it, worked out here from the standard's own weights, and each 2 x 2
// block's chroma from the block's mean colour, in its place in the planes.
#include "sim/record/yuv_frame.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

namespace {

using Colour = std::array<double, 3>;

// Y, Cb, Cr of an RGB colour, in the standard's real-valued form.
Colour bt601(const Colour &rgb) {
  const double r = rgb[0] / 255.0, g = rgb[1] / 255.0, b = rgb[2] / 255.0;
  return {16.0 + 65.481 * r + 128.553 * g + 24.966 * b, 128.0 - 37.797 * r - 74.203 * g + 112.0 * b,
          128.0 + 112.0 * r - 93.786 * g - 18.214 * b};
}

TEST(YuvFrame, ColoursLandWhereTheStandardPutsThemAndChromaIsEachBlocksMean) {
  // 4 x 2 pixels, two blocks: white, and red, green, blue, black.
  const std::vector<Colour> pixels{{255, 255, 255}, {255, 255, 255}, {255, 0, 0}, {0, 255, 0},
                                   {255, 255, 255}, {255, 255, 255}, {0, 0, 255}, {0, 0, 0}};
  std::vector<unsigned char> rgb;
  for (const Colour &pixel : pixels)
    for (const double channel : pixel) rgb.push_back(static_cast<unsigned char>(channel));
  std::vector<unsigned char> yuv;
  sim::rgb_to_yuv420(rgb, 4, 2, yuv);
  ASSERT_EQ(yuv.size(), 8u + 2u + 2u);
  for (std::size_t i = 0; i < pixels.size(); ++i)
    EXPECT_NEAR(yuv[i], bt601(pixels[i])[0], 1.0) << "luma of pixel " << i;
  const Colour mean{(255.0 + 0 + 0 + 0) / 4, (0 + 255.0 + 0 + 0) / 4, (0 + 0 + 255.0 + 0) / 4};
  for (const auto &[block, colour] : {std::pair{0u, Colour{255, 255, 255}}, std::pair{1u, mean}}) {
    EXPECT_NEAR(yuv[8 + block], bt601(colour)[1], 1.0) << "blue difference of block " << block;
    EXPECT_NEAR(yuv[10 + block], bt601(colour)[2], 1.0) << "red difference of block " << block;
  }
}

}  // namespace
