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
#include "tests/sim/draw/top_view_reading.h"
#include "tests/support/png_reader.h"
#include "tests/support/reaches.h"

namespace {

using support::Rgb;
using support::saved_picture;
using topview::read_ground;
using topview::Reading;

// The marks' inks in 8-bit channels: on target (0.05, 0.6, 0.25), never
// came down (0.55, 0.15, 0.65), a rest (0.35, 0.35, 0.35).
constexpr Rgb on_target_green{12, 153, 64};
constexpr Rgb no_contact_purple{140, 38, 166};
constexpr Rgb rest_grey{89, 89, 89};
// The left front hip, and the rest point under it, 0.06 m left of the midline.
constexpr double hip_y_for_test = 0.06;

// A red disc on the robot's right and a blue one ahead on its left.
sim::WorldConfig two_discs() {
  sim::WorldConfig world;
  world.targets.push_back({0.038, -0.05, 0.006, {214, 30, 30}});
  world.targets.push_back({0.09, 0.1, 0.008, {40, 70, 220}});
  return world;
}

TEST(TopView, EveryTargetAndReachLiesWhereTheFrameAndTheScaleBarPutItsGroundPoint) {
  const sim::WorldConfig world = two_discs();
  // A reach that ended right on the red disc's centre.
  const sim::Placement landing{80, 2, {0.038, -0.05, -0.115}, 0, 0.0};
  const support::Picture picture =
      saved_picture("top_view.png",
                    sim::top_view_png(world, {landing}, {support::reach_of(2, 60, 100, landing)}));
  ASSERT_GT(picture.width, 0);
  EXPECT_EQ(support::ink_at_edges(picture, 3), 0);
  const Reading ground = read_ground(picture);
  ASSERT_GT(ground.pixels_per_metre, 0.0);
  // The frame is as wide as the ground it shows, by the scale bar: 0.34 m.
  EXPECT_NEAR((ground.frame.right - ground.frame.left) / ground.pixels_per_metre, 0.34, 0.002);
  for (const sim::Target &target : world.targets) {
    const support::Found disc =
        support::find_colour(picture, {target.color[0], target.color[1], target.color[2]},
                             ground.around({target.x, target.y}, 30));
    const support::Point expected = ground.at({target.x, target.y});
    EXPECT_NEAR(disc.centre.x, expected.x, 0.6) << target.x << ", " << target.y;
    EXPECT_NEAR(disc.centre.y, expected.y, 0.6) << target.x << ", " << target.y;
    // Its whole disc but what the reach's mark covers.
    EXPECT_GT(disc.pixels,
              2.5 * (std::pow(target.radius * ground.pixels_per_metre - 1.5, 2.0) - 6.5 * 6.5));
  }
  // The reach's green mark, on its landing.
  const support::Found mark =
      support::find_colour(picture, on_target_green, ground.around({0.038, -0.05}, 7));
  ASSERT_GT(mark.pixels, 20);
  EXPECT_NEAR(mark.centre.x, ground.at({0.038, -0.05}).x, 0.6);
  EXPECT_NEAR(mark.centre.y, ground.at({0.038, -0.05}).y, 0.6);
}

TEST(TopView, MarksThatShareASpotAllStayInSightAndRestsShowUnderTheHips) {
  const sim::WorldConfig world = two_discs();
  // On the red disc's centre: a reach that landed there, then one that
  // hung in the air there. Under the left hip, a foot at rest.
  const sim::Placement rest{10, 0, {0.0, hip_y_for_test, -0.115}, std::nullopt, std::nullopt};
  const sim::Placement landing{80, 2, {0.038, -0.05, -0.115}, 0, 0.0};
  const std::vector<sim::Reach> reaches{
      support::reach_of(2, 60, 100, landing),
      support::reach_of(2, 200, 260, std::nullopt, sim::Vec3{0.038, -0.05, -0.09})};
  const support::Picture picture =
      saved_picture("top_view_shared_spot.png", sim::top_view_png(world, {rest, landing}, reaches));
  ASSERT_GT(picture.width, 0);
  const Reading ground = read_ground(picture);
  ASSERT_GT(ground.pixels_per_metre, 0.0);
  const support::Area spot = ground.around({0.038, -0.05}, 7);
  EXPECT_GT(support::find_colour(picture, on_target_green, spot).pixels, 15);
  EXPECT_GT(support::find_colour(picture, no_contact_purple, spot).pixels, 15);
  // The rest's dot, in the middle of the hip's square, and its count beside.
  const support::Found dot =
      support::find_colour(picture, rest_grey, ground.around({0.0, hip_y_for_test}, 5));
  EXPECT_GT(dot.pixels, 20);
  EXPECT_NEAR(dot.centre.x, ground.at({0.0, hip_y_for_test}).x, 0.6);
  EXPECT_NEAR(dot.centre.y, ground.at({0.0, hip_y_for_test}).y, 0.6);
  const support::Point hip = ground.at({0.0, hip_y_for_test});
  const support::Found count =
      support::find_colour(picture, rest_grey,
                           {static_cast<int>(hip.x) - 70, static_cast<int>(hip.y) - 8,
                            static_cast<int>(hip.x) - 10, static_cast<int>(hip.y) + 8});
  EXPECT_GT(count.pixels, 10);
}

int brightness(Rgb c) { return c[0] + c[1] + c[2]; }

TEST(TopView, TheTorsoWhereItEndedIsShownWholeAndShadedInside) {
  const sim::WorldConfig world = two_discs();
  // A torso that ended turned a little, reaching far behind the hips: the
  // map grows downwards, so its top and left edges stay where they were.
  const std::vector<sim::Vec2> torso{{0.03, 0.05}, {-0.22, 0.06}, {-0.23, -0.03}, {0.02, -0.04}};
  const support::Picture picture =
      saved_picture("top_view_torso.png", sim::top_view_png(world, {}, {}, torso));
  ASSERT_GT(picture.width, 0);
  EXPECT_EQ(support::ink_at_edges(picture, 3), 0);
  const Reading ground = read_ground(picture);
  ASSERT_GT(ground.pixels_per_metre, 0.0);
  // 0.01 m of ground beyond the torso's rear corner.
  EXPECT_NEAR((ground.frame.bottom - ground.frame.top) / ground.pixels_per_metre,
              topview::top_edge_x + 0.23 + 0.01, 0.003);
  const auto pixel = [&](sim::Vec2 at) {
    const support::Point p = ground.at(at);
    return picture.at(static_cast<int>(p.x), static_cast<int>(p.y));
  };
  for (const sim::Target &target : world.targets)
    EXPECT_EQ(pixel({target.x, target.y}),
              (Rgb{target.color[0], target.color[1], target.color[2]}));
  // Behind the hips, away from every other mark: inside the outline is
  // shaded, outside it is not, and the outline itself is dark.
  EXPECT_LT(brightness(pixel({-0.2, 0.0})), brightness(pixel({-0.2, -0.08})));
  EXPECT_LT(brightness(pixel({-0.225, 0.015})), brightness(pixel({-0.2, 0.0})) - 150);
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
