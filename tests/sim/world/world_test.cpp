// The run loop on its own, driven directly without the controller: when the
// run is over, what it does with a bad set-point, and the outputs it leaves.
#include "sim/world/world.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "sim/record/state_log.h"
#include "sim/system/files.h"
#include "tests/support/folders.h"
#include "tests/support/warnings.h"
#include "tests/support/worlds.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint8_t leg_tag(int leg, int joint) {
  return static_cast<std::uint8_t>(2 + 3 * leg + joint);
}
constexpr std::uint8_t tete_coup_tag = 14;
constexpr std::uint8_t pan_tag = 15;
constexpr std::uint8_t camera_tag = 17;

using support::kinematic_world;

void rest_leg(sim::World &world, int leg) {
  for (int joint = 0; joint < 3; ++joint)
    world.set_position(leg_tag(leg, joint), support::rest_posture[static_cast<std::size_t>(joint)]);
}

void run_steps(sim::World &world, int steps) {
  for (int i = 0; i < steps; ++i) ASSERT_TRUE(world.step(1));
}

TEST(World, StepSaysWhenTheRunIsOverAndNaNSetPointsAreIgnored) {
  sim::WorldConfig config = kinematic_world();
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
  EXPECT_EQ(support::warning_lines(err).size(), 1u) << err;
  EXPECT_NE(err.find("sim: 3 steps, 0 reaches\n"), std::string::npos) << err;
}

std::string read(const fs::path &path) { return sim::read_file(path.string()); }

TEST(World, RobotStepTakesTheStepsItsMillisecondsCover) {
  sim::WorldConfig config = kinematic_world();
  config.time_step_ms = 32.0;
  sim::World world(config, "");
  testing::internal::CaptureStderr();
  const std::pair<std::int32_t, std::int64_t> calls[] = {{1, 1},   {32, 1}, {33, 2}, {64, 2},
                                                         {100, 4}, {0, 1},  {-5, 1}};
  for (const auto &[ms, steps] : calls) {
    const std::int64_t before = world.steps_done();
    ASSERT_TRUE(world.step(ms));
    EXPECT_EQ(world.steps_done() - before, steps) << ms << " ms";
  }
  const std::string err = testing::internal::GetCapturedStderr();
  // One warning for lengths that are none, however often they come.
  EXPECT_EQ(err,
            "sim: warning: robot_step: 0 ms is no length of time; it takes one step (32 ms)\n");

  // A call longer than what is left of the run ends it, and no more.
  config.steps = 5;
  sim::World short_run(config, "");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(short_run.step(1000));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(short_run.steps_done(), 5);
}

