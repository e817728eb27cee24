// The whole behaviour cycle of the real controller under the stand-in: search,
// head turns and reach, read from the trace. The reach's set-points are
// recomputed in this process with the real tables and solver.
#include <gtest/gtest.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "kinematics/leg_ik.h"
#include "tests/controller/fake_controller.h"
#include "tests/support/sim_run.h"
#include "vision/red_measures.h"
#include "vision/target_tables.h"

namespace {

using simrun::Call;
using simrun::RunResult;

// Tags the stand-in hands out, in the order of its device list.
constexpr int leg_tag(int leg, int joint) { return 2 + 3 * leg + joint; }
constexpr int tete_coup_tag = 14;
constexpr int pan_tag = 15;
constexpr int coup_h_tag = 16;

constexpr int search_steps = 43;
constexpr int turn_steps = 21;
constexpr int reach_steps = 41;
constexpr int rest_steps = 14;

const std::string init_line = "MODE INIT";
const std::string search_line = " MODE SEARCH\n";
const std::string turn_left_line = "MODE TURN_HEAD_LEFT \n";
const std::string turn_right_line = "MODE TURN_HEAD_RIGHT \n";
const std::string kine_line = " MODE KINE \n";
const std::string q3_message = "xd^2+yd^2+zd^2-l1*l1-l2*l2)/ (2*l1*l2) <> 1,q3impossible";

// ---------------------------------------------------------------------------
// Worlds: a run of a few step-function calls, with scripted blocks of red.

std::string world(int calls, const std::string &body = "") {
  return "engine = \"kinematic\"\nsteps = 100000\nrun_calls = " + std::to_string(calls) + "\n" +
         body;
}

std::string block(const std::string &view, int x, int y, int red = TARGET_RED_LEVEL,
                  int side = ad) {
  return "[[block]]\nview = \"" + view + "\"\nx = " + std::to_string(x) +
         "\ny = " + std::to_string(y) + "\nwidth = " + std::to_string(side) +
         "\nheight = " + std::to_string(side) + "\ncolor = [" + std::to_string(red) + ", 0, 0]\n";
}

std::string camera(int width, int height) {
  return "[camera]\nwidth = " + std::to_string(width) + "\nheight = " + std::to_string(height) +
         "\n";
}

// Reachable windows: the left one in the near image rows the left tables can
// reach, the right one likewise for the right tables.
constexpr int left_x = 60, left_y = 140;
constexpr int right_x = 40, right_y = 100;
// Window centre (80, 40) on the left: its target lies beyond the leg's reach.
constexpr int far_x = 77, far_y = 37;

// No red anywhere: every search is fruitless.
const RunResult &no_red_run() {
  static const RunResult run = simrun::run_reacher(world(4));
  return run;
}
// Red only on the right, within reach: found by the 1st and 3rd searches.
const RunResult &right_run() {
  static const RunResult run = simrun::run_reacher(world(4, block("right", right_x, right_y)));
  return run;
}
// Red only on the left, beyond reach: found by the 2nd and 4th searches.
const RunResult &far_left_run() {
  static const RunResult run = simrun::run_reacher(world(4, block("left", far_x, far_y)));
  return run;
}
// Red on both sides: every search finds it, three whole cycles.
const RunResult &both_sides_run() {
  static const RunResult run = simrun::run_reacher(
      world(3, block("left", left_x, left_y) + block("right", right_x, right_y)));
  return run;
}
// One faintly red pixel on the right: red for the search, no target window.
const RunResult &faint_run() {
  static const RunResult run = simrun::run_reacher(world(1, block("right", 20, 20, 26, 1)));
  return run;
}

::testing::AssertionResult clean(const RunResult &run) {
  if (run.status != 0) return ::testing::AssertionFailure() << "status " << run.status << run.err;
  if (run.trace.empty() || run.trace.back().op != "end")
    return ::testing::AssertionFailure() << "incomplete trace";
  return ::testing::AssertionSuccess();
}

// ---------------------------------------------------------------------------
// Reading the trace block by block.

// One mode block as the trace shows it: the calls after its console line, up
// to the next block's line or the end of its step-function call.
struct Block {
  std::string line;  // the console line that opened it
  int call = 0;      // the step-function call that ran it, from 0
  std::vector<Call> calls;

