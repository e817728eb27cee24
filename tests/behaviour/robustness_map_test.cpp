// The robustness map end to end: scripts/reach-map --vary on a coarse
// kinematic grid with this build's executables. The same seed gives the same
// files with one job or two; a bad --vary is refused before any run; runs of
// another map's robots are refused when collected.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>

#include "sim/system/files.h"
#include "tests/support/folders.h"

namespace {

namespace fs = std::filesystem;
using sim::read_file;

fs::path folder(const std::string &name) {
  const fs::path out = fs::path(REACHER_TEST_RUNS) / "robustness_map" / name;
  fs::remove_all(out);
  return out;
}

std::pair<int, std::string> map(const fs::path &out, const std::string &options) {
  return support::run_command(std::string(REACHER_SOURCE_DIR) +
                              "/scripts/reach-map --engine kinematic " + "--spacing 50 --out " +
                              out.string() + " --build-dir " + REACHER_BUILD_DIR + " " + options);
}

// A gain within 1 +- 0.001 keeps the target's level at 214, so the robots
// find their windows and each run ends at its first reach: three maps stay
// quick even under the sanitizers.
const std::string vary = "--vary camera.gain=0.999:1.001 --vary camera.noise=0:0.4 --samples 3";

TEST(RobustnessMap, TheSameSeedGivesTheSameFilesWithOneJobOrTwoAndEveryRobotRunsEveryPoint) {
  const fs::path one = folder("one_job"), two = folder("two_jobs");
  const auto [status, said] = map(one, vary + " --seed 11 --jobs 1");
  ASSERT_EQ(status, 0) << said;
  ASSERT_EQ(map(two, vary + " --seed 11 --jobs 2").first, 0);
  for (const char *file : {"robustness.json", "robustness.png", "sensitivity.png"})
    EXPECT_TRUE(read_file(one / file) == read_file(two / file)) << file << " differs";

  const nlohmann::json r = nlohmann::json::parse(read_file(one / "robustness.json"));
  ASSERT_EQ(r["robots"].size(), 3u);
  int hits = 0;
  for (const nlohmann::json &p : r["points"]) {
    EXPECT_EQ(p["runs"], 3);
    hits += p["hits"].get<int>();
  }
  EXPECT_EQ(hits, r["summary"]["hits"]);
  EXPECT_EQ(r["summary"]["runs"], 3 * r["points"].size());
  for (const nlohmann::json &robot : r["robots"]) {
    const double gain = robot["values"]["camera.gain"];
    EXPECT_GE(gain, 0.999);
    EXPECT_LE(gain, 1.001);
  }
  // The summary line tells the map's own counts.
  EXPECT_NE(said.find("of " + std::to_string(r["summary"]["runs"].get<int>()) + " runs hit"),
            std::string::npos)
      << said;
  EXPECT_NE(said.find("robustness map (kinematic engine, 50 mm grid"), std::string::npos) << said;

  // Another seed, other robots.
  const fs::path other = folder("other_seed");
  ASSERT_EQ(map(other, vary + " --seed 12 --jobs 2").first, 0);
  EXPECT_NE(nlohmann::json::parse(read_file(other / "robustness.json"))["robots"], r["robots"]);
}

TEST(RobustnessMap, ABadVaryIsRefusedBeforeAnyRunWithExitStatus2) {
  for (const auto &[options, message] : {
           std::pair{"--vary camera.gian=0.9:1.1 --samples 2", "no world key a map varies"},
           std::pair{"--vary camera.gain=1.1:0.9 --samples 2", "LOW is above HIGH"},
           std::pair{"--vary camera.noise=0:100 --samples 2", "must stay from 0 to 64 levels"},
           std::pair{"--vary camera.gain=0.9:1.1 --samples 0", "--samples wants a whole number"},
           std::pair{"--vary camera.gain=0.9:1.1", "--vary wants --samples N"},
           std::pair{"--vary robot.friction=0.2:0.8 --samples 2", "kinematic engine"},
       }) {
    const fs::path out = folder("refused");
    const auto [status, said] = map(out, options);
    EXPECT_EQ(status, 2) << options << "\n" << said;
    EXPECT_NE(said.find(message), std::string::npos) << said;
    EXPECT_FALSE(fs::exists(out)) << options;
  }
}

TEST(RobustnessMap, RunsOfOtherRobotsThanTheMapsAreRefusedWhenCollected) {
  const fs::path out = folder("other_robots");
  const std::string tool = std::string(REACHER_BUILD_DIR) + "/bin/reacher_reach_map";
  ASSERT_EQ(support::run_command(tool + " grid --engine kinematic --spacing 50 --out " +
                                 out.string() + " --vary camera.gain=0.9:1.1 --samples 2")
                .first,
            0);
  for (const auto &job : fs::directory_iterator(out / "jobs"))
    std::ofstream(job.path() / "report.json")
        << R"({"steps":600,"interrupted":false,"factors":{"camera.gain":1.5,"seed":3},)"
        << R"("reaches":[],"targets":[{"seen":null}]})";
  const auto [status, said] = support::run_command(tool + " collect --out " + out.string());
  EXPECT_EQ(status, 2) << said;
  EXPECT_NE(said.find("camera.gain is 1.5, not the sampled robot's"), std::string::npos) << said;
}

}  // namespace
