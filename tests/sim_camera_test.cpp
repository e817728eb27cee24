// The kinematic engine's camera: which view the head pan shows, and that a disc
// lying at the ground point a pixel sees appears at that pixel; and the
// scripted blocks painted over any engine's image.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <vector>

#include "sim/camera.h"
#include "sim/config.h"
#include "sim/ground.h"
#include "sim/kinematic/engine.h"
#include "sim/reaches.h"

namespace {

using Rgb = std::array<std::uint8_t, 3>;
constexpr Rgb red{214, 30, 30};
constexpr Rgb blue{30, 30, 214};

// The calibration rule, written out here on its own so that a swapped axis or
// sign in the stand-in shows: (n0 + nu u + nv v) / (1 + du u + dv v).
double rule(const double (&k)[5], double u, double v) {
  return (k[0] + k[1] * u + k[2] * v) / (1.0 + k[3] * u + k[4] * v);
}
constexpr double x_right[5] = {-0.03953646, 0.0004182125, -0.00001674954, -0.00171374,
                               -0.0004149986};
constexpr double y_right[5] = {-0.09113835, 0.0001328035, 0.0004119929, -0.001734998, -0.000426217};
constexpr double x_left[5] = {-0.07332442, 0.0009051759, 0.00008225272, 0.003457706, 0.00007208251};
constexpr double y_left[5] = {-0.1296386, -0.0003427546, 0.0008144595, 0.003544184, 0.00004313039};

// Body-frame ground point of pixel (u, v): leg frame first, then across to the body.
sim::Vec2 expected_ground(bool left, double u, double v) {
  if (left) return {-rule(y_left, u, v), 0.06 - rule(x_left, u, v)};
  return {-rule(y_right, u, v), -0.06 - rule(x_right, u, v)};
}

sim::WorldConfig world(int width, int height, std::vector<sim::Target> targets) {
  sim::WorldConfig config;
  config.camera_width = width;
  config.camera_height = height;
  config.targets = std::move(targets);
  return config;
}

// The kinematic engine and the image the controller reads, stepped together.
struct Rig {
  explicit Rig(const sim::WorldConfig &config, double speed = 10.0)
      : engine(with_speed(config, speed)), camera(config) {}
  static sim::WorldConfig with_speed(sim::WorldConfig config, double speed) {
    config.joint_speed = speed;
    return config;
  }
  void pan(double position) { set_points.set(sim::head_pan_joint, position); }
  void step() {
    engine.advance(set_points);
    camera.update(engine, set_points);
  }
  sim::KinematicEngine engine;
  sim::SetPoints set_points;
  sim::Camera camera;
};

// A rig with the pan already at `pan`.
Rig head_at(const sim::WorldConfig &config, double pan) {
  Rig rig(config);
  rig.pan(pan);
  rig.step();
  return rig;
}

Rgb pixel(const sim::Camera &camera, int u, int v) {
  const unsigned char *p = camera.image() + (v * camera.width() + u) * 3;
  return {p[0], p[1], p[2]};
}

std::vector<std::pair<int, int>> pixels_of(const sim::Camera &camera, Rgb color) {
  std::vector<std::pair<int, int>> found;
  for (int v = 0; v < camera.height(); ++v)
    for (int u = 0; u < camera.width(); ++u)
      if (pixel(camera, u, v) == color) found.emplace_back(u, v);
  return found;
}

TEST(Camera, ADiscAtAPixelsGroundPointAppearsAtThatPixelOnBothSides) {
  const std::vector<std::pair<int, int>> probes = {{3, 3},    {80, 80},  {155, 155}, {20, 140},
                                                   {150, 10}, {250, 60}, {319, 159}};
  for (const bool left : {true, false}) {
    for (const auto &[u, v] : probes) {
      const sim::Vec2 at = expected_ground(left, u, v);
      const Rig rig = head_at(world(320, 160, {{at.x, at.y, 1e-5, red}}), left ? 0.4 : -0.4);
      EXPECT_EQ(pixels_of(rig.camera, red), (std::vector<std::pair<int, int>>{{u, v}}))
          << (left ? "left " : "right ") << u << "," << v;
    }
  }
}

TEST(Camera, PanPositionPicksTheViewAtPlusMinusPointTwo) {
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
    EXPECT_EQ(!pixels_of(rig.camera, red).empty(), c.red_seen) << c.pan;
    EXPECT_EQ(!pixels_of(rig.camera, blue).empty(), c.blue_seen) << c.pan;
  }
  EXPECT_EQ(sim::view_of_pan(0.2), sim::View::left);
  EXPECT_EQ(sim::view_of_pan(-0.2), sim::View::right);
}

