// The canvas every picture is drawn on, read back pixel by pixel: marks where
// and as large as asked, clips that hold, strokes that leave nothing behind
// for the next one, text anchored as asked; and the numbers its axes print.
#include "sim/draw/canvas.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tests/support/png_reader.h"

namespace {

using sim::draw::Canvas;
using support::Rgb;

constexpr Rgb white{255, 255, 255};
constexpr Rgb black{0, 0, 0};
constexpr sim::draw::Colour black_ink{0.0, 0.0, 0.0};

// A canvas's pixels as a picture, read the way the pictures' tests read PNGs.
support::Picture pixels(const Canvas &canvas, int width, int height) {
  const std::vector<unsigned char> rgb = canvas.rgb();
  return {width, height, std::vector<std::uint8_t>(rgb.begin(), rgb.end())};
}

int count(const support::Picture &picture, Rgb colour) { return picture.count(colour); }

TEST(Ticks, RoundStepsThatCoverTheRangeAndNeverAMinusZero) {
  const sim::draw::Ticks ticks = sim::draw::nice_ticks(-0.17, 0.17, 6);
  EXPECT_DOUBLE_EQ(ticks.step, 0.05);
  EXPECT_EQ(ticks.values.size(), 7u);  // -0.15 to 0.15
  EXPECT_NEAR(ticks.values.front(), -0.15, 1e-12);
  EXPECT_EQ(ticks.values[3], 0.0);
  EXPECT_FALSE(std::signbit(ticks.values[3]));
  // Steps of 1, 2 or 5 times a power of ten, about `count` of them.
  for (const auto &[high, count, step] :
       {std::tuple{1.0, 5, 0.2}, std::tuple{7.0, 7, 1.0}, std::tuple{3.2e6, 14, 200000.0}})
    EXPECT_DOUBLE_EQ(sim::draw::nice_ticks(0.0, high, count).step, step) << high;
  // Never finer than asked: pixel columns are whole.
  EXPECT_DOUBLE_EQ(sim::draw::nice_ticks(0.0, 3.0, 12, 1.0).step, 1.0);
  // Reversed ends cover the same range; an empty range has its one value;
  // a range that is no range has none.
  EXPECT_EQ(sim::draw::nice_ticks(1.0, 0.0, 5).values.size(), 6u);
  EXPECT_EQ(sim::draw::nice_ticks(2.0, 2.0, 5).values, std::vector<double>{2.0});
  EXPECT_TRUE(
      sim::draw::nice_ticks(0.0, std::numeric_limits<double>::infinity(), 5).values.empty());
}

TEST(Ticks, NumbersReadAsPeopleWriteThem) {
  // As many decimals as the step needs, and a true minus sign.
  EXPECT_EQ(sim::draw::tick_label(-0.05, 0.05), "\u22120.05");
  EXPECT_EQ(sim::draw::tick_label(0.1, 0.05), "0.10");
  EXPECT_EQ(sim::draw::tick_label(200000.0, 200000.0), "200000");
  // Thousands set apart by thin spaces, and no space after a minus sign.
  EXPECT_EQ(sim::draw::count_text(1234567), "1\u2009234\u2009567");
  EXPECT_EQ(sim::draw::count_text(-123456), "\u2212123\u2009456");
  EXPECT_EQ(sim::draw::count_text(999), "999");
  EXPECT_EQ(sim::draw::number(-0.0125), "\u22120.0125");
}

TEST(Canvas, MarksCoverWhereAndAsFarAsTheyAreAsked) {
  Canvas canvas(60, 40);
  // A box on whole pixels fills exactly its pixels.
  canvas.fill_box({2.0, 3.0, 5.0, 4.0}, black_ink);
  // A dot of radius 6 at (30.5, 20.5): its centre dark, a pixel beyond its
  // edge untouched.
  canvas.dot(30.5, 20.5, 6.0, {0.0, 0.0, 1.0});
  const support::Picture picture = pixels(canvas, 60, 40);
  EXPECT_EQ(count(picture, black), 20);
  EXPECT_EQ(picture.at(2, 3), black);
  EXPECT_EQ(picture.at(6, 6), black);
  EXPECT_EQ(picture.at(30, 20), (Rgb{0, 0, 255}));
  EXPECT_EQ(picture.at(30, 27), white);
  EXPECT_EQ(picture.at(37, 20), white);
  const support::Found blue = support::find_colour(picture, {0, 0, 255}, {0, 0, 60, 40});
  EXPECT_NEAR(blue.centre.x, 30.5, 0.01);
  EXPECT_NEAR(blue.centre.y, 20.5, 0.01);
  // Every pixel wholly inside it, and none past it: between the areas of
  // discs a pixel's diagonal smaller and of its own radius.
  EXPECT_GT(blue.pixels, 3.14159 * (6.0 - 1.42) * (6.0 - 1.42));
  EXPECT_LT(blue.pixels, 3.14159 * 36.0);
}

TEST(Canvas, AStrokeLeavesNoCapDashOrWidthToTheNextOne) {
  Canvas canvas(60, 30);
  // A thick, round-capped, dashed line first; then a plain one, whose butt
  // ends must stop where it does and which must be unbroken.
  canvas.line(5.0, 5.0, 55.0, 5.0,
              {black_ink, 2.0, sim::draw::Cap::round, sim::draw::Join::round, {4.0, 6.0}});
  canvas.line(10.0, 20.5, 50.0, 20.5, {black_ink, 1.0});
  const support::Picture picture = pixels(canvas, 60, 30);
  int plain = 0;
  for (int x = 0; x < 60; ++x) plain += picture.at(x, 20) == black;
  EXPECT_EQ(plain, 40);
  EXPECT_EQ(picture.at(9, 20), white);
  EXPECT_EQ(picture.at(50, 20), white);
  // The dashed line has its gaps.
  int gaps = 0;
  for (int x = 10; x < 50; ++x) gaps += picture.at(x, 5) == white;
  EXPECT_GT(gaps, 5);
}

TEST(Canvas, AClipHoldsWhileItLivesAndNestedClipsMeet) {
  Canvas canvas(40, 40);
  {
    const Canvas::Clip outer(canvas, {10.0, 10.0, 20.0, 20.0});
    {
      const Canvas::Clip inner(canvas, {0.0, 0.0, 15.0, 40.0});
      canvas.fill_box({0.0, 0.0, 40.0, 40.0}, black_ink);
    }
    canvas.fill_box({0.0, 0.0, 40.0, 40.0}, {1.0, 0.0, 0.0});
  }
  canvas.fill_box({0.0, 0.0, 2.0, 2.0}, {0.0, 1.0, 0.0});
  const support::Picture picture = pixels(canvas, 40, 40);
  EXPECT_EQ(count(picture, black), 0);  // painted over by the red, inside the outer clip
  EXPECT_EQ(count(picture, {255, 0, 0}), 400);
  EXPECT_EQ(picture.at(10, 10), (Rgb{255, 0, 0}));
  EXPECT_EQ(picture.at(9, 10), white);
  EXPECT_EQ(picture.at(30, 30), white);
  EXPECT_EQ(count(picture, {0, 255, 0}), 4);  // no clip once both are gone
  Canvas nested(40, 40);
  {
    const Canvas::Clip outer(nested, {10.0, 10.0, 20.0, 20.0});
    const Canvas::Clip inner(nested, {0.0, 0.0, 15.0, 40.0});
    nested.fill_box({0.0, 0.0, 40.0, 40.0}, black_ink);
  }
  EXPECT_EQ(count(pixels(nested, 40, 40), black), 5 * 20);
}

TEST(Canvas, WholePixelLinesHaveNoGreyEdges) {
  Canvas canvas(30, 30);
  canvas.cross(15.0, 15.0, 8.0,
               {black_ink, 1.6, sim::draw::Cap::butt, sim::draw::Join::miter, {}, false});
  const support::Picture picture = pixels(canvas, 30, 30);
  EXPECT_EQ(count(picture, black) + count(picture, white), 30 * 30);
  EXPECT_GT(count(picture, black), 20);
  EXPECT_EQ(picture.at(15, 15), black);
  EXPECT_EQ(picture.at(7, 7), black);
  EXPECT_EQ(picture.at(15, 7), white);
}

TEST(Canvas, ShadesImagesAndWashesKeepTheirPixels) {
  // A 2 x 1 image, each pixel shown 3 times as large.
  const unsigned char two[] = {255, 0, 0, 0, 0, 255};
  Canvas canvas(10, 10);
  canvas.image(two, 2, 1, 2.0, 1.0, 3);
  // A bar from green at its bottom to red at its top, a sharp step halfway.
  const Canvas::Stop stops[] = {{0.0, {0.0, 1.0, 0.0}},
                                {0.5, {0.0, 1.0, 0.0}},
                                {0.5, {1.0, 0.0, 0.0}},
                                {1.0, {1.0, 0.0, 0.0}}};
  canvas.gradient_box({0.0, 4.0, 2.0, 6.0}, stops);
  const support::Picture picture = pixels(canvas, 10, 10);
  EXPECT_GE(count(picture, {255, 0, 0}), 9);
  EXPECT_EQ(count(picture, {0, 0, 255}), 9);
  EXPECT_EQ(picture.at(4, 3), (Rgb{255, 0, 0}));
  EXPECT_EQ(picture.at(5, 1), (Rgb{0, 0, 255}));
  // Shades are near their stops (a gradient may be dithered), and the step is sharp.
  const auto near = [](Rgb seen, Rgb wanted) {
    for (std::size_t i = 0; i < 3; ++i)
      if (std::abs(seen[i] - wanted[i]) > 3) return false;
    return true;
  };
  EXPECT_TRUE(near(picture.at(0, 9), {0, 255, 0}));
  EXPECT_TRUE(near(picture.at(1, 7), {0, 255, 0}));
  EXPECT_TRUE(near(picture.at(1, 6), {255, 0, 0}));
  EXPECT_TRUE(near(picture.at(1, 4), {255, 0, 0}));

  // A canvas begun from RGB bytes gives them back as they were until drawn
  // on; a wash then darkens every pixel alike.
  std::vector<unsigned char> rgb(4 * 3 * 3);
  for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<unsigned char>(i * 7);
  Canvas over(rgb.data(), 4, 3);
  EXPECT_EQ(over.rgb(), rgb);
  over.wash({0.0, 0.0, 0.0, 0.5});
  const std::vector<unsigned char> washed = over.rgb();
  for (std::size_t i = 0; i < rgb.size(); ++i) EXPECT_NEAR(washed[i], rgb[i] / 2.0, 1.0) << i;
}

TEST(Canvas, TextSitsOnItsAnchorAndItsPngHoldsThePixelsDrawn) {
  Canvas canvas(200, 60);
  canvas.font(14.0);
  const double short_width = canvas.text_width("reach");
  const double long_width = canvas.text_width("reaches in time order");
  EXPECT_GT(short_width, 20.0);
  EXPECT_GT(long_width, 3.0 * short_width);
  // Right-aligned at x = 150, top at y = 10: every inked pixel left of 150,
  // and none above 10.
  canvas.colour(black_ink);
  const double drawn =
      canvas.text(150.0, 10.0, "reach", sim::draw::Align::right, sim::draw::Baseline::top);
  EXPECT_EQ(drawn, short_width);
  // Over a dark box, haloed text still shows light pixels around dark ones.
  canvas.fill_box({0.0, 35.0, 200.0, 25.0}, black_ink);
  canvas.font(12.0, sim::draw::Weight::bold);
  canvas.haloed_text(100.0, 47.0, "label", sim::draw::Align::centre, sim::draw::Baseline::middle,
                     {0.0, 0.0, 0.8});
  const support::Picture picture = support::saved_picture("canvas_text.png", canvas.png());
  ASSERT_EQ(picture.width, 200);
  EXPECT_EQ(picture.rgb, pixels(canvas, 200, 60).rgb);
  int left = 200, right = 0, top = 60;
  for (int y = 0; y < 35; ++y)
    for (int x = 0; x < 200; ++x)
      if (picture.at(x, y) != white) {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
      }
  EXPECT_LE(right, 150);
  EXPECT_GE(right, 146);
  EXPECT_GE(left, static_cast<int>(150.0 - short_width) - 1);
  EXPECT_GE(top, 10);
  int light = 0;
  for (int x = 60; x < 140; ++x) light += picture.at(x, 47)[0] > 200;
  EXPECT_GT(light, 5);
}

TEST(Canvas, ALegendsBoxHoldsEveryEntryAndItsSwatch) {
  Canvas canvas(400, 200);
  const std::vector<sim::draw::LegendEntry> entries{{[](Canvas &c, double x, double y) {
                                                       c.dot(x, y, 4.0, {1.0, 0.0, 0.0});
                                                     },
                                                     "first"},
                                                    {[](Canvas &c, double x, double y) {
                                                       c.dot(x, y, 4.0, {0.0, 0.0, 1.0});
                                                     },
                                                     "a second, longer entry"}};
  const sim::draw::Box box = canvas.legend_column(20.0, 30.0, entries, 13.0);
  const support::Picture picture = pixels(canvas, 400, 200);
  const support::Area inside{static_cast<int>(box.x), static_cast<int>(box.y),
                             static_cast<int>(box.right()) + 1, static_cast<int>(box.bottom()) + 1};
  const support::Found red = support::find_colour(picture, {255, 0, 0}, inside);
  const support::Found blue = support::find_colour(picture, {0, 0, 255}, inside);
  ASSERT_GT(red.pixels, 0);
  ASSERT_GT(blue.pixels, 0);
  // One row each, in order, the swatches in one column.
  EXPECT_NEAR(red.centre.x, blue.centre.x, 0.01);
  EXPECT_GT(blue.centre.y, red.centre.y + 15.0);
  // Nothing outside the box.
  int outside = 0;
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 400; ++x)
      outside += (x < inside.left || x >= inside.right || y < inside.top || y >= inside.bottom) &&
                 picture.at(x, y) != white;
  EXPECT_EQ(outside, 0);
}

}  // namespace
