#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "kinematics/leg_ik.h"
#include "tests/controller/fake_controller.h"
#include "tests/controller/reference_scan.h"
#include "vision/red_measures.h"
#include "vision/red_scan.h"
#include "vision/target_tables.h"

namespace {
// A camera image of exactly width x height pixels, so AddressSanitizer sees any
// read past its end. Green and blue are 255 so that reading them would show.
struct Image {
  int32_t width, height;
  std::vector<unsigned char> bytes;
  Image(int32_t w, int32_t h, unsigned char red = 0)
      : width(w), height(h), bytes(static_cast<std::size_t>(w * h * bytes_per_pixel), 255) {
    for (std::size_t p = 0; p < bytes.size(); p += bytes_per_pixel) bytes[p] = red;
  }
  unsigned char &red(int32_t x, int32_t y) {
    return bytes[static_cast<std::size_t>((width * y + x) * bytes_per_pixel)];
  }
  void window(int32_t x, int32_t y, unsigned char level) {
    for (int32_t k = 0; k < ad; ++k)
      for (int32_t l = 0; l < ag; ++l) red(x + k, y + l) = level;
  }
  TargetWindow search() {
    return find_target_window(bytes.data(), square_view_size(width, height), width);
  }
};

void expect_window(TargetWindow w, int32_t x, int32_t y) {
  EXPECT_TRUE(w.found);
  EXPECT_EQ(w.x, x);
  EXPECT_EQ(w.y, y);
}

// A window of uneven red bytes that still add up to the target sum.
void uneven_target_window(Image &image, int32_t x, int32_t y, std::mt19937 &rng) {
  std::uniform_int_distribution<int> level(180, 248), pixel(0, ad * ag - 1);
  int32_t sum = 0;
  for (int32_t k = 0; k < ad * ag; ++k)
    sum += image.red(x + k % ad, y + k / ad) = static_cast<unsigned char>(level(rng));
  while (sum != target_window_sum) {
    const int k = pixel(rng);
    unsigned char &red = image.red(x + k % ad, y + k / ad);
    const int step = sum < target_window_sum ? 1 : -1;
    if (red + step < 0 || red + step > 255) continue;
    red = static_cast<unsigned char>(red + step);
    sum += step;
  }
}
}  // namespace

TEST(RedCount, RedMeansAboveTwentyFiveInTheRedByteOnly) {
  Image image(9, 4);  // green and blue at 255 everywhere
  EXPECT_EQ(count_red_pixels(image.bytes.data(), 9, 4, 9), 0);
  image.red(3, 2) = 25;
  EXPECT_EQ(count_red_pixels(image.bytes.data(), 9, 4, 9), 0);
  image.red(3, 2) = 26;
  image.red(8, 3) = 255;
  EXPECT_EQ(count_red_pixels(image.bytes.data(), 9, 4, 9), 2);
  EXPECT_EQ(count_red_pixels(image.bytes.data(), 4, 4, 9), 1);  // a view narrower than the row
  EXPECT_EQ(count_red_pixels(nullptr, 9, 4, 9), 0);
  EXPECT_EQ(count_red_pixels(image.bytes.data(), 0, 4, 9), 0);
}

