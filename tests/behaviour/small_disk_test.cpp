// Runs whose output folder is a real, small file system: a tmpfs of a few
// hundred kilobytes mounted in a mount namespace of the run's own, so that
// nothing outside the run ever sees it. The run's files are copied out
// before the namespace goes. Skipped where no mount namespace can be had.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/sim_run.h"

namespace {

namespace fs = std::filesystem;
using simrun::RunResult;

// "-m" as root, "-rm" (a user namespace too) otherwise; "" when neither can
// mount a tmpfs here.
std::string unshare_flags() {
  for (const char *flags : {"-m", "-rm"}) {
    const std::string probe = std::string("unshare ") + flags +
                              " sh -c 'd=$(mktemp -d) && mount -t tmpfs -o size=64k tmpfs \"$d\"; "
                              "s=$?; umount \"$d\" 2>/dev/null; rmdir \"$d\"; exit $s' "
                              ">/dev/null 2>&1";
    if (std::system(probe.c_str()) == 0) return flags;
  }
  return "";
}

struct SmallDiskRun {
  RunResult run;
  fs::path kept;  // what the folder held when the run ended

  std::string read(const std::string &name) const {
    return simrun::read_file((kept / name).string());
  }
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(kept))
      names.push_back(entry.path().filename().string());
    return names;
  }
};

class SmallDisk : public testing::Test {
 protected:
  void SetUp() override {
    flags_ = unshare_flags();
    if (flags_.empty()) GTEST_SKIP() << "no mount namespace to mount a small tmpfs in";
    folder_ = fs::path(testing::TempDir()) /
              ("small_disk_" +
               std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
               std::to_string(::getpid()));
    fs::remove_all(folder_);
    fs::create_directories(folder_ / "disk");
    fs::create_directories(folder_ / "kept");
    // Mounts the disk over SIM_OUTPUT, fills `fill` kB of it, runs the
    // controller, and copies out what the disk holds, partial files and all.
    std::ofstream(folder_ / "on_small_disk") << R"sh(#!/bin/sh
if [ -z "$SMALL_DISK_INSIDE" ]; then
  SMALL_DISK_INSIDE=1 exec unshare $SMALL_DISK_UNSHARE "$0"
fi
mount -t tmpfs -o "size=${SMALL_DISK_KB}k" tmpfs "$SIM_OUTPUT" || exit 125
if [ "$SMALL_DISK_FILL_KB" -gt 0 ]; then
  head -c "$((SMALL_DISK_FILL_KB * 1024))" /dev/zero >"$SIM_OUTPUT/filler" 2>/dev/null
fi
status=0
"$SMALL_DISK_EXE" || status=$?
cp -a "$SIM_OUTPUT/." "$SMALL_DISK_KEPT/"
exit $status
)sh";
    fs::permissions(folder_ / "on_small_disk", fs::perms::owner_all);
  }
  void TearDown() override {
    if (!folder_.empty()) fs::remove_all(folder_);
  }

  SmallDiskRun run_on_disk(const std::string &world, int size_kb, int fill_kb = 0) {
    simrun::Options options;
    options.executable = (folder_ / "on_small_disk").string();
    options.output_folder = (folder_ / "disk").string();
    options.env = {"SMALL_DISK_UNSHARE=" + flags_, "SMALL_DISK_KB=" + std::to_string(size_kb),
                   "SMALL_DISK_FILL_KB=" + std::to_string(fill_kb), "SMALL_DISK_EXE=" REACHER_EXE,
                   "SMALL_DISK_KEPT=" + (folder_ / "kept").string()};
    // A disk this small is what these runs are about: the warning that the
    // outputs may not fit is expected of every one of them.
    options.expected_warnings = {"may not fit in the"};
    SmallDiskRun result{simrun::run_reacher(world, options), folder_ / "kept"};
    EXPECT_NE(result.run.status, 125) << "the tmpfs could not be mounted: " << result.run.err;
    return result;
  }

  std::string flags_;
  fs::path folder_;
};

