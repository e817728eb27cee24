// A whole run of the real controller in each shipped world, checked from the
// stand-in's report: what the feet did, not how the controller did it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/sim_run.h"

namespace {

namespace fs = std::filesystem;
using simrun::RunResult;

std::string world_file(const std::string &name) {
  return std::string(REACHER_WORLDS) + "/" + name + ".toml";
}

struct Placement {
  std::int64_t step = 0;
  int leg = 0;
  double x = 0.0, y = 0.0, z = 0.0;
  std::optional<int> target;
  std::optional<double> distance;
};

struct Report {
  nlohmann::json json;
  std::int64_t steps = -1;
  std::vector<Placement> placements;
  std::vector<Placement> reaches;     // those whose foot came to rest
  std::vector<std::string> outcomes;  // of every reach

  std::vector<Placement> on(int target) const {
    std::vector<Placement> found;
    for (const Placement &p : placements)
      if (p.target == target) found.push_back(p);
    return found;
  }
};

std::vector<Placement> placements_of(const nlohmann::json &list) {
  std::vector<Placement> found;
  for (const nlohmann::json &p : list) {
    Placement placement{p["step"], p["leg"], p["foot"][0], p["foot"][1], p["foot"][2], {}, {}};
    if (!p["target"].is_null()) placement.target = p["target"].get<int>();
    if (!p["distance"].is_null()) placement.distance = p["distance"].get<double>();
    found.push_back(placement);
  }
  return found;
}

Report read_report(const RunResult &run) {
  Report report;
  report.json = run.report();
  report.steps = report.json["steps"];
  report.placements = placements_of(report.json["placements"]);
  nlohmann::json rested = nlohmann::json::array();
  for (const nlohmann::json &reach : report.json["reaches"]) {
    report.outcomes.push_back(reach["outcome"]);
    if (!reach["foot"].is_null()) rested.push_back(reach);
  }
  report.reaches = placements_of(rested);
  return report;
}

// The length of a video as ffprobe reads it, or why it could not.
std::string video_seconds(const std::string &path) {
  const std::string command =
      "ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 '" + path + "' 2>&1";
  std::FILE *pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return "cannot run ffprobe";
  std::string out;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
  pclose(pipe);
  if (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

int count_of(const std::string &text, const std::string &part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Every reach lands inside a target, the right leg's on the right disc (0)
// and the left leg's on the left one (1), each at least twice.
void expect_every_reach_on_its_target(const RunResult &run) {
  ASSERT_EQ(run.status, 0) << run.err;
  const Report report = read_report(run);
  EXPECT_EQ(report.steps, 600);
  const std::vector<Placement> reaches = report.reaches;
  EXPECT_EQ(static_cast<int>(reaches.size()), count_of(run.out, " MODE KINE \n"));
  // Every reach that is over is on its target; the run's 600 steps end
  // during the last one, which is told as unfinished.
  ASSERT_FALSE(report.outcomes.empty());
  for (std::size_t i = 0; i + 1 < report.outcomes.size(); ++i)
    EXPECT_EQ(report.outcomes[i], "on_target") << "reach " << i + 1;
  EXPECT_EQ(report.outcomes.back(), "unfinished");
  EXPECT_TRUE(report.json["reaches"].back()["end_step"].is_null());
  for (const Placement &p : reaches) {
    ASSERT_TRUE(p.target.has_value()) << "step " << p.step;
    EXPECT_EQ(*p.target, p.leg == 2 ? 0 : 1) << "step " << p.step;
    EXPECT_LT(*p.distance, 0.006);
    EXPECT_NEAR(p.z, -0.115, 0.002);
  }
  // The foot lands where the leg was sent, and the robot, standing on its own
  // feet, neither tips nor presses the reaching paw into the floor.
  EXPECT_EQ(report.json["torso"], "free");
  for (const nlohmann::json &reach : report.json["reaches"]) {
    EXPECT_LT(reach["error"], 0.002);
    EXPECT_LT(reach["torso_tilt"], 15.0 * M_PI / 180.0);
    EXPECT_LT(reach["foot_force"], 50.0);
  }
  EXPECT_GE(report.on(0).size(), 2u);
  EXPECT_GE(report.on(1).size(), 2u);
}

TEST(ShippedWorlds, DefaultWorldFindsBothTargetsAndPlacesEveryReachInside) {
  const RunResult run = simrun::run_reacher("");
  expect_every_reach_on_its_target(run);
  EXPECT_EQ(count_of(run.out, "impossible"), 0);
  const Report report = read_report(run);
  const std::string summary = "sim: 600 steps, " + std::to_string(report.outcomes.size()) +
                              " reaches: " + std::to_string(report.outcomes.size() - 1) +
                              " on target, 0 off target, 0 never touched the ground, 1 still "
                              "under way when the run ended; ";
  EXPECT_NE(run.err.find(summary), std::string::npos) << run.err;
  for (const char *name : {"top_view.png", "joints.png", "trace.jsonl"})
    EXPECT_TRUE(fs::exists(fs::path(run.folder) / name)) << name;
  int left_frames = 0;
  int right_frames = 0;
  for (const auto &entry : fs::directory_iterator(run.folder)) {
    const std::string name = entry.path().filename().string();
    left_frames += std::regex_match(name, std::regex(R"(frame_\d{6}_left_(look|reach)\.png)"));
    right_frames += std::regex_match(name, std::regex(R"(frame_\d{6}_right_(look|reach)\.png)"));
  }
  EXPECT_GE(left_frames, 1);
  EXPECT_GE(right_frames, 1);

  // A state row per step, and a video that plays the run in real time.
  const std::string state = simrun::read_file(run.folder + "/state.csv");
  EXPECT_EQ(count_of(state, "\n"), 601);
  EXPECT_EQ(video_seconds(run.folder + "/run.mp4"), "19.200000");
}

TEST(ShippedWorlds, DefaultWorldFileIsTheEmbeddedWorldAndRunsTheSameTwice) {
  const RunResult embedded = simrun::run_reacher("");
  const std::string trace = simrun::read_file(embedded.folder + "/trace.jsonl");
  const std::string report = simrun::read_file(embedded.folder + "/report.json");
  const std::string top = simrun::read_file(embedded.folder + "/top_view.png");
  const std::string joints = simrun::read_file(embedded.folder + "/joints.png");
  const RunResult from_file = simrun::run_reacher_with_file(world_file("default"));
  ASSERT_EQ(from_file.status, 0) << from_file.err;
  EXPECT_FALSE(trace.empty());
  EXPECT_TRUE(trace == simrun::read_file(from_file.folder + "/trace.jsonl"));
  // The same but for where the world came from.
  const std::string other = simrun::read_file(from_file.folder + "/report.json");
  const auto without_source = [](const std::string &text) {
    return text.substr(text.find("\"engine\""));
  };
  EXPECT_EQ(without_source(report), without_source(other));
  EXPECT_TRUE(top == simrun::read_file(from_file.folder + "/top_view.png"));
  EXPECT_TRUE(joints == simrun::read_file(from_file.folder + "/joints.png"));
}

TEST(ShippedWorlds, OnAStandTheRobotReachesAsItDidBeforeItStoodOnItsFeet) {
  std::string world = simrun::read_file(world_file("default"));
  world.replace(world.find("[camera]"), 0,
                "[robot]\ntorso = \"fixed\"\n\n[output]\nvideo = false\n\n");
  const RunResult run = simrun::run_reacher(world);
  ASSERT_EQ(run.status, 0) << run.err;
  const Report report = read_report(run);
  EXPECT_EQ(report.json["torso"], "fixed");
  // Where the feet came to rest on the robot on a stand, to the micrometre.
  ASSERT_GE(report.reaches.size(), 2u);
  EXPECT_EQ(report.reaches[0].step, 111);
  EXPECT_EQ(report.json["reaches"][0]["foot"].dump(), "[0.037024,-0.054028,-0.115001]");
  EXPECT_EQ(report.reaches[1].step, 229);
  EXPECT_EQ(report.json["reaches"][1]["foot"].dump(), "[0.037032,0.047062,-0.115001]");
  // The torso never moves.
  for (const nlohmann::json &reach : report.json["reaches"]) {
    EXPECT_EQ(reach["torso_tilt"], 0.0);
    EXPECT_EQ(reach["torso_shift"], 0.0);
  }
}

TEST(ShippedWorlds, WideCameraReachesLikeTheDefault) {
  const RunResult run = simrun::run_reacher_with_file(world_file("wide_camera"));
  expect_every_reach_on_its_target(run);
  ASSERT_FALSE(run.calls("camera_get_width").empty());
}

TEST(ShippedWorlds, TargetOutOfReachGetsReachesWhoseFootNeverTouchesTheGround) {
  const RunResult run = simrun::run_reacher_with_file(world_file("out_of_reach"));
  ASSERT_EQ(run.status, 0) << run.err;
  // The controller did see it: it reached for it every time, and its solver said it cannot.
  const int reaches = count_of(run.out, " MODE KINE \n");
  EXPECT_GE(reaches, 2);
  EXPECT_EQ(count_of(run.out, "<> 1,q3impossible"), reaches);
  const Report report = read_report(run);
  EXPECT_FALSE(report.placements.empty());
  EXPECT_TRUE(report.on(0).empty());
  // Every reach is in the report, each with the point the leg was sent to.
  ASSERT_EQ(static_cast<int>(report.outcomes.size()), reaches);
  for (const nlohmann::json &reach : report.json["reaches"]) {
    EXPECT_EQ(reach["outcome"], "no_contact");
    EXPECT_TRUE(reach["foot"].is_null());
    EXPECT_GT(reach["aimed"][2].get<double>(), -0.115 + 0.01);  // in the air
  }
  EXPECT_NE(run.err.find(std::to_string(reaches) + " reaches: 0 on target, 0 off target, " +
                         std::to_string(reaches) + " never touched the ground"),
            std::string::npos)
      << run.err;
  // The model the run simulated opens as MJCF.
  const std::string model = simrun::read_file(run.folder + "/world.xml");
  EXPECT_NE(model.find("<mujoco model=\"reacher\">"), std::string::npos);
  EXPECT_NE(model.find("name=\"target0\""), std::string::npos);
}

TEST(ShippedWorlds, NoTargetMeansSearchingAndFeetOnlyAtRest) {
  const RunResult run = simrun::run_reacher_with_file(world_file("no_target"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(count_of(run.out, "MODE KINE"), 0);
  const Report report = read_report(run);
  EXPECT_EQ(report.steps, 400);
  EXPECT_EQ(report.placements.size(), 2u);  // each reaching leg, once, at rest
  EXPECT_TRUE(report.reaches.empty());
}

TEST(WorldFileErrors, EndTheRunWithStatusTwoBeforeTheControllerStarts) {
  struct Case {
    std::string text;
    std::string message;
  };
  for (const Case &c :
       {Case{"steps = 600\n[camera]\nwidth = 0\n", "camera.width: must be between 1 and 1024"},
        Case{"[camera]\nwidth = 160\n", "steps: is required"},
        Case{"steps = 600\n[[target]]\nradius = -1\n", "target[0].radius: must be positive"},
        Case{"steps = 600\nspeed = 2\n", "speed: unknown key"}}) {
    const RunResult run = simrun::run_reacher(c.text);
    EXPECT_EQ(run.status, 2) << c.text;
    EXPECT_EQ(run.err.rfind("sim: error: " + run.folder + "/world.toml: " + c.message, 0), 0u)
        << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_TRUE(run.out.empty());
    EXPECT_TRUE(run.trace.empty());
  }
}

TEST(WorldFileErrors, WithoutOffscreenRenderingThePhysicsEngineSaysWhatToInstall) {
  simrun::Options no_egl;
  no_egl.env.push_back("__EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent/egl_vendor.json");
  const RunResult run = simrun::run_reacher("steps = 10\n", no_egl);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err.rfind("sim: error: the physics engine's camera needs offscreen OpenGL", 0), 0u)
      << run.err;
  EXPECT_NE(run.err.find("libegl-mesa0"), std::string::npos) << run.err;
  EXPECT_TRUE(run.out.empty());
}

TEST(WorldWarnings, ATargetNoViewCanSeeIsNamedAndTheRunGoesOn) {
  simrun::Options options;
  options.expected_warnings = {"neither camera view can see it"};
  const RunResult run = simrun::run_reacher(
      "engine = \"kinematic\"\nsteps = 50\n[[target]]\nx = 0.038\ny = 0.05\n"
      "[[target]]\nx = -0.3\ny = 0.0\n",
      options);
  EXPECT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(run.warnings().size(), 1u) << run.err;
  EXPECT_NE(run.warnings()[0].find("target[1] at (-0.300, 0.000) m lies where neither camera view "
                                   "can see it"),
            std::string::npos)
      << run.err;
}

TEST(WorldWarnings, AnUnreadSimVariableIsNamedWithTheOneItWasLikelyMeantFor) {
  simrun::Options options;
  options.env = {"SIM_WORLDS=elsewhere.toml", "SIM_PARANOID=1"};
  options.expected_warnings = {"is not read"};
  const RunResult run = simrun::run_reacher("engine = \"kinematic\"\nsteps = 5\n", options);
  EXPECT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(run.warnings().size(), 2u) << run.err;
  EXPECT_NE(run.err.find("sim: warning: SIM_WORLDS is not read; did you mean SIM_WORLD?"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("sim: warning: SIM_PARANOID is not read; the stand-in reads only "
                         "SIM_WORLD, SIM_OUTPUT and SIM_VIEW"),
            std::string::npos)
      << run.err;
}

}  // namespace