TEST(WindowSearch, AgreesWithTheReferenceScanOnRandomImages) {
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<int32_t> side(1, 200), byte(0, 255), near_target(213, 215);
  int matches = 0;
  for (int round = 0; round < 120; ++round) {
    Image image(side(rng), side(rng));
    const int32_t size = square_view_size(image.width, image.height);
    for (std::size_t p = 0; p < image.bytes.size(); ++p) {
      // Reds of 213..215 make exact sums common and overlapping; others are noise.
      const bool red_byte = p % bytes_per_pixel == 0;
      image.bytes[p] =
          static_cast<unsigned char>(red_byte && round % 3 == 0 ? near_target(rng) : byte(rng));
    }
    if (round % 3 == 1 && size > ad) {
      std::uniform_int_distribution<int32_t> at(0, size - ad);
      for (int n = 0; n < 3; ++n) uneven_target_window(image, at(rng), at(rng), rng);
      image.window(at(rng), at(rng), 215);
    }
    // As the controller calls it, and through every set of kernels this
    // processor runs: the portable ones would otherwise never run here.
    const TargetWindow slow = reference::find_target_window(image.bytes.data(), size, image.width);
    for (const red_scan::Kernels *kernels : red_scan::kernels_that_run_here()) {
      for (const TargetWindow real :
           {image.search(),
            red_scan::find_target_window(*kernels, image.bytes.data(), size, image.width)}) {
        ASSERT_EQ(real.found, slow.found)
            << kernels->name << ", " << image.width << " x " << image.height;
        if (slow.found) expect_window(real, slow.x, slow.y);
      }
      const auto counts_agree = [&](int32_t w, int32_t h) {
        const int32_t expected = reference::count_red_pixels(image.bytes.data(), w, h, image.width);
        return count_red_pixels(image.bytes.data(), w, h, image.width) == expected &&
               red_scan::count_red_pixels(*kernels, image.bytes.data(), w, h, image.width) ==
                   expected;
      };
      EXPECT_TRUE(counts_agree(image.width, image.height) && counts_agree(size, size))
          << kernels->name;
    }
    matches += slow.found;
  }
  EXPECT_GT(matches, 40);  // the comparison is not vacuous
}

TEST(WindowSearch, MatchIsAnExactSumNotAUniformLevel) {
  std::mt19937 rng(7);
  Image image(40, 40);
  image.window(2, 2, 215);
  EXPECT_FALSE(image.search().found);
  uneven_target_window(image, 20, 11, rng);
  expect_window(image.search(), 20, 11);
}

TEST(WindowSearch, LastMatchInScanOrderWins) {
  Image by_y(60, 60);
  by_y.window(10, 20, TARGET_RED_LEVEL);
  by_y.window(10, 30, TARGET_RED_LEVEL);
  expect_window(by_y.search(), 10, 30);
  Image by_x(60, 60);
  by_x.window(10, 30, TARGET_RED_LEVEL);
  by_x.window(11, 0, TARGET_RED_LEVEL);
  expect_window(by_x.search(), 11, 0);
}

TEST(WindowSearch, PositionsStopBeforeTheLastFittingWindow) {
  expect_window(Image(160, 160, TARGET_RED_LEVEL).search(), 152, 152);
  for (auto [x, y] : {std::pair{153, 0}, {0, 153}}) {
    Image image(160, 160);
    image.window(x, y, TARGET_RED_LEVEL);
    EXPECT_FALSE(image.search().found) << x << ", " << y;
  }
  for (int32_t size = 1; size <= 7; ++size)
    EXPECT_FALSE(Image(size, size, TARGET_RED_LEVEL).search().found);
  expect_window(Image(8, 8, TARGET_RED_LEVEL).search(), 0, 0);
  EXPECT_FALSE(find_target_window(nullptr, 160, 160).found);
}

TEST(WindowSearch, WideCameraFindsTheWindowWhereTheImageHasIt) {
  Image image(240, 160);
  image.window(100, 50, TARGET_RED_LEVEL);
  image.window(200, 20, TARGET_RED_LEVEL);  // right of the square view
  expect_window(image.search(), 100, 50);
  EXPECT_EQ(count_red_pixels(image.bytes.data(), 160, 160, 240), ad * ag);
}

TEST(WindowSearch, TallAndOversizedCamerasStayInsideImageAndTables) {
  Image tall(120, 200, TARGET_RED_LEVEL);
  expect_window(tall.search(), 112, 112);
  EXPECT_EQ(count_red_pixels(tall.bytes.data(), 120, 120, 120), 120 * 120);
  for (auto [w, h] : {std::pair{300, 300}, {400, 170}, {164, 164}}) {
    const TargetWindow window = Image(w, h, TARGET_RED_LEVEL).search();
    expect_window(window, 156, 156);  // centre (159, 159), the tables' last filled entry
    lookup_target(0, window.x, window.y);
    EXPECT_EQ(xd, -tab_y_left[159 * table_columns + 159]);
  }
}