// The default world, on the physics engine with its video, into 200 kB: far
// less than its outputs (about 1.3 MB).
TEST_F(SmallDisk, APhysicsRunThatFillsTheDiskKeepsTheReportAndTheTraceAndNoPartialFile) {
  const SmallDiskRun disk = run_on_disk("", 200);
  EXPECT_EQ(disk.run.status, 2) << disk.run.err;
  const nlohmann::json report = nlohmann::json::parse(disk.read("report.json"));
  EXPECT_EQ(report["steps"], 600);
  EXPECT_FALSE(report["interrupted"]);
  // The trace is whole, to its last line.
  const std::string trace = disk.read("trace.jsonl");
  EXPECT_TRUE(
      trace.ends_with("{\"step\":600,\"op\":\"end\",\"reason\":\"the world's steps are "
                      "done\"}\n"))
      << trace.substr(trace.size() > 200 ? trace.size() - 200 : 0);
  for (const std::string &name : disk.files()) EXPECT_FALSE(name.ends_with(".partial")) << name;
  // Each loss is told, and one line says what is there and what is not.
  EXPECT_NE(disk.run.err.find("cannot write state.csv there (No space left on device"),
            std::string::npos)
      << disk.run.err;
  const std::string outcome = "not every output could be written: kept ";
  const std::size_t kept = disk.run.err.find(outcome);
  const std::size_t lost = disk.run.err.find("; lost ", kept);
  ASSERT_NE(lost, std::string::npos) << disk.run.err;
  const std::string kept_list = disk.run.err.substr(kept + outcome.size(), lost - kept);
  const std::string lost_list = disk.run.err.substr(lost, disk.run.err.find('\n', lost) - lost);
  EXPECT_EQ(kept_list.rfind("report.json", 0), 0u) << kept_list;
  EXPECT_NE(kept_list.find("trace.jsonl"), std::string::npos) << kept_list;
  for (const char *name : {"state.csv", "run.mp4"})
    EXPECT_NE(lost_list.find(name), std::string::npos) << name << "\n" << lost_list;
}

// 50,000,000 steps project to some 20 GB of state log and 5 GB of trace; the
// run itself is cut short after two calls of its step function.
TEST_F(SmallDisk, OutputsThatWillNotFitAreNamedWithTheSettingsThatTurnThemOffBeforeTheFirstStep) {
  const SmallDiskRun disk =
      run_on_disk("engine = \"kinematic\"\nsteps = 50000000\nrun_calls = 2\n", 1024);
  EXPECT_EQ(disk.run.status, 0) << disk.run.err;
  const std::vector<std::string> warnings = disk.run.warnings();
  ASSERT_EQ(warnings.size(), 1u) << disk.run.err;
  EXPECT_EQ(disk.run.err.rfind(warnings[0], 0), 0u) << "not the first thing said\n" << disk.run.err;
  for (const char *part :
       {"this run's outputs may not fit in the 1.0 MB free there",
        "GB of state.csv ([output] state = false)", "GB of trace.jsonl ([output] trace = false)"})
    EXPECT_NE(warnings[0].find(part), std::string::npos) << part << "\n" << warnings[0];
  EXPECT_FALSE(disk.read("report.json").empty());
}

TEST_F(SmallDisk, AFolderWithNoRoomForAnyOutputIsRefusedBeforeAnythingIsWritten) {
  const SmallDiskRun disk = run_on_disk("engine = \"kinematic\"\nsteps = 300\n", 256, 256);
  EXPECT_EQ(disk.run.status, 2) << disk.run.err;
  EXPECT_NE(disk.run.err.find("0 bytes free there; not even report.json"), std::string::npos)
      << disk.run.err;
  for (const std::string &name : disk.files())
    EXPECT_TRUE(name == "filler" || name == ".sim.lock") << name;
  EXPECT_TRUE(disk.run.out.empty()) << disk.run.out;
}

}  // namespace
