// The pictures as a reader sees them, read back from their PNG files: marks
// where the data says, in the data's colours, and nothing cut off at the
// picture's edge; and inputs far outside the usual that must still give a
// picture.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "sim/draw/frame_picture.h"
#include "sim/draw/joint_plot.h"
#include "sim/draw/top_view.h"
#include "sim/draw/video_caption.h"
#include "tests/support/png_reader.h"

namespace {

using support::Rgb;
using support::saved_picture;

sim::WorldConfig two_discs() {
  sim::WorldConfig world;
  world.targets.push_back({0.038, -0.05, 0.006, {214, 30, 30}});
  world.targets.push_back({0.045, 0.055, 0.006, {40, 170, 220}});
  return world;
}

TEST(TopView, EachTargetsCentreShowsTheTargetsColourWhereTheMapPutsIt) {
  const sim::WorldConfig world = two_discs();
  const std::vector<sim::Placement> placements{
      {12, 0, {0.0, 0.06, -0.115}, std::nullopt, std::nullopt},
      {80, 2, {0.02, -0.07, -0.115}, std::nullopt, std::nullopt}};
  sim::Reach reach;
  reach.leg = 2;
  reach.start_step = 60;
  reach.placement = placements[1];
  const std::vector<sim::Reach> reaches{reach};
  const support::Picture picture =
      saved_picture("top_view.png", sim::top_view_png(world, placements, reaches));
  ASSERT_GT(picture.width, 0);
  for (const sim::Target &target : world.targets) {
    const sim::Vec2 at = sim::top_view_pixel(world, placements, reaches, {target.x, target.y});
    const Rgb colour{target.color[0], target.color[1], target.color[2]};
    EXPECT_EQ(picture.at(static_cast<int>(at.x), static_cast<int>(at.y)), colour)
        << target.x << ", " << target.y;
  }
  // Forward is up and the robot's left is to the left.
  const sim::Vec2 ahead = sim::top_view_pixel(world, placements, reaches, {0.1, 0.0});
  const sim::Vec2 behind = sim::top_view_pixel(world, placements, reaches, {-0.05, 0.0});
  const sim::Vec2 left = sim::top_view_pixel(world, placements, reaches, {0.0, 0.05});
  EXPECT_LT(ahead.y, behind.y);
  EXPECT_LT(left.x, ahead.x);
  EXPECT_EQ(support::ink_at_edges(picture, 3), 0);
}

int brightness(Rgb c) { return c[0] + c[1] + c[2]; }

TEST(TopView, TheTorsoWhereItEndedIsShownWholeAndShadedInside) {
  const sim::WorldConfig world = two_discs();
  const std::vector<sim::Placement> placements{
      {12, 0, {0.0, 0.06, -0.115}, std::nullopt, std::nullopt}};
  // A torso that ended turned a little, reaching far behind the hips.
  const std::vector<sim::Vec2> torso{{0.03, 0.05}, {-0.22, 0.06}, {-0.23, -0.03}, {0.02, -0.04}};
  const support::Picture picture =
      saved_picture("top_view_torso.png", sim::top_view_png(world, placements, {}, torso));
  ASSERT_GT(picture.width, 0);
  EXPECT_EQ(support::ink_at_edges(picture, 3), 0);
  const auto pixel = [&](sim::Vec2 ground) {
    const sim::Vec2 at = sim::top_view_pixel(world, placements, {}, ground, torso);
    return picture.at(static_cast<int>(at.x), static_cast<int>(at.y));
  };
  // The targets are still where the map puts them, the torso's rear too.
  for (const sim::Target &target : world.targets)
    EXPECT_EQ(pixel({target.x, target.y}),
              (Rgb{target.color[0], target.color[1], target.color[2]}));
  // Behind the hips, away from every other mark: inside the outline is
  // shaded, outside it is not, and the outline itself is dark.
  const sim::Vec2 rear_inside{-0.2, 0.0};
  const sim::Vec2 rear_outside{-0.2, -0.08};
  EXPECT_LT(brightness(pixel(rear_inside)), brightness(pixel(rear_outside)));
  const sim::Vec2 rear_edge_mid{-0.225, 0.015};
  EXPECT_LT(brightness(pixel(rear_edge_mid)), brightness(pixel(rear_inside)) - 150);
}

TEST(VideoCaption, WritesOnlyTheBottomBandWhateverTheFrameOrTheText) {
  constexpr int width = 200;
  constexpr int height = 100;
  const Rgb scene{10, 200, 30};
  std::vector<unsigned char> frame;
  const auto paint = [&](int w, int h) {
    frame.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3u, 0);
    for (std::size_t i = 0; i < frame.size(); i += 3)
      frame[i] = scene[0], frame[i + 1] = scene[1], frame[i + 2] = scene[2];
  };
  const auto at = [&](int w, int x, int y) {
    const std::size_t i =
        (static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)) *
        3u;
    return Rgb{frame[i], frame[i + 1], frame[i + 2]};
  };

  paint(width, height);
  // A line far longer than the frame is wide is cut at its edge.
  sim::caption_video_frame(frame, width, height,
                           {"step 100000000, 3200000.00 s", std::string(400, 'W')});
  int untouched_rows = 0;
  while (untouched_rows < height) {
    bool same = true;
    for (int x = 0; x < width; ++x) same = same && at(width, x, untouched_rows) == scene;
    if (!same) break;
    ++untouched_rows;
  }
  // Two lines take a band of about 60 pixels; everything above it is the scene.
  EXPECT_GT(untouched_rows, 30);
  EXPECT_LT(untouched_rows, 50);
  // The band is the scene darkened, with light text over it.
  int darkened = 0;
  int text = 0;
  for (int y = untouched_rows; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const Rgb c = at(width, x, y);
      darkened += brightness(c) < brightness(scene) / 2 + 10;
      text += c[0] > 150 && c[2] > 150;
    }
  const int band_pixels = (height - untouched_rows) * width;
  EXPECT_GT(darkened, band_pixels * 7 / 10);
  EXPECT_GT(text, 50);

  // A frame lower than the band is captioned all over; nothing is written
  // past it, which AddressSanitizer would see.
  paint(40, 6);
  sim::caption_video_frame(frame, 40, 6, {"a", "b", "c"});
  EXPECT_NE(at(40, 0, 0), scene);
  // A buffer too small for the size it is said to have is left alone.
  paint(width, height);
  sim::caption_video_frame(std::span(frame).first(100), width, height, {"step 1"});
  EXPECT_EQ(at(width, 10, height - 10), scene);
}

