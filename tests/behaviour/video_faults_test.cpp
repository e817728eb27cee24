// The real controller's physics runs when ffmpeg is missing or is not what
// it claims: a run that cannot film refuses before it touches its folder, and
// a video is kept only when it is one.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "tests/support/folders.h"
#include "tests/support/sim_run.h"

namespace {

namespace fs = std::filesystem;

// Every file in a folder, by name, with its bytes.
std::map<std::string, std::string> files_in(const fs::path &folder) {
  std::map<std::string, std::string> files;
  for (const auto &entry : fs::directory_iterator(folder))
    files[entry.path().filename().string()] = simrun::read_file(entry.path().string());
  return files;
}

TEST(VideoFaults, WithoutFfmpegAFilmedRunRefusesBeforeItTouchesItsFolder) {
  // An earlier run's outputs and a file of the user's.
  const fs::path folder = support::fresh_folder("video_without_ffmpeg");
  for (const char *name : {"report.json", ".trace.jsonl.partial", "notes.txt"})
    std::ofstream(folder / name) << "earlier";
  const std::map<std::string, std::string> before = files_in(folder);
  simrun::Options options;
  options.env = {"PATH=" + support::fresh_folder("path_without_ffmpeg").string()};
  options.output_folder = folder.string();
  const simrun::RunResult run = simrun::run_reacher("steps = 20\n", options);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "sim: error: SIM_OUTPUT: " + folder.string() +
                         ": cannot write run.mp4: the ffmpeg program is not installed (Debian: "
                         "ffmpeg); install it, or leave the video out with video = false under "
                         "[output]\n");
  EXPECT_TRUE(run.out.empty()) << run.out;
  EXPECT_EQ(files_in(folder), before);
  // Without a video, the same run needs no ffmpeg.
  const simrun::RunResult unfilmed =
      simrun::run_reacher("steps = 20\n[output]\nvideo = false\n", options);
  EXPECT_EQ(unfilmed.status, 0) << unfilmed.err;
  EXPECT_TRUE(fs::exists(folder / "report.json"));
  EXPECT_FALSE(fs::exists(folder / "run.mp4"));
}

TEST(VideoFaults, AnFfmpegThatEndsWithoutAWordButWritesNoVideoLosesTheVideo) {
  // One that takes every frame, one that takes none: both exit 0 and say
  // nothing.
  for (const char *script : {"cat >/dev/null", "exit 0"}) {
    simrun::Options options;
    options.env = {support::path_entry_with(support::fake_program("ffmpeg", script))};
    const simrun::RunResult run = simrun::run_reacher("steps = 20\n", options);
    EXPECT_EQ(run.status, 2) << script;
    EXPECT_NE(run.err.find(": cannot write run.mp4 there (ffmpeg "), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(fs::path(run.folder) / "run.mp4")) << script;
    // Everything else is whole.
    EXPECT_EQ(run.report()["steps"], 20) << script;
    EXPECT_EQ(run.trace.back().op, "end") << script;
  }
}

}  // namespace
