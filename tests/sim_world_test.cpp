// The stand-in's world on its own: joints, world files, placements, the report
// and the output files, driven directly without the controller.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "sim/config.h"
#include "sim/kinematic/joints.h"
#include "sim/report.h"
#include "sim/run_report.h"
#include "sim/state_log.h"
#include "sim/world.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint8_t leg_tag(int leg, int joint) {
  return static_cast<std::uint8_t>(2 + 3 * leg + joint);
}
constexpr std::uint8_t tete_coup_tag = 14;
constexpr std::uint8_t pan_tag = 15;

// The rest posture's set-points, which put a foot at (0, 0, -0.115) under its hip.
constexpr float rest_joint0 = -0.76679f;
constexpr float rest_joint2 = 1.476161f;

TEST(Joints, MoveAtMostTheirSpeedAndArriveExactly) {
  sim::Joints joints(0.25);
  sim::SetPoints set;
  set.set(0, 0.6);
  std::vector<double> seen;
  for (int i = 0; i < 4; ++i) {
    joints.advance(set);
    seen.push_back(joints.position(0));
  }
  EXPECT_EQ(seen, (std::vector<double>{0.25, 0.5, 0.6, 0.6}));

  sim::Joints slow(0.1);
  sim::SetPoints slow_set;
  slow_set.set(5, -0.25);
  slow.advance(slow_set);
  EXPECT_DOUBLE_EQ(slow.position(5), -0.1);
}

TEST(Joints, AdvanceReportsOnlyTheJointsThatMoved) {
  sim::Joints joints(0.25);
  sim::SetPoints set;
  set.set(2, 0.3);
  set.set(13, 0.0);  // commanded where it already is
  EXPECT_EQ(joints.advance(set), 1u << 2);
  EXPECT_EQ(joints.advance(set), 1u << 2);
  EXPECT_EQ(joints.advance(set), 0u);
  for (int j = 0; j < sim::joint_count; ++j)
    if (j != 2) {
      EXPECT_EQ(joints.position(j), 0.0) << j;
    }
}

TEST(Joints, HeadTiltSaturatesBeyondItsRangeAndReachesTheSweepTilt) {
  sim::Joints joints(0.25);
  sim::SetPoints set;
  set.set(sim::head_tilt_joint, -8.35);
  for (int i = 0; i < 40; ++i) joints.advance(set);
  const double limit = sim::joint_range(sim::head_tilt_joint).low;
  EXPECT_EQ(joints.position(sim::head_tilt_joint), limit);
  EXPECT_GT(limit, -8.35);
  set.set(sim::head_tilt_joint, -1.24f);
  joints.advance(set);
  EXPECT_EQ(joints.position(sim::head_tilt_joint), static_cast<double>(-1.24f));
}

TEST(Joints, RangesHoldEverySetPointTheControllerGivesWithinReach) {
  // Rest posture, supporting legs, head poses and the extremes of a reach.
  for (int leg : {0, 2}) {
    EXPECT_TRUE(sim::joint_range(leg * 3).low <= -1.6 && sim::joint_range(leg * 3).high >= 1.4);
    EXPECT_TRUE(sim::joint_range(leg * 3 + 1).low <= -1.5708 &&
                sim::joint_range(leg * 3 + 1).high >= 1.5708);
    EXPECT_TRUE(sim::joint_range(leg * 3 + 2).low <= 0.385 &&
                sim::joint_range(leg * 3 + 2).high >= rest_joint2);
  }
  EXPECT_LE(sim::joint_range(3).low, -0.75);
  EXPECT_GE(sim::joint_range(5).high, 1.4);
  EXPECT_LE(sim::joint_range(sim::head_pan_joint).low, -0.4);
  EXPECT_GE(sim::joint_range(sim::head_pan_joint).high, 0.4);
  EXPECT_LE(sim::joint_range(sim::head_roll_joint).low, -0.26);
  EXPECT_LE(sim::joint_range(sim::head_tilt_joint).low, -1.24);
}

sim::WorldFileError error_of(const std::string &text) {
  try {
    sim::parse_world(text, "w.toml");
  } catch (const sim::WorldFileError &error) {
    return error;
  }
  ADD_FAILURE() << "no error for:\n" << text;
  return sim::WorldFileError("", "", "");
}

