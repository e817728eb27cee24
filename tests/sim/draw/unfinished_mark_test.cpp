// The top view's mark for a reach the run's end cut off: drawn where its foot
// was when the run ended, in its own colour, and only for such a reach.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/draw/top_view.h"
#include "tests/sim/draw/png_reader.h"

namespace {

namespace fs = std::filesystem;

// Pixels of the unfinished mark's orange within `half` pixels of (x, y).
int orange_near(const testpng::Picture &picture, sim::Vec2 at, int half) {
  int count = 0;
  for (int y = static_cast<int>(at.y) - half; y <= static_cast<int>(at.y) + half; ++y)
    for (int x = static_cast<int>(at.x) - half; x <= static_cast<int>(at.x) + half; ++x) {
      const testpng::Rgb c = picture.at(x, y);
      if (std::abs(c[0] - 217) < 30 && std::abs(c[1] - 115) < 30 && c[2] < 40) ++count;
    }
  return count;
}

TEST(TopView, AReachCutOffByTheRunsEndIsMarkedWhereItsFootWasThen) {
  sim::WorldConfig world;
  world.targets.push_back({0.038, -0.05, 0.006, {214, 30, 30}});
  sim::Reach reach;
  reach.leg = 2;
  reach.start_step = 79;
  reach.aimed = {0.037, -0.054, -0.115};
  reach.end_foot = {0.02, -0.09, -0.115};  // away from the target and the aim
  reach.end_on_ground = true;
  const sim::Vec2 end = sim::top_view_pixel(world, {}, {reach}, {0.02, -0.09});
  const fs::path folder = fs::path(testing::TempDir());
  const auto drawn = [&](const sim::Reach &r, const std::string &name) {
    const std::string path = (folder / (name + std::to_string(::getpid()) + ".png")).string();
    std::ofstream(path, std::ios::binary) << sim::top_view_png(world, {}, {r});
    return testpng::read(path);
  };
  const testpng::Picture cut_off = drawn(reach, "unfinished_");
  ASSERT_GT(cut_off.width, 0);
  EXPECT_GT(orange_near(cut_off, end, 8), 10);
  // The same reach come back, with no rest: a hanging leg, marked where it
  // was sent, and nothing orange where the foot happened to be.
  reach.end_step = 120;
  const testpng::Picture over = drawn(reach, "no_contact_");
  ASSERT_GT(over.width, 0);
  EXPECT_EQ(orange_near(over, end, 8), 0);
}

}  // namespace
