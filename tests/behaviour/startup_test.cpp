// Start-up and rest posture of the real controller, read from the stand-in's trace.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/support/sim_run.h"

namespace {

using simrun::Call;
using simrun::RunResult;

// Tags the stand-in hands out, in the order of its device list.
constexpr int receiver_tag = 1;
constexpr int camera_tag = 17;
constexpr int leg_tag(int leg, int joint) { return 2 + 3 * leg + joint; }
constexpr int tete_coup_tag = 14;
constexpr int pan_tag = 15;
constexpr int coup_h_tag = 16;

// A short run with no red anywhere: the rest posture and a few searches.
const RunResult &short_run() {
  static const RunResult run = simrun::run_reacher("engine = \"kinematic\"\nsteps = 120\n");
  return run;
}

// Calls made before the first robot_step: everything init did.
std::vector<Call> init_calls(const RunResult &run) {
  std::vector<Call> out;
  for (const Call &call : run.trace) {
    if (call.op == "robot_step" || call.op == "robot_console_print") break;
    if (call.op != "robot_live" && call.op != "robot_run") out.push_back(call);
  }
  return out;
}

TEST(Startup, LooksUpTheSeventeenDevicesInOrderAndEnablesBetweenThem) {
  const RunResult &run = short_run();
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<std::string> sequence;
  for (const Call &call : init_calls(run)) {
    if (call.op == "robot_get_device")
      sequence.push_back(call.text("name"));
    else if (call.op == "servo_set_position")
      sequence.push_back("set");
    else if (call.op != "robot_get_formated_string")
      sequence.push_back(call.op);
  }
  const std::vector<std::string> expected = {"receiver",
                                             "receiver_enable",
                                             "PRM:/r2/c1-Joint2:21",
                                             "PRM:/r2/c1/c2-Joint2:22",
                                             "PRM:/r2/c1/c2/c3-Joint2:23",
                                             "PRM:/r3/c1-Joint2:31",
                                             "PRM:/r3/c1/c2-Joint2:32",
                                             "PRM:/r3/c1/c2/c3-Joint2:33",
                                             "PRM:/r4/c1-Joint2:41",
                                             "PRM:/r4/c1/c2-Joint2:42",
                                             "PRM:/r4/c1/c2/c3-Joint2:43",
                                             "PRM:/r5/c1-Joint2:51",
                                             "PRM:/r5/c1/c2-Joint2:52",
                                             "PRM:/r5/c1/c2/c3-Joint2:53",
                                             "PRM:/r1/c1-Joint2:11",
                                             "PRM:/r1/c1/c2-Joint2:12",
                                             "PRM:/r1/c1/c2/c3-Joint2:13",
                                             "set",
                                             "set",
                                             "set",
                                             "set",
                                             "set",
                                             "set",
                                             "PRM:/r1/c1/c2/c3/i1-FbkImageSensor:F1",
                                             "camera_enable",
                                             "robot_keyboard_enable"};
  EXPECT_EQ(sequence, expected);
  EXPECT_EQ(run.calls("robot_get_device").size(), 17u);
}

TEST(Startup, EnablesWithPeriodOneOnTheirOwnDevices) {
  const RunResult &run = short_run();
  ASSERT_EQ(run.calls("receiver_enable").size(), 1u);
  EXPECT_EQ(run.calls("receiver_enable")[0].integer("tag"), receiver_tag);
  EXPECT_EQ(run.calls("receiver_enable")[0].integer("ms"), 1);
  ASSERT_EQ(run.calls("camera_enable").size(), 1u);
  EXPECT_EQ(run.calls("camera_enable")[0].integer("tag"), camera_tag);
  EXPECT_EQ(run.calls("camera_enable")[0].integer("ms"), 1);
  ASSERT_EQ(run.calls("robot_keyboard_enable").size(), 1u);
  EXPECT_EQ(run.calls("robot_keyboard_enable")[0].integer("ms"), 1);
}

TEST(Startup, GivesTheSixFirstSetPointsWithoutStepping) {
  const RunResult &run = short_run();
  std::vector<std::pair<std::int64_t, float>> set_points;
  for (const Call &call : init_calls(run)) {
    EXPECT_EQ(call.step, 0) << call.op;
    if (call.op == "servo_set_position")
      set_points.emplace_back(call.integer("tag"), static_cast<float>(call.number("position")));
  }
  const std::vector<std::pair<std::int64_t, float>> expected = {
      {leg_tag(1, 0), -0.75f}, {leg_tag(3, 0), -0.75f}, {leg_tag(1, 2), 1.4f},
      {leg_tag(3, 2), 1.4f},   {tete_coup_tag, -8.35f}, {coup_h_tag, -0.2f}};
  EXPECT_EQ(set_points, expected);
}

TEST(Startup, SupportingLegsSecondJointsAreNeverCommanded) {
  const RunResult &run = short_run();
  EXPECT_TRUE(simrun::positions_for(run, leg_tag(1, 1)).empty());
  EXPECT_TRUE(simrun::positions_for(run, leg_tag(3, 1)).empty());
}

// The calls of the first step-function call, up to the first search's console line.
std::vector<Call> rest_posture(const RunResult &run) {
  std::vector<Call> out;
  bool started = false;
  for (const Call &call : run.trace) {
    if (call.op == "robot_console_print" && call.text("text") == "MODE INIT") {
      started = true;
      continue;
    }
    if (!started) continue;
    if (call.op == "robot_console_print") break;
    if (call.op != "robot_get_formated_string") out.push_back(call);
  }
  return out;
}

TEST(RestPosture, TakesFourteenStepsAndPlacesLegZeroThenLegTwo) {
  const RunResult &run = short_run();
  const std::vector<Call> calls = rest_posture(run);
  int steps = 0;
  std::vector<std::pair<std::int64_t, float>> after_each_step;
  for (const Call &call : calls) {
    if (call.op == "robot_step") ++steps;
    if (call.op == "servo_set_position")
      after_each_step.emplace_back(call.integer("tag"),
                                   static_cast<float>(call.number("position")));
  }
  EXPECT_EQ(steps, 14);

  // Rest target (0, 0, -0.115): joint 0 about -0.766790, joint 1 zero, joint 2 about 1.476161.
  ASSERT_EQ(after_each_step.size(), 56u);
  for (std::size_t round = 0; round < 14; ++round) {
    const int leg = round < 7 ? 0 : 2;
    const auto *set = &after_each_step[round * 4];
    EXPECT_EQ(set[0].first, leg_tag(leg, 2));
    EXPECT_NEAR(set[0].second, 1.476161, 1e-6);
    EXPECT_EQ(set[1].first, pan_tag);
    EXPECT_EQ(set[1].second, 0.0f);
    EXPECT_EQ(set[2].first, leg_tag(leg, 1));
    EXPECT_EQ(set[2].second, 0.0f);
    EXPECT_EQ(set[3].first, leg_tag(leg, 0));
    EXPECT_NEAR(set[3].second, -0.766790, 1e-6);
  }
  // Each round is a step first, then the set-points.
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front().op, "robot_step");
  EXPECT_EQ(calls.back().op, "servo_set_position");
}

