// The recorders on their own, fed events by hand: what the trace and the
// state log write, and that a record appears under its name only when the
// run ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/engines/kinematic/kinematic_engine.h"
#include "sim/record/outputs.h"
#include "sim/record/state_log.h"
#include "sim/record/trace.h"
#include "tests/support/recording.h"

namespace {

namespace fs = std::filesystem;
using support::Outputs;

const support::RunData nothing_done;
const sim::RunRecord run = nothing_done.record();

TEST(TraceRecorder, WritesEachCallAsOneJsonLineInItsFieldsOrder) {
  Outputs out("trace_lines");
  sim::TraceRecorder trace(out.sink);
  const sim::CallField set[] = {{"tag", std::int64_t{10}}, {"position", 1.2803061f}};
  trace.on_call({7, "servo_set_position", set});
  const sim::CallField text[] = {{"text", std::string_view("a \"q\"\\\n\t\x01 é")}};
  trace.on_call({8, "robot_console_print", text});
  const sim::CallField odd[] = {{"position", NAN}, {"low", -INFINITY}, {"tiny", 1e-45f}};
  trace.on_call({9, "servo_set_position", odd});
  trace.on_call({9, "robot_live", {}});
  EXPECT_FALSE(fs::exists(out.path / "trace.jsonl"));
  trace.on_end(run);
  EXPECT_EQ(
      out.read("trace.jsonl"),
      "{\"step\":7,\"op\":\"servo_set_position\",\"tag\":10,\"position\":1.2803061}\n"
      "{\"step\":8,\"op\":\"robot_console_print\",\"text\":\"a \\\"q\\\"\\\\\\n\\t\\u0001 é\"}\n"
      "{\"step\":9,\"op\":\"servo_set_position\",\"position\":\"nan\",\"low\":\"-inf\","
      "\"tiny\":1e-45}\n"
      "{\"step\":9,\"op\":\"robot_live\"}\n");
  EXPECT_TRUE(out.lost.empty());
}

TEST(TraceRecorder, ALineLongerThanItsBufferIsWrittenWhole) {
  Outputs out("trace_long");
  sim::TraceRecorder trace(out.sink);
  const std::string long_text(200'000, 'x');
  const sim::CallField text[] = {{"text", std::string_view(long_text)}};
  for (int i = 0; i < 3; ++i) trace.on_call({i, "robot_console_print", text});
  trace.on_end(run);
  std::string expected;
  for (int i = 0; i < 3; ++i)
    expected += "{\"step\":" + std::to_string(i) + ",\"op\":\"robot_console_print\",\"text\":\"" +
                long_text + "\"}\n";
  EXPECT_TRUE(out.read("trace.jsonl") == expected);
}

TEST(StateRecorder, AHeaderThenARowPerStepWithNoMadeUpSetPoints) {
  Outputs out("state_rows");
  sim::WorldConfig config;
  config.engine = sim::EngineKind::kinematic;
  sim::KinematicEngine engine(config);
  sim::SetPoints set_points;
  set_points.set(sim::head_pan_joint, 0.5);
  sim::StateRecorder state(out.sink);
  for (std::int64_t step = 1; step <= 3; ++step) {
    engine.advance(set_points);
    state.on_step({step, 0.032 * static_cast<double>(step), engine, set_points,
                   sim::CameraImage{nullptr, 0, 0, engine.view()}});
  }
  state.on_end(run);
  const std::string text = out.read("state.csv");
  std::vector<std::string> rows;
  for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
    rows.push_back(text.substr(at, end - at));
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0], sim::state_log_header());
  const auto columns = [](const std::string &row) {
    return std::count(row.begin(), row.end(), ',') + 1;
  };
  for (const std::string &row : rows) EXPECT_EQ(columns(row), columns(rows[0])) << row;
  // Each joint is named as everywhere else in the records: hip pitch, hip
  // roll, knee.
  EXPECT_EQ(rows[0].rfind("step,time_s,left_leg_hip_pitch_setpoint_rad,"
                          "left_leg_hip_pitch_position_rad,left_leg_hip_roll_setpoint_rad,"
                          "left_leg_hip_roll_position_rad,left_leg_knee_setpoint_rad,",
                          0),
            0u)
      << rows[0];
  EXPECT_NE(rows[0].find(",right_rear_leg_knee_position_rad,head_tilt_setpoint_rad,"),
            std::string::npos)
      << rows[0];
  // Step, time, then the first joint never commanded: an empty set-point cell.
  EXPECT_EQ(rows[1].rfind("1,0.032,,0,", 0), 0u) << rows[1];
  // The head looks left once the pan passes 0.2, and the kinematic robot's
  // torso never leaves the origin.
  EXPECT_TRUE(rows[3].ends_with(",left,0,0,0,0,0,0")) << rows[3];
  EXPECT_TRUE(
      rows[0].ends_with(",view,torso_x_m,torso_y_m,torso_z_m,torso_roll_rad,"
                        "torso_pitch_rad,torso_yaw_rad"))
      << rows[0];
  EXPECT_NE(rows[3].find(",0.5,0.5,"), std::string::npos) << rows[3];
}

}  // namespace
