// The video's ffmpeg failing in each way the outside world can make it: it
// exits at once, it stops reading, it never finishes, or it finishes a file
// it could not write. Each is a lost video, told with its reason, and none
// holds up the run. Fake ffmpeg programs stand in for the real one.
#include "sim/record/video.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/engines/kinematic/kinematic_engine.h"
#include "sim/record/outputs.h"
#include "sim/system/signals.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A program called ffmpeg, found first on PATH while this lives.
class FakeFfmpeg {
 public:
  explicit FakeFfmpeg(const std::string &script)
      : folder_(fs::path(testing::TempDir()) / ("fake_ffmpeg_" + std::to_string(::getpid()))),
        path_(std::getenv("PATH") != nullptr ? std::getenv("PATH") : "") {
    fs::create_directories(folder_);
    std::ofstream(folder_ / "ffmpeg") << "#!/bin/sh\n" << script << "\n";
    fs::permissions(folder_ / "ffmpeg", fs::perms::owner_all);
    ::setenv("PATH", (folder_.string() + ":" + path_).c_str(), 1);
  }
  ~FakeFfmpeg() {
    ::setenv("PATH", path_.c_str(), 1);
    fs::remove_all(folder_);
  }

 private:
  fs::path folder_;
  std::string path_;
};

class GreyView final : public sim::ThirdPersonView {
 public:
  void film(int, int, std::span<unsigned char> frame) override {
    std::fill(frame.begin(), frame.end(), 128);
  }
};

TEST(VideoRecorder, AVideoFfmpegDidNotFinishIsToldLostAndNeverPutInPlace) {
  struct Case {
    const char *ffmpeg;
    const char *reason;
  };
  const Case cases[] = {
      {"exit 1", "ffmpeg exited with status 1"},
      {"cat >/dev/null; kill -9 $$", "ffmpeg was ended by signal 9"},
      // A full disk as ffmpeg meets it: its exit status says nothing.
      {"cat >/dev/null; echo 'Error writing trailer of x: No space left on device' >&2",
       "ffmpeg said: Error writing trailer of x: No space left on device"},
  };
  // As in a run: the SIGPIPE of a write to an ffmpeg that has gone is the
  // writer's to notice, not an end of the process.
  sim::catch_stop_signals();
  const fs::path path = fs::path(testing::TempDir()) / ("video_lost_" + std::to_string(::getpid()));
  for (const Case &c : cases) {
    const FakeFfmpeg ffmpeg(c.ffmpeg);
    fs::remove_all(path);
    std::vector<std::string> lost;
    const sim::OutputFolder folder(path.string(), sim::is_stand_in_output);
    const sim::OutputSink outputs(folder, [&](const std::string &name, const std::string &why) {
      lost.push_back(name + ": " + why);
    });
    GreyView view;
    sim::VideoRecorder video(outputs, view, 32.0);
    const sim::KinematicEngine engine(sim::WorldConfig{});
    const sim::SetPoints set_points;
    const std::vector<unsigned char> pixels(3 * 4 * 4, 0);
    for (std::int64_t step = 1; step <= 6; ++step)
      video.on_step({step,
                     0.032 * static_cast<double>(step),
                     engine,
                     set_points,
                     {pixels.data(), 4, 4, sim::View::forward}});
    const sim::WorldConfig world;
    const std::vector<sim::Placement> placements;
    const std::vector<sim::Reach> reaches;
    video.on_end({world, 6, false, placements, reaches});
    ASSERT_EQ(lost.size(), 1u) << c.ffmpeg;
    EXPECT_EQ(lost[0].rfind("run.mp4: ", 0), 0u) << lost[0];
    EXPECT_NE(lost[0].find(c.reason), std::string::npos) << lost[0];
    EXPECT_FALSE(fs::exists(path / "run.mp4")) << c.ffmpeg;
  }
}

TEST(VideoWriter, AnFfmpegThatStallsIsStoppedOnceItsPatienceRunsOut) {
  const std::vector<unsigned char> frame(640 * 480 * 3, 7);  // far more than a pipe holds
  const fs::path file = fs::path(testing::TempDir()) / ("stalled_" + std::to_string(::getpid()));
  // One that never reads, and one that reads every frame but never ends.
  for (const char *script : {"exec sleep 100000", "cat >/dev/null; exec sleep 100000"}) {
    const FakeFfmpeg ffmpeg(script);
    sim::VideoWriter video(std::chrono::milliseconds(300));
    const int output = ::open(file.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_EQ(video.open(output, 640, 480, 15.0), "");
    const Clock::time_point start = Clock::now();
    bool taken = true;
    for (int i = 0; i < 3 && taken; ++i) taken = video.add(frame);
    const std::string failure = video.close();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10)) << script;
    EXPECT_NE(failure.find(script[0] == 'e' ? "took no frame data" : "did not finish"),
              std::string::npos)
        << failure;
    EXPECT_EQ(taken, script[0] != 'e') << script;
  }
  fs::remove(file);
}

}  // namespace