TEST(WorldFile, ErrorsNameTheKeyAndTheReason) {
  struct Case {
    std::string text;
    std::string key;
    std::string reason;  // a part of it
  };
  const std::vector<Case> cases = {
      {"time_step_ms = 32\n", "steps", "required"},
      {"steps = 0\n", "steps", "between 1"},
      {"steps = -5\n", "steps", "between 1"},
      {"steps = \"600\"\n", "steps", "integer"},
      {"steps = 600\nstep = 3\n", "step", "unknown key"},
      {"steps = 600\n[camera]\nwidth = 0\n", "camera.width", "between 1 and 1024"},
      {"steps = 600\n[camera]\nheight = 1025\n", "camera.height", "between 1 and 1024"},
      {"steps = 600\n[camera]\nwidth = 160.0\n", "camera.width", "integer"},
      {"steps = 600\n[camera]\ndepth = 3\n", "camera.depth", "unknown key"},
      {"steps = 600\ncamera = 3\n", "camera", "table"},
      {"steps = 600\n[[target]]\nradius = 0\n", "target[0].radius", "positive"},
      {"steps = 600\n[[target]]\nx = 0.1\n[[target]]\nradius = -0.01\n", "target[1].radius",
       "positive"},
      {"steps = 600\n[[target]]\nx = \"near\"\n", "target[0].x", "number"},
      {"steps = 600\n[[target]]\ncolor = [30, 300, 0]\n", "target[0].color",
       "channel green must be between 0 and 255, not 300"},
      {"steps = 600\n''=5\n", "\"\"", "unknown key"},
      {"steps = 600\n[camera]\n\"a b\" = 1\n", "camera.\"a b\"", "unknown key"},
      {"engine = \"kinematic\"\nsteps = 600\njoint_speed = 1e-9\n", "joint_speed",
       "no joint would visibly move"},
      {"steps = 600\n[[block]]\nview = \"left\"\nx = 160\n", "block[0].x",
       "wholly outside the 160 x 160 image"},
      {"steps = 600\n[[target]]\nsize = 1\n", "target[0].size", "unknown key"},
      {"steps = 600\ntime_step_ms = 0\n", "time_step_ms", "positive"},
      {"steps = 600\n[camera\n", "(syntax)", "line 2"},
      {"engine = \"ode\"\nsteps = 600\n", "engine", "\"physics\" or \"kinematic\""},
      {"steps = 600\njoint_speed = 0.5\n", "joint_speed", "physics engine"},
      {"steps = 600\ntime_step_ms = 5000\n", "time_step_ms", "between 0.1 and 1000"},
      {"engine = \"kinematic\"\nsteps = 600\n[output]\nvideo = true\n", "output.video",
       "kinematic engine"},
  };
  for (const Case &c : cases) {
    const sim::WorldFileError error = error_of(c.text);
    EXPECT_EQ(error.file, "w.toml") << c.text;
    EXPECT_EQ(error.key, c.key) << c.text;
    EXPECT_NE(error.reason.find(c.reason), std::string::npos) << c.text << error.reason;
    EXPECT_EQ(std::string(error.what()), "w.toml: " + error.key + ": " + error.reason);
  }
}