TEST(World, WritesEveryOutputWholeAndTheFramesTheControllerDecidedOn) {
  const fs::path folder = support::fresh_folder("sim_world_outputs");
  // Outputs of an earlier run go; a file of the user's stays.
  for (const char *name : {"frame_000001_left_look.png", ".report.json.partial", "notes.txt"})
    std::ofstream(folder / name) << "old";
  sim::WorldConfig config = kinematic_world({support::default_discs()[1]});
  config.steps = 60;
  {
    sim::World world(config, folder.string());
    rest_leg(world, 0);
    world.set_position(pan_tag, 0.4f);
    run_steps(world, 3);
    ASSERT_NE(world.camera_image(camera_tag), nullptr);
    // The set-points the controller gives for the left disc, knee first.
    for (int joint = 2; joint >= 0; --joint)
      world.set_position(leg_tag(0, joint),
                         support::left_disc_posture[static_cast<std::size_t>(joint)]);
    while (world.step(1)) {
    }
    // A controller that goes on calling once its run has ended: enough
    // lines to fill the trace's buffer many times, and new images.
    for (int i = 0; i < 10'000; ++i) world.set_position(leg_tag(0, 0), support::rest_posture[0]);
    world.set_position(pan_tag, -0.4f);
    EXPECT_FALSE(world.step(1));
    world.camera_image(camera_tag);
  }
  const std::string png_signature = "\x89PNG\r\n\x1a\n";
  for (const char *name :
       {"top_view.png", "joints.png", "frame_000003_left_look.png", "frame_000003_left_reach.png"})
    EXPECT_EQ(read(folder / name).substr(0, 8), png_signature) << name;
  EXPECT_FALSE(fs::exists(folder / "frame_000001_left_look.png"));
  EXPECT_EQ(read(folder / "notes.txt"), "old");
  for (const auto &entry : fs::directory_iterator(folder)) {
    EXPECT_FALSE(entry.path().filename().string().ends_with(".partial")) << entry.path();
    EXPECT_EQ(entry.path().filename().string().find("right"), std::string::npos) << entry.path();
  }
  const std::string report = read(folder / "report.json");
  EXPECT_NE(report.find("\"steps\": 60,"), std::string::npos) << report;
  EXPECT_EQ(report.find("target_moves"), std::string::npos) << "no disc was moved";
  EXPECT_NE(report.find("\"search_step\":3,\"window\":{\"x\":"), std::string::npos) << report;
  // The run ends with the leg still out: no outcome yet, but where its foot
  // came to rest so far, on the disc.
  EXPECT_NE(report.find("\"end_step\":null,\"outcome\":\"unfinished\""), std::string::npos)
      << report;
  EXPECT_NE(report.find("\"target\":0,\"distance\":0.003162,"), std::string::npos) << report;
  const std::string trace = read(folder / "trace.jsonl");
  EXPECT_EQ(trace.rfind("{\"step\":0,\"op\":\"servo_set_position\",\"tag\":2,", 0), 0u) << trace;
  EXPECT_TRUE(
      trace.ends_with("{\"step\":60,\"op\":\"end\",\"reason\":\"the world's steps are done\"}\n"));
  const std::string state = read(folder / "state.csv");
  EXPECT_EQ(std::count(state.begin(), state.end(), '\n'), 61);
  EXPECT_EQ(state.substr(0, state.find('\n')), sim::state_log_header());
}

// Pixels of the disc's red in the camera's image.
long red_pixels(sim::World &world) {
  const unsigned char *image = world.camera_image(camera_tag);
  const long pixels = long{world.camera_width(camera_tag)} * world.camera_height(camera_tag);
  long red = 0;
  for (long i = 0; i < pixels; ++i)
    if (image[3 * i] > 150 && image[3 * i + 1] < 80 && image[3 * i + 2] < 80) ++red;
  return red;
}

// A disc a person moves (the live window's drag) is where the camera sees it
// and where a foot is judged against it from the next step on, and every
// move is in the trace and the report; a move of no disc is no move.
TEST(World, AMovedDiscIsSeenAndJudgedWhereItNowLiesAndEachMoveIsRecorded) {
  const fs::path folder = support::fresh_folder("sim_world_moved_disc");
  const sim::Target disc = support::default_discs()[1];
  sim::WorldConfig config = kinematic_world({disc});
  config.steps = 60;
  {
    sim::World world(config, folder.string());
    rest_leg(world, 0);
    world.set_position(pan_tag, 0.4f);
    run_steps(world, 3);
    EXPECT_GT(red_pixels(world), 20);
    world.move_target(0, {disc.x + 0.3, disc.y});
    run_steps(world, 1);
    EXPECT_EQ(red_pixels(world), 0) << "moved out of the camera's view";
    world.move_target(1, {disc.x, disc.y});
    world.move_target(0, {std::nan(""), disc.y});
    // Back, nearer to where the foot will come down than the world file had it.
    world.move_target(0, {disc.x, disc.y - 0.002});
    run_steps(world, 1);
    EXPECT_GT(red_pixels(world), 20);
    for (int joint = 2; joint >= 0; --joint)
      world.set_position(leg_tag(0, joint),
                         support::left_disc_posture[static_cast<std::size_t>(joint)]);
    while (world.step(1)) {
    }
    ASSERT_EQ(world.target_moves().size(), 2u);
  }
  const std::string report = read(folder / "report.json");
  char moves[256];
  std::snprintf(
      moves, sizeof moves,
      "\"target_moves\": [\n    {\"step\":3,\"target\":0,\"from\":[%g,%g],\"to\":[%g,%g]},"
      "\n    {\"step\":4,\"target\":0,\"from\":[%g,%g],\"to\":[%g,%g]}\n  ]",
      disc.x, disc.y, disc.x + 0.3, disc.y, disc.x + 0.3, disc.y, disc.x, disc.y - 0.002);
  EXPECT_NE(report.find(moves), std::string::npos) << moves << "\n" << report;
  // The foot came down on the disc where it now lies: nearer its centre
  // than to where the world file put it (3.2 mm).
  EXPECT_NE(report.find("\"target\":0,\"distance\":0.001414,"), std::string::npos) << report;
  char target[96];
  std::snprintf(target, sizeof target, "\"targets\": [\n    {\"x\":%g,\"y\":%g,", disc.x,
                disc.y - 0.002);
  EXPECT_NE(report.find(target), std::string::npos) << target << "\n" << report;
  const std::string trace = read(folder / "trace.jsonl");
  char line[160];
  std::snprintf(line, sizeof line,
                "{\"step\":4,\"op\":\"target_move\",\"target\":0,\"from_x\":%g,\"from_y\":%g,"
                "\"to_x\":%g,\"to_y\":%g}\n",
                disc.x + 0.3, disc.y, disc.x, disc.y - 0.002);
  EXPECT_NE(trace.find(line), std::string::npos) << line;
  std::size_t lines = 0;
  for (std::size_t at = trace.find("target_move"); at != std::string::npos;
       at = trace.find("target_move", at + 1))
    ++lines;
  EXPECT_EQ(lines, 2u);
}

// The rendered camera redraws only when the robot moves in its view; a disc
// moved while the head holds still must show all the same.
TEST(World, ADiscMovedBeforeAStillPhysicsCameraIsDrawnWhereItNowLies) {
  const sim::Target disc = support::default_discs()[1];
  sim::WorldConfig config = kinematic_world({disc});
  config.engine = sim::EngineKind::physics;
  config.steps = 200;
  sim::World world(config, "");
  rest_leg(world, 0);
  rest_leg(world, 2);
  world.set_position(pan_tag, 0.4f);
  run_steps(world, 120);  // the head has come to rest looking at the disc
  ASSERT_GT(red_pixels(world), 20);
  world.move_target(0, {disc.x + 0.3, disc.y});
  run_steps(world, 1);
  EXPECT_EQ(red_pixels(world), 0) << "the image still shows the disc where it was";
  world.move_target(0, {disc.x, disc.y});
  run_steps(world, 1);
  EXPECT_GT(red_pixels(world), 20);
}

}  // namespace

