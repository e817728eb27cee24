// The video recorder, with the real ffmpeg and with stand-in programs first
// on PATH: a video takes its name only once it is an MP4 file of every frame
// sent, and a video that cannot be made leaves no file behind.
#include "sim/record/video.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sim/core/errors.h"
#include "sim/engines/kinematic/kinematic_engine.h"
#include "sim/system/signals.h"
#include "tests/support/folders.h"
#include "tests/support/recording.h"
#include "tests/support/worlds.h"

namespace {

namespace fs = std::filesystem;

class GreyView final : public sim::ThirdPersonView {
  void film(int, int, std::span<unsigned char> frame) override {
    std::fill(frame.begin(), frame.end(), 128);
  }
};

// Four colours, a quadrant each.
class QuartersView final : public sim::ThirdPersonView {
 public:
  static constexpr std::array<std::array<unsigned char, 3>, 4> colours{
      {{200, 40, 40}, {40, 160, 60}, {50, 60, 210}, {230, 230, 230}}};
  void film(int width, int height, std::span<unsigned char> frame) override {
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const auto &colour =
            colours[static_cast<std::size_t>(2 * (y >= height / 2) + (x >= width / 2))];
        std::copy(colour.begin(), colour.end(),
                  frame.begin() + 3 * (static_cast<long>(y) * width + x));
      }
  }
};

// Six steps of 32 ms, a frame every other step: three frames, then the end.
void record_three_frames(sim::VideoRecorder &video) {
  const sim::WorldConfig world = support::kinematic_world();
  const sim::KinematicEngine engine(world);
  const sim::SetPoints set_points;
  const std::vector<unsigned char> pixels(3 * 4 * 4, 0);
  for (std::int64_t step = 1; step <= 6; ++step)
    video.on_step({step,
                   0.032 * static_cast<double>(step),
                   engine,
                   set_points,
                   {pixels.data(), 4, 4, sim::View::forward}});
  video.on_end(support::RunData{}.record(6));
}

// A video recorded into `out` with `ffmpeg` (a script; empty: the real
// program) first on PATH.
void record_video(support::Outputs &out, const std::string &ffmpeg,
                  sim::ThirdPersonView &&view = GreyView()) {
  if (ffmpeg.empty())
    support::put_first_on_path(support::fresh_folder("no_fake_ffmpeg"));
  else
    support::put_first_on_path(support::fake_program("ffmpeg", ffmpeg));
  sim::VideoRecorder video(out.sink, view, 32.0);
  record_three_frames(video);
}

TEST(VideoRecorder, TheRealFfmpegsVideoOfEveryFrameTakesItsName) {
  support::Outputs out("video_real");
  record_video(out, "");
  EXPECT_TRUE(out.lost.empty()) << out.lost[0];
  EXPECT_EQ(out.files(), (std::vector<std::string>{".sim.lock", "run.mp4"}));
}

