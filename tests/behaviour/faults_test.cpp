// The stand-in under faults: a console that cannot be written, signals that
// end a run early, and a second run into a folder in use. Whatever happens,
// every output is whole and says how the run ended, and the exit status
// tells the truth.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/folders.h"
#include "tests/support/sim_run.h"

namespace {

namespace fs = std::filesystem;
using simrun::Options;
using simrun::RunResult;

// Long enough that a signal lands in the middle of it.
const std::string long_world = "engine = \"kinematic\"\nsteps = 3000000\n[output]\nstate = false\n";
const std::string short_world = "engine = \"kinematic\"\nsteps = 300\n";

std::string last_trace_line(const RunResult &run) {
  const std::string trace = simrun::read_file(run.folder + "/trace.jsonl");
  if (trace.empty() || trace.back() != '\n') return "(cut) " + trace.substr(trace.size() - 80);
  const std::size_t start = trace.rfind('\n', trace.size() - 2);
  return trace.substr(start == std::string::npos ? 0 : start + 1);
}

bool has_partial_files(const RunResult &run) {
  for (const auto &entry : fs::directory_iterator(run.folder))
    if (entry.path().filename().string().ends_with(".partial")) return true;
  return false;
}

TEST(Faults, ALostConsoleIsReportedAndTheRunStillFinishesItsOutputs) {
  for (const Options::Stdout where :
       {Options::Stdout::full_disk, Options::Stdout::closed, Options::Stdout::broken_pipe}) {
    Options options;
    options.stdout_to = where;
    const RunResult run = simrun::run_reacher(short_world, options);
    const int kind = static_cast<int>(where);
    EXPECT_EQ(run.status, 2) << kind << run.err;
    // Not a line of it got through, and the message says so.
    EXPECT_NE(run.err.find("sim: error: the controller's console on stdout was lost before any "
                           "of its lines was written, at step "),
              std::string::npos)
        << kind << run.err;
    EXPECT_EQ(run.report()["steps"], 300) << kind;
    EXPECT_EQ(last_trace_line(run),
              "{\"step\":300,\"op\":\"end\",\"reason\":\"the world's steps are done\"}\n");
    EXPECT_TRUE(fs::exists(fs::path(run.folder) / "joints.png"));
  }
}

TEST(Faults, ASignalEndsTheRunWithWholeOutputsMarkedInterrupted) {
  for (const int signal : {SIGINT, SIGTERM, SIGPIPE}) {
    Options options;
    options.signal = signal;
    const RunResult run = simrun::run_reacher(long_world, options);
    EXPECT_EQ(run.status, 128 + signal) << run.err;
    const nlohmann::json report = run.report();
    EXPECT_TRUE(report["interrupted"]);
    EXPECT_LT(report["steps"], 3000000);
    const std::string name = signal == SIGINT    ? "SIGINT"
                             : signal == SIGTERM ? "SIGTERM"
                                                 : "SIGPIPE";
    EXPECT_EQ(last_trace_line(run), "{\"step\":" + std::to_string(report["steps"].get<long>()) +
                                        ",\"op\":\"end\",\"reason\":\"interrupted by " + name +
                                        "\"}\n");
    EXPECT_FALSE(has_partial_files(run));
  }
}

TEST(Faults, ARunThatStopsBeforeItsStepsIsMarkedInterrupted) {
  const RunResult run =
      simrun::run_reacher("engine = \"kinematic\"\nsteps = 100000\nrun_calls = 2\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(run.report()["interrupted"]);
  EXPECT_NE(last_trace_line(run).find("robot_run returned after 2 step-function calls"),
            std::string::npos);
  EXPECT_EQ(simrun::run_reacher(short_world).report()["interrupted"], false);
}

TEST(Faults, OneSignalEndsARunWhoseFfmpegStalledWithWholeOutputs) {
  // An ffmpeg that takes no frame and never ends, and that asks the run to
  // end once the run is waiting on it.
  const fs::path bin =
      support::fake_program("ffmpeg", "sleep 1\nkill -TERM $PPID\nexec sleep 100000");
  Options options;
  options.env = {support::path_entry_with(bin)};
  const auto start = std::chrono::steady_clock::now();
  const RunResult run =
      simrun::run_reacher("steps = 300\n[output]\npictures = false\nstate = false\n", options);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
  EXPECT_EQ(run.status, 128 + SIGTERM) << run.err;
  EXPECT_TRUE(run.report()["interrupted"]);
  EXPECT_TRUE(last_trace_line(run).ends_with("\"reason\":\"interrupted by SIGTERM\"}\n"))
      << last_trace_line(run);
  EXPECT_NE(run.err.find("cannot write run.mp4 there (ffmpeg"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(fs::path(run.folder) / "run.mp4"));
  fs::remove_all(bin);
}

TEST(Faults, AWorldOfTheMostDiscsOnTheLargestCameraStopsAtASignalAndNamesAFewMissedTargets) {
  // 900 discs before the robot and 100 behind it, where no view sees them,
  // seen by a 1024 x 1024 camera.
  std::string world =
      "engine = \"kinematic\"\nsteps = 100000000\n"
      "[camera]\nwidth = 1024\nheight = 1024\n[output]\nstate = false\n";
  for (int i = 0; i < 1000; ++i) {
    const double x = i < 900 ? 0.01 + 0.004 * (i % 30) : -0.5 - 0.01 * (i % 10);
    const double y = -0.12 + 0.008 * ((i / 30) % 30);
    world += "[[target]]\nx = " + std::to_string(x) + "\ny = " + std::to_string(y) +
             "\nradius = 0.002\n";
  }
  Options options;
  options.signal = SIGTERM;
  options.expected_warnings = {"where neither camera view can see"};
  const auto start = std::chrono::steady_clock::now();
  const RunResult run = simrun::run_reacher(world, options);
  // Not a measure of speed: a world whose every view cost seconds per disc
  // out of view took minutes here, deaf to the signal.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(run.status, 128 + SIGTERM) << run.err;
  EXPECT_TRUE(run.report()["interrupted"]);
  // Five named, the rest counted, in the warnings and in the summary line.
  const std::vector<std::string> warnings = run.warnings();
  ASSERT_EQ(warnings.size(), 6u) << run.err;
  EXPECT_TRUE(std::regex_match(
      warnings[5],
      std::regex("sim: warning: and \\d+ more targets lie where neither camera view can see them")))
      << warnings[5];
  EXPECT_TRUE(std::regex_search(
      run.err, std::regex("; targets \\d+, \\d+, \\d+, \\d+, \\d+ and \\d+ more never reached\n")))
      << run.err;
}

TEST(Faults, ASecondRunIntoAFolderInUseRefuses) {
  // The test holds the folder's lock as a running stand-in would.
  const fs::path folder = support::fresh_folder("sim_folder_in_use");
  const int lock = ::open((folder / ".sim.lock").c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(lock, 0);
  ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
  Options options;
  options.output_folder = folder.string();
  const RunResult second = simrun::run_reacher(short_world, options);
  ::close(lock);
  EXPECT_EQ(second.status, 2);
  EXPECT_NE(second.err.find("another run is writing there"), std::string::npos) << second.err;
}

}  // namespace
