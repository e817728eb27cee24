// The top view's mark for a reach the run's end cut off: drawn where its foot
// was when the run ended, in its own colour, and only for such a reach.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "sim/draw/top_view.h"
#include "tests/sim/draw/top_view_reading.h"
#include "tests/support/png_reader.h"
#include "tests/support/reaches.h"

namespace {

// Pixels of the unfinished mark's orange within `half` pixels of a point.
int orange_near(const support::Picture &picture, support::Point at, int half) {
  int count = 0;
  for (int y = static_cast<int>(at.y) - half; y <= static_cast<int>(at.y) + half; ++y)
    for (int x = static_cast<int>(at.x) - half; x <= static_cast<int>(at.x) + half; ++x) {
      const support::Rgb c = picture.at(x, y);
      if (std::abs(c[0] - 217) < 30 && std::abs(c[1] - 115) < 30 && c[2] < 40) ++count;
    }
  return count;
}

TEST(TopView, AReachCutOffByTheRunsEndIsMarkedWhereItsFootWasThen) {
  sim::WorldConfig world;
  world.targets.push_back({0.038, -0.05, 0.006, {214, 30, 30}});
  sim::Reach reach =
      support::reach_of(2, 79, std::nullopt, std::nullopt, sim::Vec3{0.037, -0.054, -0.115});
  reach.end_foot = {0.02, -0.09, -0.115};  // away from the target and the aim
  reach.end_on_ground = true;
  const support::Picture cut_off =
      support::saved_picture("unfinished.png", sim::top_view_png(world, {}, {reach}));
  ASSERT_GT(cut_off.width, 0);
  const topview::Reading ground = topview::read_ground(cut_off);
  ASSERT_GT(ground.pixels_per_metre, 0.0);
  EXPECT_GT(orange_near(cut_off, ground.at({0.02, -0.09}), 8), 10);
  // The same reach come back, with no rest: a hanging leg, marked where it
  // was sent, and nothing orange where the foot happened to be.
  reach.end_step = 120;
  const support::Picture over =
      support::saved_picture("no_contact.png", sim::top_view_png(world, {}, {reach}));
  ASSERT_GT(over.width, 0);
  EXPECT_EQ(orange_near(over, topview::read_ground(over).at({0.02, -0.09}), 8), 0);
}

}  // namespace