namespace {

// Runs a short world into folder in a child process whose files may hold at
// most file_limit bytes, as on a full disk: its exit status and messages.
std::pair<int, std::string> run_with_file_limit(const fs::path &folder, rlim_t file_limit) {
  int messages[2];
  if (::pipe(messages) != 0) return {-1, "no pipe"};
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(messages[1], STDERR_FILENO);
    // A write past the limit then fails with EFBIG instead of killing the writer.
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{file_limit, file_limit};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    sim::WorldConfig config = kinematic_world();
    config.steps = 2;
    sim::World world(config, folder.string());
    while (world.step(1)) {
    }
    std::fflush(stderr);
    ::_exit(world.exit_status());
  }
  ::close(messages[1]);
  std::string err;
  char buffer[4096];
  for (ssize_t got; (got = ::read(messages[0], buffer, sizeof buffer)) > 0;)
    err.append(buffer, static_cast<std::size_t>(got));
  ::close(messages[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, err};
}

TEST(World, AnOutputThatCannotBeWrittenIsAnErrorNotASuccess) {
  // Pictures that do not fit on the disk: the run must not claim it went well.
  const fs::path folder = support::fresh_folder("sim_world_full_disk");
  const auto [status, err] = run_with_file_limit(folder, 4096);
  EXPECT_EQ(status, 2) << err;
  EXPECT_NE(err.find("sim: error: SIM_OUTPUT: " + folder.string() +
                     ": cannot write top_view.png there (File too large)"),
            std::string::npos)
      << err;
  EXPECT_FALSE(fs::exists(folder / "top_view.png"));
  EXPECT_TRUE(fs::exists(folder / "report.json"));
  EXPECT_TRUE(fs::exists(folder / "trace.jsonl"));
}

}  // namespace
