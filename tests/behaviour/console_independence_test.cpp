// The stand-in learns what a run did from the library calls and the robot,
// never from the controller's console: the same controller with every console
// line reworded leaves the same report, frames and pictures.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "tests/support/sim_run.h"

namespace {

namespace fs = std::filesystem;

// The records a run left, by name: report, state log, pictures and frames.
std::map<std::string, std::string> records_of(const std::string &folder) {
  std::map<std::string, std::string> records;
  for (const auto &entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.ends_with(".png") || name == "report.json" || name == "state.csv")
      records[name] = simrun::read_file(entry.path().string());
  }
  return records;
}

TEST(ConsoleIndependence, RewordedConsoleLinesLeaveTheSameRecords) {
  // Both sides, a reach on each, and a disc beyond the left leg's reach.
  const std::string world =
      "engine = \"kinematic\"\nsteps = 700\n"
      "[[target]]\nx = 0.038\ny = -0.05\n[[target]]\nx = 0.1\ny = 0.08\nradius = 0.008\n";
  const simrun::RunResult plain = simrun::run_reacher(world);
  ASSERT_EQ(plain.status, 0) << plain.err;
  // Each run of the harness starts the test's folder afresh: keep the first's records.
  const std::map<std::string, std::string> records = records_of(plain.folder);
  simrun::Options reworded_options;
  reworded_options.executable = REACHER_REWORDED_EXE;
  const simrun::RunResult reworded = simrun::run_reacher(world, reworded_options);
  ASSERT_EQ(reworded.status, 0) << reworded.err;
  // The wording did change.
  ASSERT_NE(plain.out.find("nb_red = "), std::string::npos);
  ASSERT_EQ(reworded.out.find("nb_red"), std::string::npos);
  ASSERT_EQ(plain.out.size(), reworded.out.size());

  const std::map<std::string, std::string> again = records_of(reworded.folder);
  EXPECT_GE(records.size(), 6u);  // report, state, top view, joints, frames of both kinds
  ASSERT_EQ(records.size(), again.size());
  for (const auto &[name, bytes] : records) {
    EXPECT_FALSE(bytes.empty()) << name;
    EXPECT_TRUE(again.contains(name) && again.at(name) == bytes) << name;
  }
  // Reaches of all kinds were there to be told apart.
  const std::string &report = records.at("report.json");
  EXPECT_NE(report.find("\"outcome\":\"on_target\""), std::string::npos);
  EXPECT_NE(report.find("\"outcome\":\"no_contact\""), std::string::npos);
  // And the summary line is the same.
  const auto summary = [](const std::string &err) { return err.substr(err.rfind("sim: ")); };
  EXPECT_EQ(summary(plain.err), summary(reworded.err));
}

}  // namespace