  int steps() const {
    int n = 0;
    for (const Call &c : calls) n += c.op == "robot_step" ? 1 : 0;
    return n;
  }
  std::vector<std::string> texts() const {
    std::vector<std::string> out;
    for (const Call &c : calls)
      if (c.op == "robot_console_print") out.push_back(c.text("text"));
    return out;
  }
  std::vector<std::pair<std::int64_t, float>> set_points() const {
    std::vector<std::pair<std::int64_t, float>> out;
    for (const Call &c : calls)
      if (c.op == "servo_set_position")
        out.emplace_back(c.integer("tag"), static_cast<float>(c.number("position")));
    return out;
  }
};

bool is_mode_line(const std::string &text) {
  return text == init_line || text == search_line || text == turn_left_line ||
         text == turn_right_line || text == kine_line;
}

std::vector<Block> blocks_of(const RunResult &run) {
  std::vector<Block> out;
  std::optional<Block> open;
  int call = 0;
  for (const Call &c : run.trace) {
    if (c.op == "robot_console_print" && is_mode_line(c.text("text"))) {
      if (open) out.push_back(*open);
      open = Block{c.text("text"), call, {}};
    } else if (c.op == "step_function") {
      if (open) out.push_back(*open);
      open.reset();
      ++call;
    } else if (open) {
      open->calls.push_back(c);
    }
  }
  return out;  // a block cut off by the end of the run is left out
}

std::vector<Block> blocks_of(const RunResult &run, const std::string &line) {
  std::vector<Block> out;
  for (const Block &b : blocks_of(run))
    if (b.line == line) out.push_back(b);
  return out;
}

std::string number_text(float value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

// A block's dealings with the robot, one word each: "step", the camera
// queries, and "tag=position" for a set-point.
std::vector<std::string> actions(const Block &b) {
  std::vector<std::string> out;
  for (const Call &c : b.calls) {
    if (c.op == "robot_step") out.push_back("step");
    if (c.op == "camera_get_image") out.push_back("image");
    if (c.op == "camera_get_width") out.push_back("width");
    if (c.op == "camera_get_height") out.push_back("height");
    if (c.op == "servo_set_position")
      out.push_back(std::to_string(c.integer("tag")) + "=" +
                    number_text(static_cast<float>(c.number("position"))));
  }
  return out;
}

std::string set(int tag, float position) {
  return std::to_string(tag) + "=" + number_text(position);
}

void append(std::vector<std::string> &to, const std::vector<std::string> &more) {
  to.insert(to.end(), more.begin(), more.end());
}

// Seven rounds of the three head set-points, each followed by a step.
std::vector<std::string> head_pose(float pan, float tilt, float roll) {
  std::vector<std::string> out;
  for (int round = 0; round < 7; ++round)
    append(out, {set(pan_tag, pan), "step", set(tete_coup_tag, tilt), "step", set(coup_h_tag, roll),
                 "step"});
  return out;
}

// Each search as "e opening look": its e, then the sides (L or R) of its
// opening sweep and of its look, read from the pan set-points.
std::vector<std::string> searches_of(const RunResult &run) {
  std::vector<std::string> out;
  for (const Block &b : blocks_of(run, search_line)) {
    std::vector<float> pans;
    for (const auto &[tag, position] : b.set_points())
      if (tag == pan_tag) pans.push_back(position);
    int e = 0;
    for (const std::string &text : b.texts())
      std::sscanf(text.c_str(), "debut search, e=e+1 , e = %d", &e);
    if (pans.empty()) continue;
    out.push_back(std::to_string(e) + " " + (pans.front() > 0 ? "L" : "R") +
                  (pans.back() > 0 ? "L" : "R"));
  }
  return out;
}

// ---------------------------------------------------------------------------
// The controller's solver, replayed in this process. The solver keeps its
// angles between solves, so a reach's set-points depend on every solve the
// controller made before it.

struct LegSetPoints {
  float joint0, joint1, joint2;
};

class Replay {
 public:
  Replay() {
    q1 = q2 = q3 = 0.0f;
    fake::reset();
  }
  // The rest posture: one solve per reaching leg, both at the rest target.
  LegSetPoints rest() {
    xd = yd = 0.0f;
    zd = rest_zd;
    solve_leg_ik();
    solve_leg_ik();
    return current();
  }
  // The reach of a window found at (x, y) in the square view.
  LegSetPoints reach(int32_t way, int x, int y) {
    lookup_target(way, x, y);
    solve_leg_ik();
    return current();
  }

 private:
  static LegSetPoints current() { return {joint0_setpoint(), -q2, joint2_setpoint()}; }
};

// The reach gave `leg` 7 times the joint 2 set-point, then 7 times joint 1's,
// then 7 times joint 0's (set-points to other devices are not looked at here).
::testing::AssertionResult moves_leg_to(const Block &reach, int leg, LegSetPoints expected) {
  std::vector<std::pair<std::int64_t, float>> given;
  for (const auto &point : reach.set_points())
    if (point.first >= leg_tag(leg, 0) && point.first <= leg_tag(leg, 2)) given.push_back(point);
  std::vector<std::pair<std::int64_t, float>> wanted;
  for (int round = 0; round < 7; ++round) wanted.emplace_back(leg_tag(leg, 2), expected.joint2);
  for (int round = 0; round < 7; ++round) wanted.emplace_back(leg_tag(leg, 1), expected.joint1);
  for (int round = 0; round < 7; ++round) wanted.emplace_back(leg_tag(leg, 0), expected.joint0);
  if (given == wanted) return ::testing::AssertionSuccess();
  auto failure = ::testing::AssertionFailure() << "set-points given:";
  for (const auto &[tag, position] : given) failure << " " << set(static_cast<int>(tag), position);
  return failure << "\nexpected joint 2, 1, 0: " << expected.joint2 << ", " << expected.joint1
                 << ", " << expected.joint0;
}

// ---------------------------------------------------------------------------

TEST(Cycle, ACycleWhoseFirstLookSeesRedRunsInOneCallOf119Steps) {
  const RunResult &run = both_sides_run();
  ASSERT_TRUE(clean(run));
  const auto calls = run.calls("step_function");
  ASSERT_EQ(calls.size(), 3u);
  for (std::size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].step, static_cast<std::int64_t>(119 * (i + 1)));
    EXPECT_EQ(calls[i].integer("result"), 1);
  }
  std::vector<std::pair<int, std::string>> sequence;
  for (const Block &b : blocks_of(run)) sequence.emplace_back(b.call, b.line);
  const std::vector<std::pair<int, std::string>> expected = {
      {0, init_line}, {0, search_line}, {0, turn_right_line}, {0, kine_line},
      {1, init_line}, {1, search_line}, {1, turn_left_line},  {1, kine_line},
      {2, init_line}, {2, search_line}, {2, turn_right_line}, {2, kine_line}};
  EXPECT_EQ(sequence, expected);
}