TEST(CameraFrame, ShowsEachImagePixelInItsOwnColourAndTheWholeTitle) {
  // A 20 x 10 image with one blue pixel at column 15, row 5.
  std::vector<unsigned char> image(3 * 20 * 10, 200);
  const std::size_t blue = (5 * 20 + 15) * 3;
  image[blue] = 10, image[blue + 1] = 20, image[blue + 2] = 230;
  // The longest title a run can give: a reach at step 100,000,000.
  const std::string title =
      "step 100000000, forward view: the image the right leg's reach was decided on";
  const support::Picture picture = saved_picture(
      "frame.png", sim::frame_picture_png(20, 10, image.data(), title, sim::Window{1, 1}));
  ASSERT_GT(picture.width, 0);
  int blue_pixels = 0;
  int grey_pixels = 0;
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x) {
      blue_pixels += picture.at(x, y) == Rgb{10, 20, 230};
      grey_pixels += picture.at(x, y) == Rgb{200, 200, 200};
    }
  // Enlarged by a whole factor: the blue pixel is a square of k x k, and
  // there are 199 grey ones as large (less what the window's outline covers).
  const int zoom = static_cast<int>(std::lround(std::sqrt(blue_pixels)));
  ASSERT_GT(zoom, 1);
  EXPECT_EQ(blue_pixels, zoom * zoom);
  EXPECT_GT(grey_pixels, 150 * zoom * zoom);
  EXPECT_EQ(support::ink_at_edges(picture, 3), 0);
}

TEST(JointPlot, NothingIsCutOffAtTheEdgeEvenForTheLongestRun) {
  sim::JointHistory history(100'000'000, 0.032);
  sim::JointHistory::Sample sample;
  sample.fill(0.25f);
  history.add(1, sample, sample);
  history.add(50'000'000, sample, sample);
  history.mark_reach(7);
  const support::Picture picture = saved_picture("joints.png", sim::joint_plot_png(history));
  ASSERT_GT(picture.width, 0);
  EXPECT_EQ(support::ink_at_edges(picture, 3), 0);
}

TEST(Pictures, TargetsAndFeetFarOutsideTheGroundShownStillGiveAPicture) {
  sim::WorldConfig world = two_discs();
  world.targets.push_back({2e6, 0.0, 0.006, {214, 30, 30}});
  world.targets.push_back({0.3, -0.2, 1e308, {30, 160, 30}});
  world.targets.push_back({-1e308, 1e308, 1e308, {30, 30, 214}});
  world.targets.push_back({0.05, 0.0, 1e-9, {214, 30, 30}});
  const std::vector<sim::Placement> placements{
      {10, 0, {0.0, 0.06, -0.115}, std::nullopt, std::nullopt},
      {20, 2, {NAN, 0.0, -0.115}, std::nullopt, std::nullopt},
      {30, 2, {1e300, -INFINITY, -0.115}, std::nullopt, std::nullopt},
      {40, 0, {-1e308, 1e308, -0.115}, 4, 0.0},
  };
  sim::Reach hanging;
  hanging.aimed = {INFINITY, 0.0, -0.1};
  EXPECT_FALSE(sim::top_view_png(world, placements, {hanging}).empty());

  std::vector<unsigned char> image(3 * 20 * 10, 200);
  for (const sim::Window window : {sim::Window{15, 5}, sim::Window{-2'000'000'000, 2'000'000'000}})
    EXPECT_FALSE(sim::frame_picture_png(20, 10, image.data(), "step 1, left view", window).empty());
  EXPECT_TRUE(sim::frame_picture_png(20, 10, nullptr, "step 1, left view", std::nullopt).empty());
}

}  // namespace
