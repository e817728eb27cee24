// What comes from outside as bytes, whatever they are: a world file whose
// name is not UTF-8, a controller that prints and asks for names in Latin-1
// or stray bytes, and one that asks for a device that does not exist at
// every step. The run goes to its end, every JSON output parses as UTF-8,
// the bytes can be had back, and a warning comes once.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/sim_run.h"

namespace {

namespace fs = std::filesystem;
using simrun::RunResult;

std::string unhex(const std::string &hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

simrun::Options odd_controller(const std::string &mode,
                               std::vector<std::string> expected_warnings = {}) {
  simrun::Options options;
  options.executable = ODD_CONTROLLER_EXE;
  options.env = {"ODD_CONTROLLER=" + mode};
  options.expected_warnings = std::move(expected_warnings);
  return options;
}

TEST(OddBytes, AWorldFileNamedInLatin1RunsToItsEndAndItsNameComesBackFromTheReport) {
  const fs::path folder =
      fs::path(testing::TempDir()) / ("odd_world_name_" + std::to_string(::getpid()));
  fs::create_directories(folder);
  const std::string path = (folder / "welt_\xe9.toml").string();
  std::ofstream(path) << "engine = \"kinematic\"\nsteps = 200\n"
                         "[[target]]\nx = 0.038\ny = 0.05\nradius = 0.006\n";
  const RunResult run = simrun::run_reacher_with_file(path);
  fs::remove_all(folder);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("sim: 200 steps"), std::string::npos) << run.err;
  // Strict parsing: the report is UTF-8 throughout.
  const nlohmann::json report =
      nlohmann::json::parse(simrun::read_file(run.folder + "/report.json"));
  const std::string shown = report["world"];
  EXPECT_TRUE(shown.ends_with("/welt_\xef\xbf\xbd.toml")) << shown;
  EXPECT_EQ(unhex(report["world_hex"]), path);
  for (const char *picture : {"top_view.png", "joints.png"})
    EXPECT_TRUE(fs::exists(fs::path(run.folder) / picture)) << picture;
}

TEST(OddBytes, EveryTraceLineIsUtf8JsonAndTheControllersOwnBytesComeBack) {
  const RunResult run = simrun::run_reacher(
      "engine = \"kinematic\"\nsteps = 20\n",
      odd_controller("bytes", {"unknown device name", "warned about once each"}));
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string latin1 = "caf\xe9 \xff\xfe au lait\n";
  const std::string cut = "d\xc3\xa9j\xc3\xa0 vu, then a cut sequence \xe2\x82\n";
  std::ifstream trace(run.folder + "/trace.jsonl");
  int lines = 0, prints = 0, lookups = 0;
  for (std::string line; std::getline(trace, line); ++lines) {
    nlohmann::json call;
    ASSERT_NO_THROW(call = nlohmann::json::parse(line)) << line;
    if (call["op"] == "robot_console_print") {
      const std::string original = unhex(call.value("text_hex", ""));
      EXPECT_TRUE(original == latin1 || original == cut) << line;
      // Valid sequences are kept as they were; each stray byte shows as U+FFFD.
      if (original == cut) {
        EXPECT_EQ(call["text"],
                  "d\xc3\xa9j\xc3\xa0 vu, then a cut sequence \xef\xbf\xbd\xef\xbf\xbd\n");
      }
      ++prints;
    }
    if (call["op"] == "robot_get_device") {
      EXPECT_EQ(call["name"], "t\xef\xbf\xbdte");
      EXPECT_EQ(unhex(call["name_hex"]), "t\xe9te");
      ++lookups;
    }
  }
  EXPECT_EQ(prints, 40);
  EXPECT_EQ(lookups, 20);
  EXPECT_GT(lines, 60);
  // The console itself passes the bytes through as printed.
  EXPECT_EQ(run.out.substr(0, latin1.size() + cut.size()), latin1 + cut);
}

TEST(UnknownDevices, ALookUpRepeatedEveryStepIsWarnedOnceAndCountedAtTheEnd) {
  const RunResult run = simrun::run_reacher(
      "engine = \"kinematic\"\nsteps = 300\n",
      odd_controller("unknown_device",
                     {"unknown device name", "tag 0 is no device", "warned about once each"}));
  EXPECT_EQ(run.status, 0) << run.err;
  // Once per kind of call and device, then one line with the counts.
  const std::vector<std::string> warnings = run.warnings();
  ASSERT_EQ(warnings.size(), 4u) << run.err;
  EXPECT_EQ(warnings[0],
            "sim: warning: robot_get_device: unknown device name \"\"; it gets tag 0, and calls on "
            "tag 0 are ignored");
  EXPECT_NE(warnings[1].find("servo_set_position: tag 0 is no device"), std::string::npos);
  EXPECT_NE(warnings[2].find("camera_enable: tag 0 is no device"), std::string::npos);
  EXPECT_EQ(warnings[3],
            "sim: warning: warned about once each, and counted to the end: robot_get_device(\"\") "
            "300 times, servo_set_position on tag 0 300 times, camera_enable on tag 0 300 times");
  EXPECT_EQ(run.calls("robot_get_device").size(), 300u);
}

}  // namespace
