// The ground map the top view and the reach map share: the part of the
// ground it shows, the views' outlines walked through the calibration rule
// (written out on its own in calibration_oracle.h), its scale bar and axes,
// and the ground drawn where the views see it.
#include "sim/draw/ground_map.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "sim/core/calibration_rule.h"
#include "tests/sim/calibration_oracle.h"
#include "tests/support/png_reader.h"

namespace {

using sim::draw::Extent;
using sim::draw::Map;

Map fitted(Extent extent) {
  Map map;
  map.extent = extent;
  sim::draw::fit_map(map, 640.0, 96.0, 92.0);
  return map;
}

TEST(GroundMap, TheGroundShownGrowsByItsMarginsIgnoresTheUnusableAndStopsAtHalfAMetre) {
  Extent e;
  e.include(0.2, -0.01, 0.02);
  EXPECT_DOUBLE_EQ(e.x_high, 0.22);
  EXPECT_DOUBLE_EQ(e.y_low, -0.17);  // already holds it
  const double nan = std::numeric_limits<double>::quiet_NaN();
  e.include(nan, 0.0, 0.0);
  e.include(0.0, std::numeric_limits<double>::infinity(), 0.0);
  e.include(0.0, 0.0, nan);
  EXPECT_DOUBLE_EQ(e.x_high, 0.22);
  EXPECT_DOUBLE_EQ(e.y_high, 0.17);
  e.include(-3.0, 9.0, 0.1);
  e.clamp();
  EXPECT_DOUBLE_EQ(e.x_low, -0.5);
  EXPECT_DOUBLE_EQ(e.y_high, 0.5);
  EXPECT_TRUE(e.holds(0.22, -0.17));
  EXPECT_FALSE(e.holds(0.2201, 0.0));
}

TEST(GroundMap, ItsLongerSideTakesTheGivenPixelsWhicheverWayItRuns) {
  // Wider than long, then longer than wide: the same metres a pixel.
  const Map wide = fitted({});
  EXPECT_EQ(wide.box.width, 640.0);
  EXPECT_EQ(wide.box.x, 96.0);
  EXPECT_EQ(wide.box.y, 92.0);
  Extent tall_extent;
  tall_extent.x_low = -0.5;
  const Map tall = fitted(tall_extent);
  EXPECT_EQ(tall.box.height, 640.0);
  EXPECT_NEAR(tall.pixels_per_metre, 640.0 / 0.66, 1e-9);
  EXPECT_EQ(tall.box.width, std::round(0.34 * 640.0 / 0.66));
  // The corners: the top-left is the ground's far left point ahead.
  EXPECT_DOUBLE_EQ(tall.column(0.17), tall.box.x);
  EXPECT_DOUBLE_EQ(tall.row(0.16), tall.box.y);
  EXPECT_NEAR(tall.row(-0.5), tall.box.bottom(), 1.0);
}

TEST(GroundMap, AViewsOutlineIsTheImageBorderAsTheCalibrationSeesIt) {
  for (const bool left : {true, false}) {
    const sim::View view = left ? sim::View::left : sim::View::right;
    const std::vector<sim::Vec2> outline = sim::draw::view_outline(160, 120, view);
    // Half a pixel apart along the four sides.
    ASSERT_NEAR(static_cast<double>(outline.size()), 2.0 * (2 * 159 + 2 * 119), 4.0);
    const sim::Vec2 corner = calibration::expected_ground(left, 0.0, 0.0);
    EXPECT_NEAR(outline.front().x, corner.x, 1e-9);
    EXPECT_NEAR(outline.front().y, corner.y, 1e-9);
    for (const sim::Vec2 &point : outline) {
      const std::optional<sim::Vec2> pixel = sim::pixel_seeing(view, point);
      ASSERT_TRUE(pixel);
      const double from_border = std::min({pixel->x, pixel->y, 159.0 - pixel->x, 119.0 - pixel->y});
      EXPECT_NEAR(from_border, 0.0, 1e-6) << pixel->x << ", " << pixel->y;
    }
  }
}

TEST(GroundMap, TheScaleBarIsARoundLengthAboutAFifthOfTheMapWide) {
  for (const double across : {0.34, 0.6, 1.0}) {
    Extent e;
    e.y_low = -across / 2.0;
    e.y_high = across / 2.0;
    const Map map = fitted(e);
    const sim::draw::ScaleBar bar = sim::draw::scale_bar(map);
    const double power = std::pow(10.0, std::floor(std::log10(bar.metres)));
    const double digit = bar.metres / power;
    EXPECT_TRUE(std::abs(digit - 1.0) < 1e-9 || std::abs(digit - 2.0) < 1e-9 ||
                std::abs(digit - 5.0) < 1e-9)
        << bar.metres;
    EXPECT_GT(bar.metres, across / 10.0);
    EXPECT_LT(bar.metres, across / 2.5);
    EXPECT_NEAR(bar.x1 - bar.x0, bar.metres * map.pixels_per_metre, 1e-9);
    // In the map's bottom-left corner.
    EXPECT_GT(bar.x0, map.box.x);
    EXPECT_LT(bar.x1, map.box.x + map.box.width / 2.0);
    EXPECT_LT(bar.y, map.box.bottom());
    EXPECT_GT(bar.y, map.box.bottom() - 30.0);
  }
}

TEST(GroundMap, TheViewsAreTintedWhereTheySeeAndTheTicksSitOnRoundMetres) {
  const Map map = fitted({});
  const sim::draw::GroundAxes axes = sim::draw::ground_axes(map, 6.0);
  // Each tick within the half pixel the box's whole-pixel height takes from
  // the mapping the marks use.
  for (const double x : axes.x_ticks.values) {
    EXPECT_GE(x, map.extent.x_low);
    EXPECT_LE(x, map.extent.x_high);
    EXPECT_NEAR(axes.x_to_row(x), map.row(x), 0.5);
  }
  for (const double y : axes.y_ticks.values) EXPECT_NEAR(axes.y_to_column(y), map.column(y), 0.5);
  sim::draw::Canvas canvas(static_cast<int>(map.box.right()) + 40,
                           static_cast<int>(map.box.bottom()) + 60);
  const std::vector<sim::Vec2> left = sim::draw::view_outline(160, 160, sim::View::left);
  const std::vector<sim::Vec2> right = sim::draw::view_outline(160, 160, sim::View::right);
  {
    const sim::draw::Canvas::Clip clip(canvas, map.box);
    sim::draw::draw_ground(canvas, map, axes);
    sim::draw::draw_ground_areas(canvas, map, left, right);
  }
  const support::Picture picture = support::saved_picture("ground.png", canvas.png());
  ASSERT_GT(picture.width, 0);
  const auto colour_at = [&](sim::Vec2 ground) {
    return picture.at(static_cast<int>(map.column(ground.y)), static_cast<int>(map.row(ground.x)));
  };
  // What the middle of each view sees, by the calibration rule itself, is
  // tinted in the view's colour: blue on the left, orange on the right.
  const support::Rgb left_middle = colour_at(calibration::expected_ground(true, 80.0, 80.0));
  const support::Rgb right_middle = colour_at(calibration::expected_ground(false, 80.0, 80.0));
  EXPECT_GT(left_middle[2], left_middle[0] + 10) << int(left_middle[0]);
  EXPECT_GT(right_middle[0], right_middle[2] + 10) << int(right_middle[2]);
  // Behind the robot, out of either view and either foot's reach, the
  // ground is its own shade.
  const support::Rgb behind = colour_at({-0.08, 0.16});
  EXPECT_EQ(behind, (support::Rgb{247, 247, 243}));
}

}  // namespace