TEST(RestPosture, FirstCallPrintsModeInitThenModeSearch) {
  const RunResult &run = short_run();
  EXPECT_EQ(run.out.rfind("MODE INIT MODE SEARCH\nTAKE PICT\n", 0), 0u) << run.out;
  // Both lines come from the first step-function call.
  std::vector<std::string> first_call;
  for (const Call &call : run.trace) {
    if (call.op == "step_function") break;
    if (call.op == "robot_console_print") first_call.push_back(call.text("text"));
  }
  ASSERT_GE(first_call.size(), 2u);
  EXPECT_EQ(first_call[0], "MODE INIT");
  EXPECT_EQ(first_call[1], " MODE SEARCH\n");
}

TEST(RestPosture, EveryConsoleLineIsPrintedFromTheLibraryBuffer) {
  // Each line: the buffer is asked for to format into, then again to print from.
  const RunResult &run = short_run();
  for (std::size_t i = 0; i < run.trace.size(); ++i) {
    if (run.trace[i].op != "robot_console_print") continue;
    ASSERT_GE(i, 2u);
    EXPECT_EQ(run.trace[i - 1].op, "robot_get_formated_string");
    EXPECT_EQ(run.trace[i - 2].op, "robot_get_formated_string");
  }
}

TEST(RunEnd, StandInEndsTheRunAfterItsStepsWithStatusZeroAndACompleteTrace) {
  const RunResult &run = short_run();
  EXPECT_EQ(run.status, 0);
  ASSERT_FALSE(run.trace.empty());
  EXPECT_EQ(run.trace.back().op, "end");
  EXPECT_EQ(run.trace.back().step, 120);
  EXPECT_EQ(run.calls("robot_step").size(), 120u);
}

TEST(RunEnd, MainReturnsZeroWhenTheLibraryStopsCallingTheStepFunction) {
  const RunResult run =
      simrun::run_reacher("engine = \"kinematic\"\nsteps = 100000\nrun_calls = 3\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.calls("step_function").size(), 3u);
  ASSERT_FALSE(run.trace.empty());
  EXPECT_EQ(run.trace.back().op, "end");
}

}  // namespace