namespace {
// Entries of each table as recorded, at these rows and columns; four of them
// are overrides, recorded values the rule does not reproduce.
struct RecordedEntries {
  const std::array<float, table_rows * table_columns> &table;
  float values[5][5];
};
constexpr int recorded_keys[5] = {0, 3, 80, 155, 159};
// clang-format off
const RecordedEntries recorded[] = {
  {tab_x_right, {{-0.040f, -0.040f, -0.042f, -0.045f, -0.045f}, {-0.039f, -0.039f, -0.041f, -0.044f, -0.044f},
                 {-0.007f, -0.007f, -0.009f, -0.011f, -0.011f}, { 0.034f,  0.034f,  0.034f,  0.034f,  0.034f},
                 { 0.037f,  0.037f,  0.037f,  0.037f,  0.037f}}},
  {tab_y_right, {{-0.091f, -0.090f, -0.060f, -0.029f, -0.027f}, {-0.091f, -0.090f, -0.060f, -0.029f, -0.027f},
                 {-0.093f, -0.092f, -0.058f, -0.021f, -0.019f}, {-0.096f, -0.095f, -0.054f, -0.010f, -0.008f},
                 {-0.097f, -0.095f, -0.054f, -0.009f, -0.007f}}},
  {tab_x_left,  {{-0.074f, -0.073f, -0.066f, -0.060f, -0.060f}, {-0.070f, -0.070f, -0.063f, -0.057f, -0.056f},
                 {-0.001f, -0.001f,  0.004f,  0.009f,  0.009f}, { 0.044f,  0.044f,  0.048f,  0.052f,  0.052f},
                 { 0.046f,  0.046f,  0.050f,  0.053f,  0.054f}}},
  {tab_y_left,  {{-0.130f, -0.127f, -0.064f, -0.003f,  0.000f}, {-0.129f, -0.127f, -0.065f, -0.004f, -0.001f},
                 {-0.122f, -0.120f, -0.071f, -0.024f, -0.021f}, {-0.118f, -0.116f, -0.076f, -0.036f, -0.034f},
                 {-0.118f, -0.116f, -0.076f, -0.037f, -0.035f}}},
};
// clang-format on
float entry(const std::array<float, table_rows * table_columns> &t, int r, int c) {
  return t[static_cast<std::size_t>(r * table_columns + c)];
}
}  // namespace

TEST(TargetTables, HoldTheRecordedEntries) {
  for (const RecordedEntries &s : recorded)
    for (int i = 0; i < 5; ++i)
      for (int j = 0; j < 5; ++j)
        EXPECT_EQ(entry(s.table, recorded_keys[i], recorded_keys[j]), s.values[i][j])
            << i << ", " << j;
}

TEST(TargetLookup, FirstMiddleAndLastWindowsGiveTheirRecordedTargetsOnBothSides) {
  struct Case {
    int32_t x, y;
    float left_xd, left_yd, right_xd, right_yd;
  };
  for (const Case &k : {Case{0, 0, 0.127f, -0.070f, 0.090f, 0.039f},
                        Case{152, 152, 0.036f, 0.052f, 0.010f, -0.034f},
                        Case{77, 77, 0.071f, 0.004f, 0.058f, 0.009f}}) {
    zd = rest_zd;
    lookup_target(0, k.x, k.y);
    EXPECT_EQ(xd, k.left_xd);
    EXPECT_EQ(yd, k.left_yd);
    lookup_target(1, k.x, k.y);
    EXPECT_EQ(xd, k.right_xd);
    EXPECT_EQ(yd, k.right_yd);
    EXPECT_EQ(zd, rest_zd);
  }
  lookup_target(0, 77, 37);  // rows are image columns, columns image rows
  EXPECT_EQ(yd, entry(tab_x_left, 80, 40));
  EXPECT_EQ(xd, -entry(tab_y_left, 80, 40));
}

// Also silent: an unreachable target is the solver's to report, not the look-up's.
TEST(TargetLookup, PositionOutsideTheFilledRegionWritesNothing) {
  fake::reset();
  for (auto [x, y] : {std::pair{157, 0}, {0, 157}, {-1, 5}, {5, -4}, {1000, 1000}}) {
    xd = 0.5f;
    yd = 0.25f;
    lookup_target(1, x, y);
    EXPECT_TRUE(xd == 0.5f && yd == 0.25f) << x << ", " << y;
  }
  lookup_target(0, 0, 0);
  EXPECT_EQ(fake::console(), "");
}