TEST(Camera, FollowsThePanPositionNotItsSetPointAndKeepsOneBuffer) {
  const sim::Vec2 l = expected_ground(true, 80, 120);
  Rig rig(world(160, 160, {{l.x, l.y, 0.004, red}}), 0.1);
  const sim::Camera &camera = rig.camera;
  const unsigned char *buffer = camera.image();
  rig.pan(0.4);
  rig.step();  // 0.1
  EXPECT_TRUE(pixels_of(camera, red).empty());
  rig.step();  // 0.2
  EXPECT_FALSE(pixels_of(camera, red).empty());
  rig.pan(0.0);
  rig.step();
  EXPECT_TRUE(pixels_of(camera, red).empty());
  EXPECT_EQ(camera.image(), buffer);
  // Every pixel of the forward view is floor, whose red byte never counts as red.
  for (int i = 0; i < 160 * 160; ++i) ASSERT_LE(camera.image()[i * 3], 25);
}

TEST(Camera, WhereDiscsOverlapTheFirstInFileOrderShows) {
  const sim::Vec2 at = expected_ground(false, 100, 100);
  const Rig rig =
      head_at(world(160, 160, {{at.x, at.y, 0.003, blue}, {at.x, at.y, 0.006, red}}), -0.4);
  EXPECT_EQ(pixel(rig.camera, 100, 100), blue);
  EXPECT_FALSE(pixels_of(rig.camera, red).empty());  // the larger disc's rim
}

TEST(Camera, ThePixelSeeingAGroundPointIsTheOneWhoseGroundPointItIs) {
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

TEST(Camera, TheStandInsOwnWindowSearchIsThePlainScan) {
  // The last window of exact target level, x outer and y inner, read pixel by
  // pixel, on images where several windows match and some nearly do.
  std::mt19937 random(7);
  for (int trial = 0; trial < 40; ++trial) {
    const int width = 8 + static_cast<int>(random() % 200);
    const int height = 8 + static_cast<int>(random() % 200);
    std::vector<unsigned char> image(static_cast<std::size_t>(width * height * 3), 20);
    for (int patch = 0; patch < 6; ++patch) {
      const int x0 = static_cast<int>(random() % static_cast<unsigned>(width));
      const int y0 = static_cast<int>(random() % static_cast<unsigned>(height));
      const auto level = static_cast<unsigned char>(patch % 3 == 0 ? 215 : 214);
      for (int y = y0; y < std::min(height, y0 + 7 + patch % 2); ++y)
        for (int x = x0; x < std::min(width, x0 + 7); ++x) image[(y * width + x) * 3] = level;
    }
    std::optional<sim::Window> plain;
    const int positions = std::min(std::min(width, height) - 7, 157);
    for (int x = 0; x < positions; ++x)
      for (int y = 0; y < positions; ++y) {
        int sum = 0;
        for (int k = 0; k < 49; ++k) sum += image[((y + k / 7) * width + x + k % 7) * 3];
        if (sum == 49 * 214) plain = sim::Window{x, y};
      }
    const std::optional<sim::Window> found =
        sim::find_target_level_window(image.data(), width, height);
    ASSERT_EQ(found.has_value(), plain.has_value()) << trial;
    if (found) {
      EXPECT_TRUE(found->x == plain->x && found->y == plain->y) << trial;
    }
  }
}

TEST(Camera, PixelsAboveTheHorizonSeeNoGround) {
  // Far to the right of a very wide right view, the mapping's denominator
  // turns negative: no ground there, and nothing that counts as red.
  EXPECT_FALSE(sim::ground_point(sim::View::right, 1000, 0).has_value());
  EXPECT_FALSE(sim::ground_point(sim::View::forward, 10, 10).has_value());
  const Rig rig = head_at(world(1024, 4, {{0.0, 0.0, 100.0, red}}), -0.4);
  EXPECT_EQ(pixel(rig.camera, 1000, 0), sim::sky_color);
  EXPECT_EQ(pixel(rig.camera, 10, 0), red);
}

TEST(Camera, ScriptedBlocksFollowThePanSetPointsSign) {
  sim::WorldConfig config = world(160, 160, {});
  config.blocks.push_back({true, 10, 20, 7, 7, red});
  config.blocks.push_back({false, 100, 30, 7, 7, blue});
  Rig rig(config, 0.0001);
  const sim::Camera &camera = rig.camera;
  rig.pan(0.01);
  rig.step();  // the position barely moves: the targets' view stays forward
  EXPECT_EQ(pixels_of(camera, red).size(), 49u);
  EXPECT_EQ(pixel(camera, 10, 20), red);
  EXPECT_TRUE(pixels_of(camera, blue).empty());
  rig.pan(-0.01);
  rig.step();
  EXPECT_EQ(pixels_of(camera, blue).size(), 49u);
  EXPECT_TRUE(pixels_of(camera, red).empty());
}

}  // namespace