TEST(Cycle, EveryBlockTakesItsFixedNumberOfSteps) {
  for (const RunResult *run : {&both_sides_run(), &no_red_run(), &far_left_run()}) {
    ASSERT_TRUE(clean(*run));
    for (const Block &b : blocks_of(*run)) {
      const int wanted = b.line == init_line     ? rest_steps
                         : b.line == search_line ? search_steps
                         : b.line == kine_line   ? reach_steps
                                                 : turn_steps;
      EXPECT_EQ(b.steps(), wanted) << b.line << " in call " << b.call;
    }
  }
}

TEST(Cycle, SidesAlternateAcrossCyclesBecauseEIsNeverReset) {
  const RunResult &run = both_sides_run();
  ASSERT_TRUE(clean(run));
  EXPECT_EQ(searches_of(run), (std::vector<std::string>{"1 LR", "2 LL", "3 LR"}));
  std::vector<std::string> turns;
  for (const Block &b : blocks_of(run))
    if (b.line == turn_left_line || b.line == turn_right_line) turns.push_back(b.line);
  EXPECT_EQ(turns, (std::vector<std::string>{turn_right_line, turn_left_line, turn_right_line}));
}

TEST(Search, FruitlessSearchesAlternateTheSideAndEachEndsItsCall) {
  const RunResult &run = no_red_run();
  ASSERT_TRUE(clean(run));
  // The first search looks right; after a fruitless look the next one sweeps
  // towards that side first and then looks at the other.
  EXPECT_EQ(searches_of(run), (std::vector<std::string>{"1 LR", "2 LL", "3 RR", "4 LL"}));
  // Only the first call rests; each of the others is one search.
  EXPECT_EQ(blocks_of(run, init_line).size(), 1u);
  const auto ends = run.calls("step_function");
  ASSERT_EQ(ends.size(), 4u);
  EXPECT_EQ(ends[0].step, rest_steps + search_steps);
  for (std::size_t i = 1; i < ends.size(); ++i)
    EXPECT_EQ(ends[i].step - ends[i - 1].step, search_steps);
}

