// The image the controller reads: one buffer for the whole run, brought up to
// date from the engine, with the world's scripted blocks painted over it.
#include "sim/world/camera_device.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/core/calibration_rule.h"
#include "sim/engines/kinematic/kinematic_engine.h"
#include "tests/support/worlds.h"

namespace {

using Rgb = std::array<std::uint8_t, 3>;
constexpr Rgb red{214, 30, 30};
constexpr Rgb blue{30, 30, 214};

struct Rig {
  Rig(const sim::WorldConfig &config, double speed)
      : engine(support::with_joint_speed(config, speed)), camera(config) {}
  void pan(double position) { set_points.set(sim::head_pan_joint, position); }
  void step() {
    engine.advance(set_points);
    camera.update(engine, set_points);
  }
  Rgb pixel(int u, int v) const {
    const unsigned char *p = camera.image() + (v * camera.width() + u) * 3;
    return {p[0], p[1], p[2]};
  }
  std::size_t count(Rgb color) const {
    std::size_t found = 0;
    for (int v = 0; v < camera.height(); ++v)
      for (int u = 0; u < camera.width(); ++u) found += pixel(u, v) == color;
    return found;
  }
  sim::KinematicEngine engine;
  sim::SetPoints set_points;
  sim::CameraDevice camera;
};

TEST(CameraDevice, ScriptedBlocksFollowThePanSetPointsSign) {
  sim::WorldConfig config = support::kinematic_world();
  config.blocks.push_back({true, 10, 20, 7, 7, red});
  config.blocks.push_back({false, 100, 30, 7, 7, blue});
  Rig rig(config, 0.0001);
  rig.pan(0.01);
  rig.step();  // the position barely moves: the targets' view stays forward
  EXPECT_EQ(rig.count(red), 49u);
  EXPECT_EQ(rig.pixel(10, 20), red);
  EXPECT_EQ(rig.count(blue), 0u);
  rig.pan(-0.01);
  rig.step();
  EXPECT_EQ(rig.count(blue), 49u);
  EXPECT_EQ(rig.count(red), 0u);
  EXPECT_EQ(rig.camera.shown(), sim::View::right);
}

TEST(CameraDevice, KeepsOneBufferWhateverTheViewAndTakesBlocksAwayAgain) {
  // A disc in the left view, and a block that shows with the head turned left.
  sim::WorldConfig config = support::kinematic_world();
  const std::optional<sim::Vec2> at = sim::ground_point(sim::View::left, 80, 120);
  ASSERT_TRUE(at);
  config.targets.push_back({at->x, at->y, 0.004, red});
  config.blocks.push_back({true, 0, 0, 7, 7, blue});
  Rig rig(config, 0.5);
  const unsigned char *buffer = rig.camera.image();
  rig.pan(0.4);
  rig.step();
  EXPECT_GT(rig.count(red), 0u);
  EXPECT_EQ(rig.count(blue), 49u);
  rig.pan(0.0);
  rig.step();
  EXPECT_EQ(rig.count(red), 0u);
  EXPECT_EQ(rig.count(blue), 0u);
  EXPECT_EQ(rig.camera.image(), buffer);
}

}  // namespace