// What a player shows is what was filmed: ffmpeg's own decoder, reading the
// file back, finds each quadrant's colour within a few steps of the original.
TEST(VideoRecorder, APlayerShowsTheColoursFilmed) {
  support::Outputs out("video_colours");
  record_video(out, "", QuartersView());
  ASSERT_TRUE(out.lost.empty()) << out.lost[0];
  const fs::path decoded = support::fresh_folder("video_colours_decoded") / "frame.rgb";
  const auto [status, said] =
      support::run_command("ffmpeg -nostdin -loglevel error -i " + (out.path / "run.mp4").string() +
                           " -frames:v 1 -f rawvideo -pix_fmt rgb24 " + decoded.string());
  ASSERT_EQ(status, 0) << said;
  std::ifstream in(decoded, std::ios::binary);
  const std::string rgb((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  constexpr int width = 640, height = 480;
  ASSERT_EQ(rgb.size(), 3u * width * height);
  for (std::size_t quarter = 0; quarter < 4; ++quarter) {
    // The middle of the quadrant, clear of the inset and the caption.
    const int x = quarter % 2 == 0 ? width / 4 + 40 : 3 * width / 4;
    const int y = quarter < 2 ? height / 4 + 40 : 3 * height / 4 - 40;
    for (std::size_t c = 0; c < 3; ++c)
      EXPECT_NEAR(static_cast<unsigned char>(rgb[3u * static_cast<std::size_t>(y * width + x) + c]),
                  QuartersView::colours[quarter][c], 6)
          << "quarter " << quarter << ", channel " << c;
  }
}

TEST(VideoRecorder, AFileThatIsNoWholeVideoIsToldLostAndNeverTakesItsName) {
  // As in a run: a write to an ffmpeg that has gone is the writer's to notice.
  sim::catch_stop_signals();
  // A real video, to cut short.
  support::Outputs real_out("video_to_cut");
  record_video(real_out, "");
  const fs::path real = real_out.path / "run.mp4";
  const std::string to_its_file = "for last; do :; done; ";
  const std::pair<std::string, std::string> cases[] = {
      // An ffmpeg that exits 0 without a word, and writes nothing.
      {"cat >/dev/null",
       "ffmpeg ended without a word, but the file it left is no whole video: "
       "it is empty"},
      {to_its_file + "head -c 2000 " + real.string() + " >\"$last\"; cat >/dev/null",
       "the file it left is no whole video: its mdat box at byte"},
      {"exit 1", "ffmpeg exited with status 1"}};
  for (const auto &[script, reason] : cases) {
    support::Outputs out("video_lost");
    record_video(out, script);
    ASSERT_EQ(out.lost.size(), 1u) << script;
    EXPECT_EQ(out.lost[0].rfind("run.mp4: ", 0), 0u) << out.lost[0];
    EXPECT_NE(out.lost[0].find(reason), std::string::npos) << out.lost[0];
    EXPECT_FALSE(fs::exists(out.path / "run.mp4")) << script;
  }
}

TEST(VideoRecorder, AVideoThatCannotBeMadeLeavesNoFile) {
  GreyView view;
  // An ffmpeg that cannot be run: found on PATH, refused when started.
  const fs::path not_runnable = support::fake_program("ffmpeg", "exit 0");
  fs::permissions(not_runnable / "ffmpeg", fs::perms::owner_read | fs::perms::owner_write);
  ::setenv("PATH", not_runnable.c_str(), 1);
  {
    const support::Outputs out("video_not_started");
    try {
      sim::VideoRecorder video(out.sink, view, 32.0);
      ADD_FAILURE() << "started";
    } catch (const sim::RunError &error) {
      EXPECT_EQ(std::string(error.what()), "SIM_OUTPUT: " + out.path.string() +
                                               ": cannot write run.mp4: cannot start ffmpeg "
                                               "(Permission denied)");
    }
    EXPECT_EQ(out.files(), std::vector<std::string>{".sim.lock"});
  }
  // None on PATH at all: refused before any folder is touched.
  ::setenv("PATH", support::fresh_folder("empty_path").c_str(), 1);
  try {
    sim::VideoRecorder::check_ffmpeg("out");
    ADD_FAILURE() << "ffmpeg found";
  } catch (const sim::RunError &error) {
    EXPECT_EQ(std::string(error.what()),
              "SIM_OUTPUT: out: cannot write run.mp4: the ffmpeg program is not installed "
              "(Debian: ffmpeg); install it, or leave the video out with video = false under "
              "[output]");
  }
  // A recorder gone before its run ended, as when a later output could not
  // be begun: its partial file goes with it.
  support::put_first_on_path(support::fake_program("ffmpeg", "cat >/dev/null"));
  const support::Outputs out("video_never_ended");
  { sim::VideoRecorder video(out.sink, view, 32.0); }
  EXPECT_EQ(out.files(), std::vector<std::string>{".sim.lock"});
}

}  // namespace