TEST(WorldFile, WhatIsNotAWorldFileIsSaidForWhatItIs) {
  const fs::path folder =
      fs::path(testing::TempDir()) / ("sim_world_files_" + std::to_string(::getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  const fs::path fifo = folder / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  const fs::path huge = folder / "huge.toml";
  std::ofstream(huge) << "steps = 1\n";
  fs::resize_file(huge, 17u << 20);  // sparse: no disk needed
  const std::pair<fs::path, const char *> cases[] = {
      {folder, "is a directory"},
      {fifo, "is a FIFO"},
      {"/dev/zero", "is a device"},
      {huge, "at most 16777216"},
      {folder / "missing.toml", "cannot be opened (No such file or directory)"}};
  for (const auto &[path, reason] : cases) {
    try {
      sim::load_world_file(path.string());
      ADD_FAILURE() << path;
    } catch (const sim::WorldFileError &error) {
      EXPECT_EQ(error.file, path.string());
      EXPECT_NE(error.reason.find(reason), std::string::npos) << error.reason;
    }
  }
}

TEST(WorldFile, ReadsEveryKeyAndTheSizeBounds) {
  const sim::WorldConfig world = sim::parse_world(
      "engine = \"kinematic\"\nsteps = 7\ntime_step_ms = 16\njoint_speed = 0.5\nrun_calls = 2\n"
      "stop_after_reaches = 3\n[output]\ntrace = false\nstate = false\npictures = false\n"
      "[camera]\nwidth = 1024\nheight = 1\nimage = false\n"
      "[[target]]\nx = 0.038\ny = -0.05\nradius = 0.006\ncolor = [214, 30, 31]\n"
      "[[target]]\nradius = 1\n",
      "w.toml");
  EXPECT_EQ(world.engine, sim::EngineKind::kinematic);
  EXPECT_EQ(world.steps, 7);
  EXPECT_EQ(world.time_step_ms, 16.0);
  EXPECT_EQ(world.joint_speed, 0.5);
  EXPECT_EQ(world.run_calls, 2);
  EXPECT_EQ(world.stop_after_reaches, 3);
  EXPECT_FALSE(world.write_trace || world.write_state || world.write_pictures || world.write_video);
  EXPECT_EQ(world.camera_width, 1024);
  EXPECT_EQ(world.camera_height, 1);
  EXPECT_FALSE(world.camera_image);
  ASSERT_EQ(world.targets.size(), 2u);
  EXPECT_EQ(world.targets[0].x, 0.038);
  EXPECT_EQ(world.targets[0].y, -0.05);
  EXPECT_EQ(world.targets[0].color, (std::array<std::uint8_t, 3>{214, 30, 31}));
  EXPECT_EQ(world.targets[1].radius, 1.0);
  EXPECT_EQ(world.targets[1].color[0], 214);  // the default red
}

TEST(WorldFile, TheEmbeddedDefaultIsTheShippedFileWithATargetOnEachSide) {
  const sim::WorldConfig world = sim::default_world();
  EXPECT_EQ(world.steps, 600);
  ASSERT_EQ(world.targets.size(), 2u);
  EXPECT_LT(world.targets[0].y, 0.0);
  EXPECT_GT(world.targets[1].y, 0.0);
}

// A world with no outputs, stepped by hand.
sim::WorldConfig plain_world(std::vector<sim::Target> targets = {}) {
  sim::WorldConfig config;
  config.engine = sim::EngineKind::kinematic;
  config.steps = 100'000;
  config.targets = std::move(targets);
  return config;
}

void rest_leg(sim::World &world, int leg) {
  world.set_position(leg_tag(leg, 0), rest_joint0);
  world.set_position(leg_tag(leg, 1), 0.0f);
  world.set_position(leg_tag(leg, 2), rest_joint2);
}

void run_steps(sim::World &world, int steps) {
  for (int i = 0; i < steps; ++i) ASSERT_TRUE(world.step(1));
}

TEST(Placements, OneForEachRestPeriodOfAFootOnTheGround) {
  sim::World world(plain_world(), "");
  rest_leg(world, 0);
  // Joint 0 needs 4 steps to reach -0.767 at 0.25 rad a step, joint 2 needs 6.
  run_steps(world, 6 + sim::rest_steps - 1);
  EXPECT_TRUE(world.placements().empty());
  run_steps(world, 1);
  ASSERT_EQ(world.placements().size(), 1u);
  const sim::Placement &p = world.placements()[0];
  EXPECT_EQ(p.step, 6 + sim::rest_steps);
  EXPECT_EQ(p.leg, 0);
  EXPECT_NEAR(p.foot.x, 0.0, 1e-5);
  EXPECT_NEAR(p.foot.y, 0.06, 1e-5);
  EXPECT_NEAR(p.foot.z, -0.115, 1e-5);
  EXPECT_FALSE(p.target.has_value());
  EXPECT_FALSE(p.distance.has_value());

  // Still longer: no second placement. Moved and at rest again: a new one.
  run_steps(world, 50);
  EXPECT_EQ(world.placements().size(), 1u);
  world.set_position(leg_tag(0, 1), 0.2f);
  run_steps(world, 3);
  world.set_position(leg_tag(0, 1), 0.0f);
  run_steps(world, 30);
  EXPECT_EQ(world.placements().size(), 2u);
}

TEST(Placements, PausesShorterThanTheRestPeriodAndFeetInTheAirDoNotCount) {
  sim::World world(plain_world(), "");
  // Joints at zero hold the foot far above the ground.
  run_steps(world, 30);
  EXPECT_TRUE(world.placements().empty());
  // A foot on the ground whose leg never pauses for ten steps.
  rest_leg(world, 2);
  run_steps(world, 6);
  for (int i = 0; i < 5; ++i) {
    world.set_position(leg_tag(2, 1), (i % 2 == 0) ? 0.1f : 0.0f);
    run_steps(world, sim::rest_steps - 1);
  }
  EXPECT_TRUE(world.placements().empty());
}

TEST(Placements, NameTheFirstDiscHoldingTheFootAndTheDistanceFromItsCentre) {
  sim::Target wide{0.0, 0.058, 0.01, {214, 30, 30}};
  sim::Target under{0.0, 0.06, 0.005, {214, 30, 30}};
  sim::Target elsewhere{0.05, -0.05, 0.006, {214, 30, 30}};
  sim::World world(plain_world({elsewhere, wide, under}), "");
  rest_leg(world, 0);
  run_steps(world, 20);
  ASSERT_EQ(world.placements().size(), 1u);
  EXPECT_EQ(world.placements()[0].target, 1);
  EXPECT_NEAR(*world.placements()[0].distance, 0.002, 1e-5);

  const sim::Placement off = sim::place(0, 2, {0.1, 0.0, -0.115}, {elsewhere, wide, under});
  EXPECT_FALSE(off.target.has_value());
}

TEST(Report, SaysWhatEachReachDidAndNamesTargetsNeverReached) {
  sim::WorldConfig world = plain_world({{0.038, -0.05, 0.006, {214, 30, 30}},
                                        {0.038, 0.05, 0.006, {214, 30, 30}},
                                        {0.3, 0.0, 0.006, {214, 30, 30}}});
  world.file = "w.toml";
  const std::vector<sim::Placement> placements = {
      {12, 0, {0.0, 0.06, -0.115}, std::nullopt, std::nullopt},
      {105, 2, {0.038, -0.054, -0.1150004}, 0, 0.004},
      {224, 0, {0.037, 0.047, -0.115}, 1, 0.0031623},
  };
  const std::vector<sim::Reach> reaches = {
      {78, 2, sim::Window{85, 117}, sim::Vec2{0.0377, -0.0541}, placements[1]},
      {197, 0, std::nullopt, std::nullopt, placements[2]},
  };
  const sim::RunRecord run{world, 600, false, placements, reaches};
  const std::string json = sim::report_json(run);
  for (const char *part :
       {"\"world\": \"w.toml\"", "\"engine\": \"kinematic\"", "\"steps\": 600",
        "\"interrupted\": false",
        "{\"step\":105,\"leg\":2,\"foot\":[0.038,-0.054,-0.115],\"target\":0,\"distance\":0.004}",
        "{\"step\":105,\"leg\":2,\"search_step\":78,\"window\":{\"x\":85,\"y\":117},"
        "\"aimed\":[0.0377,-0.0541],\"foot\":[0.038,-0.054,-0.115],\"error\":0.000316,",
        "\"window\":null,\"aimed\":null,\"foot\":[0.037,0.047,-0.115],\"error\":null,",
        "{\"x\":0.3,\"y\":0.0,\"radius\":0.006,\"reaches\":0}"})
    EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;
  EXPECT_EQ(sim::summary_line(run),
            "sim: 600 steps, 2 reaches, 2 on target, 3.6 mm from the centre on average; target 2 "
            "never reached");
  const sim::RunRecord idle{world, 5, true, {}, {}};
  EXPECT_EQ(sim::summary_line(idle),
            "sim: 5 steps, 0 reaches, 0 on target; targets 0, 1, 2 never reached");
}

TEST(World, StepSaysWhenTheRunIsOverAndNaNSetPointsAreIgnored) {
  sim::WorldConfig config = plain_world();
  config.steps = 3;
  sim::World world(config, "");
  testing::internal::CaptureStderr();
  world.set_position(pan_tag, std::nanf(""));
  world.set_position(tete_coup_tag, -8.35f);  // beyond range: saturates silently
  EXPECT_TRUE(world.step(1));
  EXPECT_TRUE(world.step(1));
  EXPECT_FALSE(world.step(1));
  EXPECT_FALSE(world.step(1));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(world.steps_done(), 3);
  EXPECT_EQ(world.engine().position(sim::head_pan_joint), 0.0);
  EXPECT_FALSE(world.set_points().given(sim::head_pan_joint));
  EXPECT_NE(err.find("sim: warning: servo_set_position: tag 15"), std::string::npos) << err;
  std::istringstream lines(err);
  int warnings = 0;
  for (std::string line; std::getline(lines, line);)
    if (line.find("warning") != std::string::npos) ++warnings;
  EXPECT_EQ(warnings, 1) << err;
  EXPECT_NE(err.find("sim: 3 steps, 0 reaches, 0 on target\n"), std::string::npos) << err;
}

std::string read(const fs::path &path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

TEST(World, WritesEveryOutputWholeAndTheFramesTheControllerDecidedOn) {
  const fs::path folder =
      fs::path(testing::TempDir()) / ("sim_world_outputs_" + std::to_string(::getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  // Outputs of an earlier run go; a file of the user's stays.
  for (const char *name : {"frame_000001_left_look.png", ".report.json.partial", "notes.txt"})
    std::ofstream(folder / name) << "old";
  sim::WorldConfig config = plain_world({{0.038, 0.05, 0.006, {214, 30, 30}}});
  config.steps = 60;
  {
    sim::World world(config, folder.string());
    rest_leg(world, 0);
    world.set_position(pan_tag, 0.4f);
    run_steps(world, 3);
    world.console_print("red left = 49\n");
    world.console_print("nb_red = 49, ad*ag = 49\n");
    // The set-points the controller gives for the left disc.
    world.set_position(leg_tag(0, 2), 1.2720519f);
    world.set_position(leg_tag(0, 1), -0.119698115f);
    world.set_position(leg_tag(0, 0), -0.3517099f);
    while (world.step(1)) {
    }
  }
  const std::string png_signature = "\x89PNG\r\n\x1a\n";
  for (const char *name :
       {"top_view.png", "joints.png", "frame_000003_left_look.png", "frame_000003_left_reach.png"})
    EXPECT_EQ(read(folder / name).substr(0, 8), png_signature) << name;
  EXPECT_FALSE(fs::exists(folder / "frame_000001_left_look.png"));
  EXPECT_EQ(read(folder / "notes.txt"), "old");
  for (const auto &entry : fs::directory_iterator(folder))
    EXPECT_FALSE(entry.path().filename().string().ends_with(".partial")) << entry.path();
  const std::string report = read(folder / "report.json");
  EXPECT_NE(report.find("\"steps\": 60,"), std::string::npos) << report;
  EXPECT_NE(report.find("\"search_step\":3,\"window\":{\"x\":"), std::string::npos) << report;
  EXPECT_NE(report.find("\"target\":0,\"distance\":0.003162}"), std::string::npos) << report;
  const std::string trace = read(folder / "trace.jsonl");
  EXPECT_EQ(trace.rfind("{\"step\":0,\"op\":\"servo_set_position\",\"tag\":2,", 0), 0u) << trace;
  EXPECT_TRUE(
      trace.ends_with("{\"step\":60,\"op\":\"end\",\"reason\":\"the world's steps are done\"}\n"));
  const std::string state = read(folder / "state.csv");
  EXPECT_EQ(std::count(state.begin(), state.end(), '\n'), 61);
  EXPECT_EQ(state.substr(0, state.find('\n')), sim::state_log_header());
}

}  // namespace

namespace {

TEST(World, AnOutputThatCannotBeWrittenIsAnErrorNotASuccess) {
  // A report that lands on a full disk: the run must not claim it went well.
  const fs::path folder =
      fs::path(testing::TempDir()) / ("sim_world_full_disk_" + std::to_string(::getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  sim::WorldConfig config = plain_world();
  config.steps = 2;
  sim::World world(config, folder.string());
  fs::create_symlink("/dev/full", folder / ".report.json.partial");
  testing::internal::CaptureStderr();
  world.step(1);
  EXPECT_FALSE(world.step(1));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(world.exit_status(), 2);
  EXPECT_NE(err.find("sim: error: SIM_OUTPUT: " + folder.string() +
                     ": cannot write report.json there (No space left on device)"),
            std::string::npos)
      << err;
  EXPECT_FALSE(fs::exists(folder / "report.json"));
  EXPECT_TRUE(fs::exists(folder / "trace.jsonl"));
}

}  // namespace
