// The reach map end to end on a coarse kinematic grid: scripts/reach-map with
// this build's executables, run with one job and with two.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "sim/system/files.h"

namespace {

namespace fs = std::filesystem;

using sim::read_file;

// Runs the script into a fresh folder; the folder, or "" if the script failed.
fs::path run_map(const std::string &name, int jobs) {
  const fs::path out = fs::path(REACHER_TEST_RUNS) / "reach_map" / name;
  fs::remove_all(out);
  const std::string command = std::string(REACHER_SOURCE_DIR) +
                              "/scripts/reach-map --engine kinematic --spacing 25 --jobs " +
                              std::to_string(jobs) + " --out " + out.string() + " --build-dir " +
                              REACHER_BUILD_DIR;
  return std::system(command.c_str()) == 0 ? out : fs::path();
}

const nlohmann::json *point_at(const nlohmann::json &map, double x, double y) {
  for (const nlohmann::json &p : map["points"])
    if (std::abs(p["x"].get<double>() - x) < 1e-9 && std::abs(p["y"].get<double>() - y) < 1e-9)
      return &p;
  return nullptr;
}

TEST(ReachMap, KinematicGridGivesTheSameMapWithOneJobOrTwoAndTheExpectedOutcomes) {
  const fs::path one = run_map("one_job", 1);
  const fs::path two = run_map("two_jobs", 2);
  ASSERT_FALSE(one.empty());
  ASSERT_FALSE(two.empty());
  const std::string json_text = read_file(one / "reach_map.json");
  ASSERT_FALSE(json_text.empty());
  EXPECT_EQ(json_text, read_file(two / "reach_map.json"));
  EXPECT_EQ(read_file(one / "reach_map.png"), read_file(two / "reach_map.png"));

  const nlohmann::json map = nlohmann::json::parse(json_text);
  ASSERT_GT(map["points"].size(), 20u);
  // A disc in front of each foot: that side's leg lands on it.
  for (const auto &[y, side] : {std::pair{0.05, "left"}, std::pair{-0.05, "right"}}) {
    const nlohmann::json *p = point_at(map, 0.05, y);
    ASSERT_NE(p, nullptr) << side;
    EXPECT_EQ((*p)["side"], side);
    EXPECT_TRUE((*p)["hit"].get<bool>()) << side;
    EXPECT_LE((*p)["miss"].get<double>(), 0.006) << side;
    EXPECT_EQ((*p)["outcome"], "on_target") << side;
  }
  // Discs seen beyond the leg's reach: a reach whose foot stays in the air.
  for (const auto &[x, y] : {std::pair{0.1, 0.1}, std::pair{0.075, -0.075}}) {
    const nlohmann::json *p = point_at(map, x, y);
    ASSERT_NE(p, nullptr) << x << ", " << y;
    EXPECT_TRUE((*p)["seen"].get<bool>());
    EXPECT_FALSE((*p)["reached"].get<bool>());
    EXPECT_EQ((*p)["outcome"], "no_contact");
    EXPECT_TRUE((*p)["foot"].is_null());
  }
  // The kinematic engine puts the foot exactly where the set-points say, and
  // the set-points put it within the tables' rounding (half a millimetre per
  // coordinate) of the ground the window's centre pixel sees.
  for (const nlohmann::json &p : map["points"]) {
    if (!p["reached"].get<bool>()) continue;
    EXPECT_LE(p["error"].get<double>(), 1e-6) << p.dump();
    const double off =
        std::hypot(p["aimed"][0].get<double>() - p["window_ground"][0].get<double>(),
                   p["aimed"][1].get<double>() - p["window_ground"][1].get<double>());
    EXPECT_LE(off, std::sqrt(2.0) * 0.0005 + 2e-6) << p.dump();
  }
}

}  // namespace
