// A run's joint history at bounded memory, for the joint plot: the reaching
// legs' and the head's joints, set-point and position, step by step.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/core/engine.h"

namespace sim {

// The joints plotted: the reaching legs' three joints, left leg (leg 0) then
// right leg (leg 2), and the three head joints.
inline constexpr std::array<int, 9> plotted_joints{0, 1, 2, 6, 7, 8, 12, 13, 14};
// Their names for people, in the same order.
inline constexpr std::array<const char *, plotted_joints.size()> plotted_joint_names{
    "left leg, hip pitch", "left leg, hip roll", "left leg, knee", "right leg, hip pitch",
    "right leg, hip roll", "right leg, knee",    "head tilt",      "head pan",
    "head second tilt"};

// A run's joint history at bounded memory. The run's length is known when it
// starts, so each pixel column of the plot covers a fixed run of steps and
// keeps the lowest and highest set-point and position over them: nothing is
// thinned away, and memory does not grow with the run's length.
class JointHistory {
 public:
  static constexpr int plot_columns = 1240;
  static constexpr std::size_t joints = plotted_joints.size();
  using Sample = std::array<float, joints>;

  // Lowest and highest of the finite values seen; empty when none was.
  struct Span {
    float low = 0.0f;
    float high = 0.0f;
    bool seen = false;
    void add(float value);
  };
  struct Column {
    std::array<Span, joints> set_points;
    std::array<Span, joints> positions;
    Span torso_height;  // m, in the world frame
    Span torso_tilt;    // rad from upright
    bool reach_began = false;
  };
  // Each plotted joint's range, where the engine says it; a set-point beyond
  // it only drives the joint to the limit.
  using Ranges = std::array<std::optional<JointRange>, joints>;

  JointHistory(std::int64_t total_steps, double seconds_per_step, const Ranges &ranges = {});
  // Steps count from 1 to total_steps; others are ignored. A set-point never
  // given is NaN and is not drawn.
  void add(std::int64_t step, const Sample &set_points, const Sample &positions);
  void add_torso(std::int64_t step, const TorsoPose &torso);
  // The controller began a reach at this step.
  void mark_reach(std::int64_t step);

  std::int64_t total_steps() const { return total_steps_; }
  double seconds_per_step() const { return seconds_per_step_; }
  std::int64_t steps_per_column() const { return steps_per_column_; }
  std::int64_t last_step() const { return last_step_; }  // 0 before any
  std::int64_t reaches() const { return reaches_; }
  const std::vector<Column> &columns() const { return columns_; }
  const Ranges &ranges() const { return ranges_; }

 private:
  Column *column_of(std::int64_t step);

  std::int64_t total_steps_;
  double seconds_per_step_;
  std::int64_t steps_per_column_;
  std::int64_t last_step_ = 0;
  std::int64_t reaches_ = 0;
  std::vector<Column> columns_;
  Ranges ranges_;
};

}  // namespace sim
