// The camera's sensor: noise of the sigma asked for, Gaussian in shape and
// fresh in every image, the same for the same seed; a gain that scales every
// level; and the scene the camera looked at, kept apart for the stand-in's
// own record of what it showed.
#include "sim/world/image_sensor.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "sim/core/calibration_rule.h"
#include "sim/engines/kinematic/kinematic_engine.h"
#include "sim/world/camera_device.h"

namespace {

using Rgb = std::array<std::uint8_t, 3>;
constexpr Rgb red{214, 30, 30};

// A kinematic robot's camera whose head turns at once.
struct Rig {
  explicit Rig(sim::WorldConfig config) : engine(kinematic(config)), camera(config) {}
  static sim::WorldConfig kinematic(sim::WorldConfig config) {
    config.engine = sim::EngineKind::kinematic;
    config.joint_speed = 1.0;
    return config;
  }
  void look(double pan) {
    set_points.set(sim::head_pan_joint, pan);
    engine.advance(set_points);
    camera.update(engine, set_points);
  }
  std::vector<unsigned char> image() const {
    const std::size_t bytes = static_cast<std::size_t>(camera.width() * camera.height() * 3);
    return {camera.image(), camera.image() + bytes};
  }
  sim::KinematicEngine engine;
  sim::SetPoints set_points;
  sim::CameraDevice camera;
};

sim::WorldConfig sensor(double gain, double noise, std::int64_t seed = 0) {
  sim::WorldConfig config;
  config.factors.gain = gain;
  config.factors.noise = noise;
  config.seed = seed;
  return config;
}

// The chance that Gaussian noise of sigma, rounded, comes out as k.
double rounded_normal(int k, double sigma) {
  const auto below = [&](double x) { return 0.5 * std::erfc(-x / (sigma * std::sqrt(2.0))); };
  return below(k + 0.5) - below(k - 0.5);
}

// Over the flat floor the forward view shows, every level is the floor's
// plus the noise: its spread and its shape, rounded to whole levels, are a
// Gaussian's of the sigma asked for, with the rounding's own 1/12 added to
// the variance.
TEST(ImageSensor, NoiseOverAFlatFloorHasTheSigmaAskedForAndAGaussiansShape) {
  for (const double sigma : {0.7, 3.0}) {
    Rig rig(sensor(1.0, sigma));
    std::map<int, double> counts;
    double sum = 0.0, squares = 0.0, n = 0.0;
    for (int frame = 0; frame < 20; ++frame) {
      rig.look(0.0);
      const std::vector<unsigned char> image = rig.image();
      // The green level (120) is far from both ends: no clipping.
      for (std::size_t i = 1; i < image.size(); i += 3) {
        const int off = image[i] - sim::floor_color[1];
        counts[off] += 1.0;
        sum += off;
        squares += off * off;
        n += 1.0;
      }
    }
    const double mean = sum / n;
    EXPECT_NEAR(mean, 0.0, 0.01) << sigma;
    const double spread = std::sqrt(squares / n - mean * mean);
    EXPECT_NEAR(spread, std::sqrt(sigma * sigma + 1.0 / 12.0), 0.01 * sigma) << sigma;
    for (int k = -static_cast<int>(4 * sigma); k <= static_cast<int>(4 * sigma); ++k) {
      const double expected = n * rounded_normal(k, sigma);
      EXPECT_NEAR(counts[k], expected, 5.0 * std::sqrt(expected) + 2.0)
          << "sigma " << sigma << ", level offset " << k;
    }
  }
}

TEST(ImageSensor, EveryImageHasFreshNoiseAndTheSameSeedGivesTheSameImages) {
  Rig first(sensor(1.0, 2.0, 42)), again(sensor(1.0, 2.0, 42)), other(sensor(1.0, 2.0, 43));
  std::vector<unsigned char> before;
  for (int frame = 0; frame < 3; ++frame) {
    const std::uint64_t generation = first.camera.generation();
    for (Rig *rig : {&first, &again, &other}) rig->look(0.0);
    // Nothing moved, yet the image is new.
    EXPECT_GT(first.camera.generation(), generation);
    EXPECT_NE(first.image(), before);
    EXPECT_EQ(first.image(), again.image());
    EXPECT_NE(first.image(), other.image());
    before = first.image();
  }
}

// The controller finds its target by the exact level 214 of the disc's red:
// a gain moves that level, and clips it at 255.
TEST(ImageSensor, GainScalesTheTargetsLevelAndEveryOtherAndClipsAt255) {
  const std::optional<sim::Vec2> at = sim::ground_point(sim::View::left, 80, 100);
  ASSERT_TRUE(at);
  for (const double gain : {1.0, 1.05, 0.9, 1.3, 0.0}) {
    sim::WorldConfig config = sensor(gain, 0.0);
    config.targets.push_back({at->x, at->y, 0.006, red});
    Rig rig(config);
    rig.look(0.4);
    const auto scaled = [&](int level) {
      return static_cast<unsigned char>(std::min(255.0, std::floor(gain * level + 0.5)));
    };
    const unsigned char *disc = rig.camera.image() + (100 * 160 + 80) * 3;
    EXPECT_EQ(disc[0], scaled(214)) << gain;
    EXPECT_EQ(disc[1], scaled(30)) << gain;
    const unsigned char *floor = rig.camera.image() + (150 * 160 + 10) * 3;
    EXPECT_EQ(floor[0], scaled(sim::floor_color[0])) << gain;
    EXPECT_EQ(floor[1], scaled(sim::floor_color[1])) << gain;
    // What the camera looked at is kept as the scene showed it.
    const unsigned char *scene = rig.camera.scene() + (100 * 160 + 80) * 3;
    EXPECT_EQ(scene[0], 214) << gain;
  }
}

}  // namespace
