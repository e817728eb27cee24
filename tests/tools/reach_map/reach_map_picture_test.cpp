// reach_map.png as a reader sees it, read back from its PNG file: each
// point's tile in the colour of its miss, where the scale bar says its
// ground point lies, and nothing cut off.
#include "tools/reach_map/reach_map_picture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/png_reader.h"

namespace {

using support::Rgb;

// The scale's colours in 8-bit channels: a miss of 0, a miss of the disc's
// radius (the last hit), and three radii or more.
constexpr Rgb dead_centre{0, 102, 56};
constexpr Rgb at_the_edge{184, 230, 107};
constexpr Rgb far_off{128, 0, 25};
// The map's frame, and the length its scale bar reads for this ground.
constexpr Rgb frame_ink{97, 97, 97};
constexpr double bar_metres = 0.05;

sim::reach_map::Outcome reached(double x, double y, double miss) {
  sim::reach_map::Outcome o;
  o.point = {x, y};
  o.leg = y > 0 ? 0 : 2;
  o.seen = true;
  o.reach = miss <= 0.006 ? sim::ReachOutcome::on_target : sim::ReachOutcome::off_target;
  o.miss = miss;
  return o;
}

TEST(ReachMapPicture, EachTileHasItsMissesColourWhereTheScaleBarPutsItsPoint) {
  sim::reach_map::Settings settings;
  settings.spacing_um = 10'000;
  // Left and right 0.1 m apart, and one 0.05 m ahead of the left one.
  const std::vector<sim::reach_map::Outcome> outcomes{
      reached(0.04, 0.05, 0.0), reached(0.04, -0.05, 0.006), reached(0.09, 0.05, 0.03)};
  const sim::reach_map::Summary summary = sim::reach_map::summarise(outcomes);
  const support::Picture picture = support::saved_picture(
      "reach_map.png", sim::reach_map::map_picture_png(settings, summary, outcomes));
  ASSERT_GT(picture.width, 0);
  EXPECT_EQ(support::ink_at_edges(picture, 3), 0);
  const support::Area frame = support::find_frame(picture, frame_ink);
  ASSERT_GT(frame.right, frame.left);
  const double pixels_per_metre =
      support::scale_bar_pixels(picture, {frame.left + 2, frame.bottom - 40,
                                          (frame.left + frame.right) / 2, frame.bottom - 1}) /
      bar_metres;
  ASSERT_GT(pixels_per_metre, 0.0);
  // Inside the map only: the colour bar beside it holds the same colours.
  const support::Area map{frame.left + 1, frame.top + 1, frame.right, frame.bottom};
  const support::Found left = support::find_colour(picture, dead_centre, map);
  const support::Found right = support::find_colour(picture, at_the_edge, map);
  const support::Found ahead = support::find_colour(picture, far_off, map);
  // Each a whole tile of the same size.
  ASSERT_GT(left.pixels, 100);
  EXPECT_EQ(right.pixels, left.pixels);
  EXPECT_EQ(ahead.pixels, left.pixels);
  // The robot's left is to the left, forward is up, at the bar's scale.
  EXPECT_NEAR(right.centre.x - left.centre.x, 0.1 * pixels_per_metre, 0.75);
  EXPECT_NEAR(right.centre.y, left.centre.y, 0.5);
  EXPECT_NEAR(ahead.centre.y - left.centre.y, -0.05 * pixels_per_metre, 0.75);
  EXPECT_NEAR(ahead.centre.x, left.centre.x, 0.5);
}

}  // namespace