TEST(Search, SweepsThenTakesThePictureStepsOnceAndLooks) {
  const auto searches = blocks_of(no_red_run(), search_line);
  ASSERT_GE(searches.size(), 2u);
  const std::vector<std::string> sweep_left = head_pose(0.4f, -1.24f, -0.26f);
  const std::vector<std::string> sweep_right = head_pose(-0.4f, -1.24f, -0.26f);

  // e = 1 looks right, through a pointer taken again just before its sweep.
  std::vector<std::string> first = sweep_left;
  append(first, {"image", "width", "height", "step", "image"});
  append(first, sweep_right);
  EXPECT_EQ(actions(searches[0]), first);

  // e = 2 looks left, through the pointer taken before the step.
  std::vector<std::string> second = sweep_left;
  append(second, {"image", "width", "height", "step"});
  append(second, sweep_left);
  EXPECT_EQ(actions(searches[1]), second);
}

TEST(Search, ACountOfOneRedPixelSelectsTheSide) {
  const RunResult &run = faint_run();
  ASSERT_TRUE(clean(run));
  const auto searches = blocks_of(run, search_line);
  ASSERT_EQ(searches.size(), 1u);
  EXPECT_EQ(searches[0].texts().back(), "red right = 1\n");
  EXPECT_EQ(blocks_of(run, turn_right_line).size(), 1u);
  EXPECT_EQ(blocks_of(run, kine_line).size(), 1u);
}

// The opening sweep of the search after a find shows the flags the find left.
TEST(Search, FlagsAreKeptWhenRedIsFoundOnTheLeft) {
  const RunResult &run = far_left_run();  // found at e = 2 and 4
  ASSERT_TRUE(clean(run));
  EXPECT_EQ(searches_of(run), (std::vector<std::string>{"1 LR", "2 LL", "3 LR", "4 LL"}));
}

TEST(Search, FlagsAreKeptWhenRedIsFoundOnTheRight) {
  const RunResult &run = right_run();  // found at e = 1 and 3
  ASSERT_TRUE(clean(run));
  EXPECT_EQ(searches_of(run), (std::vector<std::string>{"1 LR", "2 LL", "3 RR", "4 RL"}));
}

TEST(HeadTurn, LeftTurnHoldsTheSweepPose) {
  const auto turns = blocks_of(both_sides_run(), turn_left_line);
  ASSERT_EQ(turns.size(), 1u);
  EXPECT_EQ(actions(turns[0]), head_pose(0.4f, -1.24f, -0.26f));
}

TEST(HeadTurn, RightTurnDrivesTheTiltToItsOwnOutOfRangePose) {
  const auto turns = blocks_of(both_sides_run(), turn_right_line);
  ASSERT_EQ(turns.size(), 2u);
  for (const Block &turn : turns) EXPECT_EQ(actions(turn), head_pose(-0.4f, -8.35f, -0.2f));
}

