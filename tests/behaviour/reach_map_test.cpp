// The reach map end to end on a coarse kinematic grid: scripts/reach-map with
// this build's executables, run with one job and with two; then the script's
// own behaviour: the job count it refuses, its progress, and its end when it
// is killed.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "sim/system/files.h"
#include "tests/support/folders.h"

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

// Runs the map's tool; its exit status and what it said.
std::pair<int, std::string> tool(const std::string &arguments);

TEST(ReachMap, SummaryLineTellsTheMapsOwnCounts) {
  const fs::path out = run_map("summary_line", 2);
  ASSERT_FALSE(out.empty());
  const nlohmann::json s = nlohmann::json::parse(read_file(out / "reach_map.json"))["summary"];
  const auto [status, said] = tool("collect --out " + out.string());
  EXPECT_EQ(status, 0) << said;
  std::ostringstream expected;
  expected << "reach map (kinematic engine, 25 mm grid, " << s["points"] << " points): ";
  for (const char *side : {"left", "right"})
    expected << side << " " << s[side]["seen"] << " seen, " << s[side]["reached"] << " reached, "
             << s[side]["hit"] << " hit, " << s[side]["no_contact"]
             << " never touched the ground; ";
  EXPECT_NE(said.find(expected.str()), std::string::npos)
      << said << "\nexpected " << expected.str();
  std::ostringstream inside;
  inside << "well inside a view and the feet's reach: " << s["well_inside"]["hit"] << " of "
         << s["well_inside"]["points"] << " hit";
  EXPECT_NE(said.find(inside.str()), std::string::npos) << said;
  // A robot with no body of its own to tip has no tilt or push to tell.
  EXPECT_EQ(said.find("torso tilt"), std::string::npos) << said;
}

// Runs the map's tool; its exit status and what it said.
std::pair<int, std::string> tool(const std::string &arguments) {
  return support::run_command(std::string(REACHER_BUILD_DIR) + "/bin/reacher_reach_map " +
                              arguments);
}

TEST(ReachMap, SettingsNoWorldTakesAndReportsNoRunWroteAreRefused) {
  const fs::path out = fs::path(REACHER_TEST_RUNS) / "reach_map" / "refused";
  fs::remove_all(out);
  for (const auto &[options, message] :
       {std::pair{"--radius 0.0001", "--radius wants a number from 0.001 to 1000 mm"},
        std::pair{"--radius 1e300", "--radius wants a number from 0.001 to 1000 mm"},
        std::pair{"--steps 1e300", "--steps wants a number from 1 to 100000000"},
        std::pair{"--spacing 1e300", "--spacing wants a number from 0.001 to 1000 mm"},
        std::pair{"--spacing 500", "a spacing of 500 mm puts no grid point"},
        std::pair{"--steps 119", "too few for any reach"}}) {
    const auto [status, said] = tool("grid --out " + out.string() + " " + options);
    EXPECT_EQ(status, 2) << options;
    EXPECT_NE(said.find(message), std::string::npos) << said;
    EXPECT_FALSE(fs::exists(out)) << "written before refusing " << options;
  }
  // A grid whose every run reports a reach no run could report.
  ASSERT_EQ(tool("grid --engine kinematic --spacing 50 --out " + out.string()).first, 0);
  for (const auto &[reach, message] :
       {std::pair{R"("leg":7,"window":null)", "reaches[0].leg must be a whole number"},
        std::pair{R"("leg":0,"window":{"x":1e30,"y":2})", "reaches[0].window.x must be"}}) {
    for (const auto &job : fs::directory_iterator(out / "jobs"))
      std::ofstream(job.path() / "report.json")
          << R"({"steps":200,"interrupted":false,"reaches":[{"outcome":"on_target",)"
          << R"("target":0,"error":null,"foot":[0.05,0.05,-0.115],"aimed":[0.05,0.05,-0.115],)"
          << R"("window_ground":null,)" << reach << R"(}],"targets":[{"seen":null}]})";
    const auto [status, said] = tool("collect --out " + out.string());
    EXPECT_EQ(status, 2) << said;
    EXPECT_NE(said.find(message), std::string::npos) << said;
  }
}

}  // namespace

std::string read_file_or_empty(const fs::path &path) {
  try {
    return read_file(path.string());
  } catch (const sim::FileError &) {
    return "";
  }
}

// The script run without a terminal; its exit status and what it said. Its
// output comes through a pipe, not a shared file, since these tests run side by
// side.
std::pair<int, std::string> script(const std::string &arguments) {
  return support::run_command(std::string(REACHER_SOURCE_DIR) + "/scripts/reach-map " + arguments +
                              " --build-dir " + REACHER_BUILD_DIR + " </dev/null");
}

