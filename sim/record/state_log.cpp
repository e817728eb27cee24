#include "sim/record/state_log.h"

#include <array>
#include <charconv>

#include "sim/core/legs.h"

namespace sim {

namespace {
// Column names of the joints, by joint index: the front legs reach, the rear
// ones support; each leg's joints are named as everywhere else in the records.
constexpr std::array<const char *, joint_count> joint_columns{"left_leg_hip_pitch",
                                                              "left_leg_hip_roll",
                                                              "left_leg_knee",
                                                              "left_rear_leg_hip_pitch",
                                                              "left_rear_leg_hip_roll",
                                                              "left_rear_leg_knee",
                                                              "right_leg_hip_pitch",
                                                              "right_leg_hip_roll",
                                                              "right_leg_knee",
                                                              "right_rear_leg_hip_pitch",
                                                              "right_rear_leg_hip_roll",
                                                              "right_rear_leg_knee",
                                                              "head_tilt",
                                                              "head_pan",
                                                              "head_second_tilt"};

// Shortest text that reads back as the same number: set-points are the
// controller's floats, positions the engine's doubles.
template <typename Number>
void put(std::string &row, Number value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  row.append(text, end);
}
}  // namespace

std::string state_log_header() {
  std::string header = "step,time_s";
  for (const char *joint : joint_columns) {
    header += ",";
    header += joint;
    header += "_setpoint_rad,";
    header += joint;
    header += "_position_rad";
  }
  for (const char *foot : {"left_foot", "right_foot"})
    for (const char *axis : {"x", "y", "z"}) header += std::string(",") + foot + "_" + axis + "_m";
  header += ",left_foot_on_ground,right_foot_on_ground,view";
  for (const char *column : {"x_m", "y_m", "z_m", "roll_rad", "pitch_rad", "yaw_rad"})
    header += std::string(",torso_") + column;
  return header;
}

StateRecorder::StateRecorder(const OutputSink &outputs) : file_(outputs, "state.csv") {
  const std::string header = state_log_header() + "\n";
  file_.write(header.data(), header.size());
}

void StateRecorder::on_step(const StepEvent &step) {
  std::string row = std::to_string(step.step);
  row += ',';
  put(row, step.seconds);
  for (int j = 0; j < joint_count; ++j) {
    row += ',';
    // A joint never commanded has no set-point: an empty cell, not a made-up 0.
    if (step.set_points.given(j)) put(row, static_cast<float>(step.set_points.value(j)));
    row += ',';
    put(row, step.engine.position(j));
  }
  std::array<Foot, 2> feet{step.engine.foot(reaching_legs[0]), step.engine.foot(reaching_legs[1])};
  for (const Foot &foot : feet)
    for (const double value : {foot.position.x, foot.position.y, foot.position.z}) {
      row += ',';
      put(row, value);
    }
  for (const Foot &foot : feet) row += foot.on_ground ? ",1" : ",0";
  row += ',';
  row += view_name(step.camera.view);
  const TorsoPose torso = step.engine.torso();
  for (const double value :
       {torso.position.x, torso.position.y, torso.position.z, torso.roll, torso.pitch, torso.yaw}) {
    row += ',';
    put(row, value);
  }
  row += '\n';
  file_.write(row.data(), row.size());
}

void StateRecorder::on_end(const RunRecord & /*run*/) { file_.complete(); }

}  // namespace sim