TEST(Reach, StepsBeforeEverySetPointOneJointAtATimeThenSettles) {
  const auto reaches = blocks_of(right_run(), kine_line);
  ASSERT_FALSE(reaches.empty());
  Replay replay;
  replay.rest();
  const LegSetPoints target = replay.reach(1, right_x, right_y);
  std::vector<std::string> expected = {"image", "width", "height"};
  for (int round = 0; round < 7; ++round)
    append(expected, {"step", set(leg_tag(2, 2), target.joint2)});
  for (int round = 0; round < 7; ++round)
    append(expected, {"step", set(leg_tag(2, 1), target.joint1)});
  for (int round = 0; round < 7; ++round)
    append(expected, {"step", set(leg_tag(2, 0), target.joint0)});
  for (int round = 0; round < 20; ++round) expected.push_back("step");
  EXPECT_EQ(actions(reaches[0]), expected);
}

TEST(Reach, RightReachMovesLegTwoToTheRightTablesTarget) {
  const RunResult &run = right_run();
  ASSERT_TRUE(clean(run));
  const auto reaches = blocks_of(run, kine_line);
  ASSERT_EQ(reaches.size(), 2u);
  Replay replay;
  for (const Block &reach : reaches) {
    replay.rest();
    const LegSetPoints target = replay.reach(1, right_x, right_y);
    EXPECT_TRUE(moves_leg_to(reach, 2, target));
    EXPECT_EQ(reach.texts(), (std::vector<std::string>{"nb_red = 49, ad*ag = 49\n"}));
  }
  EXPECT_TRUE(fake::console().empty()) << "premise: the target is within reach";
}

TEST(Reach, LeftReachMovesLegZeroToTheLeftTablesTarget) {
  const RunResult &run = both_sides_run();
  ASSERT_TRUE(clean(run));
  const auto reaches = blocks_of(run, kine_line);
  ASSERT_EQ(reaches.size(), 3u);
  Replay replay;
  replay.rest();
  EXPECT_TRUE(moves_leg_to(reaches[0], 2, replay.reach(1, right_x, right_y)));
  replay.rest();
  EXPECT_TRUE(moves_leg_to(reaches[1], 0, replay.reach(0, left_x, left_y)));
  replay.rest();
  EXPECT_TRUE(moves_leg_to(reaches[2], 2, replay.reach(1, right_x, right_y)));
  EXPECT_TRUE(fake::console().empty()) << "premise: both targets are within reach";
}

TEST(Reach, NothingButTheSeenSidesLegIsCommanded) {
  // Legs 1 and 3, the head and the other reaching leg get no set-point.
  for (const RunResult *run : {&both_sides_run(), &far_left_run(), &faint_run()}) {
    std::string turn;
    for (const Block &b : blocks_of(*run)) {
      if (b.line == turn_left_line || b.line == turn_right_line) turn = b.line;
      if (b.line != kine_line) continue;
      const int leg = turn == turn_right_line ? 2 : 0;
      for (const auto &[tag, position] : b.set_points())
        EXPECT_TRUE(tag >= leg_tag(leg, 0) && tag <= leg_tag(leg, 2))
            << "tag " << tag << " in the reach of call " << b.call;
    }
  }
}

TEST(Reach, NoExactWindowSendsTheLegToTheRestSetPoints) {
  const RunResult &run = faint_run();
  ASSERT_TRUE(clean(run));
  const auto reaches = blocks_of(run, kine_line);
  ASSERT_EQ(reaches.size(), 1u);
  EXPECT_EQ(reaches[0].texts(), (std::vector<std::string>{"nb_red = 1, ad*ag = 49\n"}));
  Replay replay;
  const LegSetPoints rest = replay.rest();
  EXPECT_TRUE(moves_leg_to(reaches[0], 2, rest));
}

TEST(Reach, OutOfReachTargetPrintsTheQ3MessageAndMovesWithThePreviousAngles) {
  const RunResult &run = far_left_run();
  ASSERT_TRUE(clean(run));
  const auto reaches = blocks_of(run, kine_line);
  ASSERT_EQ(reaches.size(), 2u);
  Replay replay;
  for (const Block &reach : reaches) {
    const LegSetPoints rest = replay.rest();
    const LegSetPoints target = replay.reach(0, far_x, far_y);
    EXPECT_EQ(reach.texts(), (std::vector<std::string>{"nb_red = 49, ad*ag = 49\n", q3_message}));
    EXPECT_TRUE(moves_leg_to(reach, 0, target));
    // The failed step leaves q3, and so joint 2, where the rest posture put it.
    EXPECT_EQ(target.joint2, rest.joint2);
  }
  EXPECT_EQ(fake::console(), q3_message + q3_message) << "premise: the target is out of reach";
}

