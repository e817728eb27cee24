// The camera frames recorder fed fetches and reaches by hand: a look for
// each fetch up to ten a side, and a reach frame showing the image a reach
// was decided on as it was when fetched, once however many legs set out.
#include "sim/record/frames_recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/png_reader.h"
#include "tests/support/reaches.h"
#include "tests/support/recording.h"

namespace {

constexpr int width = 20;
constexpr int height = 10;

// A grey image with one pixel of `colour`.
std::vector<unsigned char> image_with(support::Rgb colour) {
  std::vector<unsigned char> pixels(3 * width * height, 128);
  const std::size_t at = (4 * width + 7) * 3;
  for (std::size_t i = 0; i < 3; ++i) pixels[at + i] = colour[i];
  return pixels;
}

void fetch(sim::FramesRecorder &frames, std::int64_t step, sim::View side,
           const std::vector<unsigned char> &pixels) {
  const sim::Fetch fetched{step, side, std::nullopt, std::nullopt};
  frames.on_fetch({fetched, {pixels.data(), width, height, side}});
}

sim::Reach decided_on(int leg, std::int64_t fetched_at, sim::View side) {
  sim::Reach reach = support::reach_of(leg, fetched_at + 1, std::nullopt, std::nullopt);
  reach.decided_on = sim::Fetch{fetched_at, side, std::nullopt, std::nullopt};
  return reach;
}

TEST(FramesRecorder, ALookForEveryFetchUpToTenASide) {
  support::Outputs out("frames_looks");
  sim::FramesRecorder frames(out.sink);
  const std::vector<unsigned char> pixels = image_with({0, 0, 255});
  for (std::int64_t step = 1; step <= 12; ++step) fetch(frames, step, sim::View::left, pixels);
  for (std::int64_t step = 20; step <= 22; ++step) fetch(frames, step, sim::View::right, pixels);
  std::vector<std::string> expected{".sim.lock"};
  for (int step = 1; step <= 10; ++step) {
    char name[40];
    std::snprintf(name, sizeof name, "frame_%06d_left_look.png", step);
    expected.push_back(name);
  }
  for (const char *name : {"frame_000020_right_look.png", "frame_000021_right_look.png",
                           "frame_000022_right_look.png"})
    expected.push_back(name);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(out.files(), expected);
  EXPECT_TRUE(out.lost.empty());
}

TEST(FramesRecorder, AReachFrameShowsTheImageAsFetchedOnceForBothLegs) {
  support::Outputs out("frames_reach");
  sim::FramesRecorder frames(out.sink);
  // The camera's buffer is refreshed in place after the fetch: the frame
  // must show the blue pixel fetched, not the red one the buffer holds later.
  std::vector<unsigned char> buffer = image_with({0, 0, 255});
  fetch(frames, 5, sim::View::left, buffer);
  buffer = image_with({255, 0, 0});
  frames.on_reach_start(decided_on(0, 5, sim::View::left));
  frames.on_reach_start(decided_on(2, 5, sim::View::left));
  // A reach decided on an image older than the last one fetched gets none.
  fetch(frames, 9, sim::View::left, buffer);
  frames.on_reach_start(decided_on(0, 5, sim::View::left));
  EXPECT_EQ(out.files(), (std::vector<std::string>{".sim.lock", "frame_000005_left_look.png",
                                                   "frame_000005_left_reach.png",
                                                   "frame_000009_left_look.png"}));
  const support::Picture reach =
      support::read_png((out.path / "frame_000005_left_reach.png").string());
  ASSERT_GT(reach.width, 0);
  EXPECT_GT(reach.count({0, 0, 255}), 0);
  EXPECT_EQ(reach.count({255, 0, 0}), 0);
}

}  // namespace