TEST(ReachMapScript, AnAbsurdJobCountIsRefusedBeforeAnythingRuns) {
  const fs::path out = fs::path(REACHER_TEST_RUNS) / "reach_map" / "too_many_jobs";
  fs::remove_all(out);
  const std::string bound = std::to_string(4 * ::sysconf(_SC_NPROCESSORS_ONLN));
  for (const std::string &jobs :
       {std::string("100000"), std::to_string(4 * ::sysconf(_SC_NPROCESSORS_ONLN) + 1),
        std::string("99999999999999999999999")}) {
    const auto [status, said] =
        script("--engine kinematic --spacing 25 --jobs " + jobs + " --out " + out.string());
    EXPECT_EQ(status, 2) << said;
    EXPECT_NE(said.find("--jobs " + jobs + " is more than " + bound), std::string::npos) << said;
    EXPECT_FALSE(fs::exists(out)) << jobs;
  }
}

TEST(ReachMapScript, WithoutATerminalProgressComesAsALineAtEachTenthOfTheRuns) {
  const fs::path out = fs::path(REACHER_TEST_RUNS) / "reach_map" / "progress";
  fs::remove_all(out);
  const auto [status, said] =
      script("--engine kinematic --spacing 25 --jobs 2 --out " + out.string());
  ASSERT_EQ(status, 0) << said;
  const std::size_t points =
      nlohmann::json::parse(read_file(out / "reach_map.json"))["points"].size();
  std::istringstream lines(said);
  std::size_t told = 0, last = 0;
  for (std::string line; std::getline(lines, line);) {
    std::size_t done = 0, total = 0;
    if (std::sscanf(line.c_str(), "reach-map: %zu of %zu runs done", &done, &total) != 2) continue;
    EXPECT_EQ(total, points) << line;
    EXPECT_GT(done, last) << said;
    EXPECT_TRUE(line.ends_with(" s left")) << line;
    EXPECT_EQ(line.find('\r'), std::string::npos) << "a terminal's line in a file: " << line;
    last = done;
    ++told;
  }
  EXPECT_EQ(last, points) << said;
  EXPECT_GE(told, 2u) << said;
  EXPECT_LE(told, 10u) << said;
}

// The folders processes are working in, by process.
std::vector<std::pair<int, fs::path>> working_folders() {
  std::vector<std::pair<int, fs::path>> found;
  for (const auto &entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code error;
    const fs::path cwd = fs::read_symlink(entry.path() / "cwd", error);
    if (!error) found.emplace_back(std::stoi(name), cwd);
  }
  return found;
}

std::vector<int> working_under(const fs::path &folder) {
  std::vector<int> pids;
  for (const auto &[pid, cwd] : working_folders())
    if (cwd.string().rfind(folder.string(), 0) == 0) pids.push_back(pid);
  return pids;
}

TEST(ReachMapScript, KillingTheMapEndsEveryProcessItStarted) {
  const fs::path out = fs::path(REACHER_TEST_RUNS) / "reach_map" / "killed";
  fs::remove_all(out);
  // A fine grid: hundreds of runs, far from done when the map is killed.
  const std::string command = "exec " + std::string(REACHER_SOURCE_DIR) +
                              "/scripts/reach-map --engine kinematic --spacing 4 --jobs 2 --out " +
                              out.string() + " --build-dir " + REACHER_BUILD_DIR +
                              " >/dev/null 2>" + out.string() + ".log </dev/null";
  const pid_t map = ::fork();
  ASSERT_GE(map, 0);
  if (map == 0) {
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char *>(nullptr));
    ::_exit(127);
  }
  // Until a few runs are over and others are going.
  for (int tries = 0; tries < 600; ++tries) {
    const std::string joblog = read_file_or_empty(out / "joblog.txt");
    if (std::count(joblog.begin(), joblog.end(), '\n') > 3) break;
    ::usleep(50'000);
  }
  ASSERT_FALSE(working_under(out).empty()) << "no run going";
  ASSERT_EQ(::kill(map, SIGTERM), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(map, &status, 0), map);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGTERM) << status;
  // Every process it started is gone: parallel, the runs and their shells.
  EXPECT_EQ(working_under(out), std::vector<int>{});
  const std::string said = read_file_or_empty(out.string() + ".log");
  EXPECT_NE(said.find("reach-map: stopped by SIGTERM; every process it started has ended"),
            std::string::npos)
      << said;
  // A run that was going when the map was killed completed its outputs.
  for (const auto &job : fs::directory_iterator(out / "jobs"))
    EXPECT_FALSE(fs::exists(job.path() / ".report.json.partial")) << job.path();
}