TEST(Reach, SquareViewIsTheTopLeftCornerReadWithTheImageRowLength) {
  // A wide camera: one block inside the 160 x 160 square view, one right of it.
  const RunResult run = simrun::run_reacher(
      world(1, camera(200, 160) + block("right", right_x, right_y) + block("right", 170, 20)));
  ASSERT_TRUE(clean(run));
  const auto searches = blocks_of(run, search_line);
  ASSERT_EQ(searches.size(), 1u);
  EXPECT_EQ(searches[0].texts().back(), "red right = 98\n");  // the search sees the whole image
  const auto reaches = blocks_of(run, kine_line);
  ASSERT_EQ(reaches.size(), 1u);
  EXPECT_EQ(reaches[0].texts(), (std::vector<std::string>{"nb_red = 49, ad*ag = 49\n"}));
  const std::vector<std::string> queries = {"image", "width", "height"};
  const auto done = actions(reaches[0]);
  EXPECT_EQ(std::vector<std::string>(done.begin(), done.begin() + 3), queries);
  Replay replay;
  replay.rest();
  EXPECT_TRUE(moves_leg_to(reaches[0], 2, replay.reach(1, right_x, right_y)));
}

TEST(Reach, TallCameraSquareViewLeavesOutTheRowsBelowIt) {
  // A 120 x 200 camera: the square view is 120 x 120, the block lies below it.
  const RunResult run = simrun::run_reacher(world(1, camera(120, 200) + block("right", 30, 150)));
  ASSERT_TRUE(clean(run));
  const auto reaches = blocks_of(run, kine_line);
  ASSERT_EQ(reaches.size(), 1u);
  EXPECT_EQ(reaches[0].texts(), (std::vector<std::string>{"nb_red = 0, ad*ag = 49\n"}));
  Replay replay;
  EXPECT_TRUE(moves_leg_to(reaches[0], 2, replay.rest()));
}

TEST(Console, EveryTextIsPrintedByteForByte) {
  const RunResult &run = far_left_run();
  ASSERT_TRUE(clean(run));
  // The solver's message ends without a newline, so the next "MODE INIT"
  // follows it on the same line.
  const std::string expected =
      "MODE INIT MODE SEARCH\nTAKE PICT\ndebut search, e=e+1 , e = 1\nlook at right \n"
      "red right = 0\n"
      " MODE SEARCH\nTAKE PICT\ndebut search, e=e+1 , e = 2\nlook at left \n"
      "red left = 49\nMODE TURN_HEAD_LEFT \n MODE KINE \nnb_red = 49, ad*ag = 49\n" +
      q3_message +
      "MODE INIT MODE SEARCH\nTAKE PICT\ndebut search, e=e+1 , e = 3\nlook at right \n"
      "red right = 0\n"
      " MODE SEARCH\nTAKE PICT\ndebut search, e=e+1 , e = 4\nlook at left \n"
      "red left = 49\nMODE TURN_HEAD_LEFT \n MODE KINE \nnb_red = 49, ad*ag = 49\n" +
      q3_message;
  EXPECT_EQ(run.out, expected);
}

TEST(Console, EveryTextIsFormattedIntoTheLibraryBufferAndPrintedFromIt) {
  for (const RunResult *run : {&far_left_run(), &both_sides_run()}) {
    const auto &trace = run->trace;
    for (std::size_t i = 0; i < trace.size(); ++i) {
      if (trace[i].op != "robot_console_print") continue;
      ASSERT_GE(i, 2u);
      EXPECT_EQ(trace[i - 1].op, "robot_get_formated_string") << trace[i].text("text");
      EXPECT_EQ(trace[i - 2].op, "robot_get_formated_string") << trace[i].text("text");
    }
  }
}

}  // namespace
