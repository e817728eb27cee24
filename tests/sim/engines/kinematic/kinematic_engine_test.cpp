// The kinematic engine: joints that ramp towards their set-points within
// their ranges, and a camera whose side views show each disc exactly where
// the calibration rule says a pixel sees the ground.
#include "sim/engines/kinematic/kinematic_engine.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/core/calibration_rule.h"
#include "sim/core/joints.h"
#include "sim/engines/kinematic/ramped_joints.h"
#include "tests/sim/calibration_oracle.h"
#include "tests/support/worlds.h"

namespace {

using Rgb = std::array<std::uint8_t, 3>;
constexpr Rgb red{214, 30, 30};
constexpr Rgb blue{30, 30, 214};

using calibration::expected_ground;

sim::WorldConfig world(int width, int height, std::vector<sim::Target> targets) {
  sim::WorldConfig config = support::kinematic_world(std::move(targets));
  config.camera_width = width;
  config.camera_height = height;
  return config;
}

// The engine and an image it keeps up to date, stepped together.
struct Rig {
  explicit Rig(const sim::WorldConfig &config, double speed = 10.0)
      : engine(support::with_joint_speed(config, speed)),
        width(config.camera_width),
        height(config.camera_height),
        image(static_cast<std::size_t>(width * height * 3)) {}
  void pan(double position) { set_points.set(sim::head_pan_joint, position); }
  void step() {
    engine.advance(set_points);
    engine.render(image);
  }
  Rgb pixel(int u, int v) const {
    const unsigned char *p = image.data() + (v * width + u) * 3;
    return {p[0], p[1], p[2]};
  }
  std::vector<std::pair<int, int>> pixels_of(Rgb color) const {
    std::vector<std::pair<int, int>> found;
    for (int v = 0; v < height; ++v)
      for (int u = 0; u < width; ++u)
        if (pixel(u, v) == color) found.emplace_back(u, v);
    return found;
  }
  sim::KinematicEngine engine;
  sim::SetPoints set_points;
  int width;
  int height;
  std::vector<unsigned char> image;
};

// A rig with the pan already at `pan`.
Rig head_at(const sim::WorldConfig &config, double pan) {
  Rig rig(config);
  rig.pan(pan);
  rig.step();
  return rig;
}

TEST(KinematicCamera, ADiscAtAPixelsGroundPointAppearsAtThatPixelOnBothSides) {
  const std::vector<std::pair<int, int>> probes = {{3, 3},    {80, 80},  {155, 155}, {20, 140},
                                                   {150, 10}, {250, 60}, {319, 159}};
  for (const bool left : {true, false}) {
    for (const auto &[u, v] : probes) {
      const sim::Vec2 at = expected_ground(left, u, v);
      const Rig rig = head_at(world(320, 160, {{at.x, at.y, 1e-5, red}}), left ? 0.4 : -0.4);
      EXPECT_EQ(rig.pixels_of(red), (std::vector<std::pair<int, int>>{{u, v}}))
          << (left ? "left " : "right ") << u << "," << v;
    }
  }
}

TEST(KinematicCamera, PanPositionPicksTheViewAtPlusMinusPointTwo) {
  // One disc in each side view; the forward view sees neither.
  const sim::Vec2 l = expected_ground(true, 80, 120);
  const sim::Vec2 r = expected_ground(false, 80, 120);
  const sim::WorldConfig config =
      world(160, 160, {{l.x, l.y, 0.004, red}, {r.x, r.y, 0.004, blue}});
  struct Case {
    double pan;
    bool red_seen;
    bool blue_seen;
  };
  for (const Case &c : {Case{0.2, true, false}, Case{0.4, true, false}, Case{0.19, false, false},
                        Case{0.0, false, false}, Case{-0.19, false, false}, Case{-0.2, false, true},
                        Case{-1.0, false, true}}) {
    const Rig rig = head_at(config, c.pan);
    EXPECT_EQ(!rig.pixels_of(red).empty(), c.red_seen) << c.pan;
    EXPECT_EQ(!rig.pixels_of(blue).empty(), c.blue_seen) << c.pan;
  }
  EXPECT_EQ(sim::view_of_pan(0.2), sim::View::left);
  EXPECT_EQ(sim::view_of_pan(-0.2), sim::View::right);
}

TEST(KinematicCamera, FollowsThePanPositionNotItsSetPoint) {
  const sim::Vec2 l = expected_ground(true, 80, 120);
  Rig rig(world(160, 160, {{l.x, l.y, 0.004, red}}), 0.1);
  rig.pan(0.4);
  rig.step();  // 0.1
  EXPECT_EQ(rig.engine.view(), sim::View::forward);
  EXPECT_TRUE(rig.pixels_of(red).empty());
  rig.step();  // 0.2
  EXPECT_EQ(rig.engine.view(), sim::View::left);
  EXPECT_FALSE(rig.pixels_of(red).empty());
  rig.pan(0.0);
  rig.step();
  EXPECT_TRUE(rig.pixels_of(red).empty());
  // Every pixel of the forward view is floor, whose red byte never counts as red.
  for (int i = 0; i < 160 * 160; ++i) ASSERT_LE(rig.image[static_cast<std::size_t>(i * 3)], 25);
}

TEST(KinematicCamera, WhereDiscsOverlapTheFirstInFileOrderShows) {
  const sim::Vec2 at = expected_ground(false, 100, 100);
  const Rig rig =
      head_at(world(160, 160, {{at.x, at.y, 0.003, blue}, {at.x, at.y, 0.006, red}}), -0.4);
  EXPECT_EQ(rig.pixel(100, 100), blue);
  EXPECT_FALSE(rig.pixels_of(red).empty());  // the larger disc's rim
}

TEST(KinematicCamera, PixelsAboveTheHorizonShowSkyNotGround) {
  // Far to the right of a very wide right view, the mapping's denominator
  // turns negative: no ground there, and nothing that counts as red.
  const Rig rig = head_at(world(1024, 4, {{0.0, 0.0, 100.0, red}}), -0.4);
  EXPECT_EQ(rig.pixel(1000, 0), sim::sky_color);
  EXPECT_EQ(rig.pixel(10, 0), red);
}

TEST(Joints, MoveAtMostTheirSpeedAndArriveExactly) {
  sim::RampedJoints joints(0.25);
  sim::SetPoints set;
  set.set(0, 0.6);
  std::vector<double> seen;
  for (int i = 0; i < 4; ++i) {
    joints.advance(set);
    seen.push_back(joints.position(0));
  }
  EXPECT_EQ(seen, (std::vector<double>{0.25, 0.5, 0.6, 0.6}));

  sim::RampedJoints slow(0.1);
  sim::SetPoints slow_set;
  slow_set.set(5, -0.25);
  slow.advance(slow_set);
  EXPECT_DOUBLE_EQ(slow.position(5), -0.1);
}

TEST(Joints, AdvanceReportsOnlyTheJointsThatMoved) {
  sim::RampedJoints joints(0.25);
  sim::SetPoints set;
  set.set(2, 0.3);
  set.set(13, 0.0);  // commanded where it already is
  EXPECT_EQ(joints.advance(set), 1u << 2);
  EXPECT_EQ(joints.advance(set), 1u << 2);
  EXPECT_EQ(joints.advance(set), 0u);
  for (int j = 0; j < sim::joint_count; ++j)
    if (j != 2) {
      EXPECT_EQ(joints.position(j), 0.0) << j;
    }
}

TEST(Joints, HeadTiltSaturatesBeyondItsRangeAndReachesTheSweepTilt) {
  sim::RampedJoints joints(0.25);
  sim::SetPoints set;
  set.set(sim::head_tilt_joint, -8.35);
  for (int i = 0; i < 40; ++i) joints.advance(set);
  const double limit = sim::joint_range(sim::head_tilt_joint).low;
  EXPECT_EQ(joints.position(sim::head_tilt_joint), limit);
  EXPECT_GT(limit, -8.35);
  set.set(sim::head_tilt_joint, -1.24f);
  joints.advance(set);
  EXPECT_EQ(joints.position(sim::head_tilt_joint), static_cast<double>(-1.24f));
}

TEST(Joints, RangesHoldEverySetPointTheControllerGivesWithinReach) {
  // Rest posture, supporting legs, head poses and the extremes of a reach.
  for (int leg : {0, 2}) {
    EXPECT_TRUE(sim::joint_range(leg * 3).low <= -1.6 && sim::joint_range(leg * 3).high >= 1.4);
    EXPECT_TRUE(sim::joint_range(leg * 3 + 1).low <= -1.5708 &&
                sim::joint_range(leg * 3 + 1).high >= 1.5708);
    EXPECT_TRUE(sim::joint_range(leg * 3 + 2).low <= 0.385 &&
                sim::joint_range(leg * 3 + 2).high >= support::rest_posture[2]);
  }
  EXPECT_LE(sim::joint_range(3).low, -0.75);
  EXPECT_GE(sim::joint_range(5).high, 1.4);
  EXPECT_LE(sim::joint_range(sim::head_pan_joint).low, -0.4);
  EXPECT_GE(sim::joint_range(sim::head_pan_joint).high, 0.4);
  EXPECT_LE(sim::joint_range(sim::head_roll_joint).low, -0.26);
  EXPECT_LE(sim::joint_range(sim::head_tilt_joint).low, -1.24);
}

}  // namespace
