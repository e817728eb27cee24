// The video's ffmpeg failing in each way the outside world can make it fail:
// it exits, it is killed, it finishes a file it could not write, it stops
// reading or never ends. Each is a lost video, told with its reason, and
// none holds up the run. Fake ffmpeg programs stand in for the real one.
#include "sim/record/video.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/engines/kinematic/kinematic_engine.h"
#include "sim/system/signals.h"
#include "tests/support/folders.h"
#include "tests/support/recording.h"

namespace {

namespace fs = std::filesystem;

// Puts a program called ffmpeg, running `script`, first on PATH.
void fake_ffmpeg(const std::string &script) {
  support::put_first_on_path(support::fake_program("ffmpeg", script));
}

class GreyView final : public sim::ThirdPersonView {
  void film(int, int, std::span<unsigned char> frame) override {
    std::fill(frame.begin(), frame.end(), 128);
  }
};

TEST(VideoRecorder, AVideoFfmpegDidNotFinishIsToldLostAndNeverPutInPlace) {
  // As in a run: a write to an ffmpeg that has gone is the writer's to notice.
  sim::catch_stop_signals();
  const std::pair<const char *, const char *> cases[] = {
      {"exit 1", "ffmpeg exited with status 1"},
      {"cat >/dev/null; kill -9 $$", "ffmpeg was ended by signal 9"},
      // A full disk as ffmpeg meets it: its exit status says nothing.
      {"cat >/dev/null; echo 'Error writing trailer: No space left on device' >&2",
       "ffmpeg said: Error writing trailer: No space left on device"}};
  for (const auto &[script, reason] : cases) {
    fake_ffmpeg(script);
    support::Outputs out("video_lost");
    const std::vector<std::string> &lost = out.lost;
    GreyView view;
    sim::VideoRecorder video(out.sink, view, 32.0);
    const sim::WorldConfig world;
    const sim::KinematicEngine engine(world);
    const sim::SetPoints set_points;
    const std::vector<unsigned char> pixels(3 * 4 * 4, 0);
    for (std::int64_t step = 1; step <= 6; ++step)
      video.on_step({step, 0.0, engine, set_points, {pixels.data(), 4, 4, sim::View::forward}});
    video.on_end(support::RunData{}.record(6));
    ASSERT_EQ(lost.size(), 1u) << script;
    EXPECT_EQ(lost[0].rfind("run.mp4: ", 0), 0u) << lost[0];
    EXPECT_NE(lost[0].find(reason), std::string::npos) << lost[0];
    EXPECT_FALSE(fs::exists(out.path / "run.mp4")) << script;
  }
}

TEST(VideoWriter, AnFfmpegThatStallsIsStoppedOnceItsPatienceRunsOut) {
  const std::vector<unsigned char> frame(640 * 480 * 3, 7);  // far more than a pipe holds
  const fs::path file = support::fresh_folder("stalled") / "run.mp4";
  // One that never reads, and one that reads every frame but never ends.
  for (const auto &[script, reason] :
       {std::pair{"exec sleep 100000", "took no frame data"},
        std::pair{"cat >/dev/null; exec sleep 100000", "did not finish the video in time"}}) {
    fake_ffmpeg(script);
    sim::VideoWriter video(std::chrono::milliseconds(300));
    ASSERT_EQ(video.open(::open(file.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644), 640, 480, 15.0),
              "");
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 3 && video.add(frame);) ++i;
    EXPECT_NE(video.close().find(reason), std::string::npos) << script;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << script;
  }
}

}  // namespace
