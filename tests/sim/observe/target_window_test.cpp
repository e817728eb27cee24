// The stand-in's own window search against the plain scan it stands for.
#include "sim/observe/target_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <vector>

namespace {

TEST(TargetWindow, TheStandInsOwnWindowSearchIsThePlainScan) {
  // The last window of exact target level, x outer and y inner, read pixel by
  // pixel, on images where several windows match and some nearly do.
  std::mt19937 random(7);
  for (int trial = 0; trial < 40; ++trial) {
    const int width = 8 + static_cast<int>(random() % 200);
    const int height = 8 + static_cast<int>(random() % 200);
    std::vector<unsigned char> image(static_cast<std::size_t>(width * height * 3), 20);
    for (int patch = 0; patch < 6; ++patch) {
      const int x0 = static_cast<int>(random() % static_cast<unsigned>(width));
      const int y0 = static_cast<int>(random() % static_cast<unsigned>(height));
      const auto level = static_cast<unsigned char>(patch % 3 == 0 ? 215 : 214);
      for (int y = y0; y < std::min(height, y0 + 7 + patch % 2); ++y)
        for (int x = x0; x < std::min(width, x0 + 7); ++x) image[(y * width + x) * 3] = level;
    }
    std::optional<sim::Window> plain;
    const int positions = std::min(std::min(width, height) - 7, 157);
    for (int x = 0; x < positions; ++x)
      for (int y = 0; y < positions; ++y) {
        int sum = 0;
        for (int k = 0; k < 49; ++k) sum += image[((y + k / 7) * width + x + k % 7) * 3];
        if (sum == 49 * 214) plain = sim::Window{x, y};
      }
    const std::optional<sim::Window> found =
        sim::find_target_level_window(image.data(), width, height);
    ASSERT_EQ(found.has_value(), plain.has_value()) << trial;
    if (found) {
      EXPECT_TRUE(found->x == plain->x && found->y == plain->y) << trial;
    }
  }
}

}  // namespace
