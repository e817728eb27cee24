// The camera calibration the tables were made from: the ground point each
// pixel sees against the rule written out apart from the stand-in's code, its
// inverse, and the controller's tables that were rounded from it.
#include "sim/core/calibration_rule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <utility>

#include "tests/sim/calibration_oracle.h"
#include "vision/target_tables.h"

namespace {

using calibration::expected_ground;

TEST(CameraCalibration, EachPixelSeesTheGroundPointOfTheRuleOnBothSides) {
  for (const bool left : {true, false})
    for (double u = 0.0; u < 320.0; u += 17.5)
      for (double v = 0.0; v < 160.0; v += 13.25) {
        const std::optional<sim::Vec2> ground =
            sim::ground_point(left ? sim::View::left : sim::View::right, u, v);
        ASSERT_TRUE(ground) << u << "," << v;
        const sim::Vec2 want = expected_ground(left, u, v);
        EXPECT_NEAR(ground->x, want.x, 1e-12);
        EXPECT_NEAR(ground->y, want.y, 1e-12);
      }
}

TEST(CameraCalibration, ThePixelSeeingAGroundPointIsTheOneWhoseGroundPointItIs) {
  for (const sim::View view : {sim::View::left, sim::View::right})
    for (const auto &[u, v] : {std::pair{0.0, 0.0}, {80.0, 80.0}, {159.0, 3.0}, {300.5, 140.25}}) {
      const std::optional<sim::Vec2> ground = sim::ground_point(view, u, v);
      ASSERT_TRUE(ground);
      const std::optional<sim::Vec2> pixel = sim::pixel_seeing(view, *ground);
      ASSERT_TRUE(pixel);
      EXPECT_NEAR(pixel->x, u, 1e-6);
      EXPECT_NEAR(pixel->y, v, 1e-6);
    }
  // Behind the robot, and the default world's discs.
  EXPECT_FALSE(sim::disc_in_view(sim::View::left, {-0.3, 0.0}, 0.006, 160, 160));
  EXPECT_FALSE(sim::disc_in_view(sim::View::right, {-0.3, 0.0}, 0.006, 160, 160));
  EXPECT_TRUE(sim::disc_in_view(sim::View::left, {0.038, 0.05}, 0.006, 160, 160));
  EXPECT_TRUE(sim::disc_in_view(sim::View::right, {0.038, -0.05}, 0.006, 160, 160));
}

TEST(CameraCalibration, PixelsAboveTheHorizonAndTheForwardViewSeeNoGround) {
  // Far to the right of a very wide right view, the mapping's denominator
  // turns negative: the sky would otherwise land on the ground behind.
  EXPECT_FALSE(sim::ground_point(sim::View::right, 1000, 0).has_value());
  EXPECT_FALSE(sim::ground_point(sim::View::forward, 10, 10).has_value());
  EXPECT_FALSE(sim::pixel_seeing(sim::View::forward, {0.03, 0.05}).has_value());
}

TEST(CameraCalibration, TheControllersTablesHoldTheGroundEachPixelSeesToTheMillimetre) {
  // Each table entry, read for window centre (u, v), is a leg-frame
  // coordinate of the ground point pixel (u, v) sees, rounded to the
  // millimetre: within half a millimetre of it, but for the few entries
  // recorded otherwise (up to 0.68 mm off) and two zero entries at the far
  // end of the left tables, which no window the search can return reads.
  struct Table {
    const std::array<float, table_rows * table_columns> *entries;
    sim::View view;
    bool forward;  // the forward coordinate (tab_y_*), else the sideways one
    int departures;
  };
  const Table tables[] = {{&tab_x_right, sim::View::right, false, 1},
                          {&tab_y_right, sim::View::right, true, 2},
                          {&tab_x_left, sim::View::left, false, 3},
                          {&tab_y_left, sim::View::left, true, 2}};
  for (const Table &table : tables) {
    const int leg = table.view == sim::View::left ? 0 : 2;
    int departures = 0;
    double worst_departure = 0.0;
    for (int u = 0; u < table_filled; ++u)
      for (int v = 0; v < table_filled; ++v) {
        const std::optional<sim::Vec2> ground = sim::ground_point(table.view, u, v);
        ASSERT_TRUE(ground);
        const sim::Vec3 in_leg = sim::body_to_leg(leg, {ground->x, ground->y, sim::ground_z});
        const double seen =
            table.forward ? -in_leg.x : (table.view == sim::View::left ? in_leg.y : -in_leg.y);
        const double entry =
            static_cast<double>((*table.entries)[static_cast<std::size_t>(u * table_columns + v)]);
        const double off = std::abs(entry - seen);
        if (off <= 0.0005 + 1e-6) continue;
        ++departures;
        if (entry != 0.0) worst_departure = std::max(worst_departure, off);
      }
    EXPECT_EQ(departures, table.departures) << table.entries;
    EXPECT_LT(worst_departure, 0.00068);
  }
}

}  // namespace
