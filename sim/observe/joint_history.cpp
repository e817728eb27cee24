#include "sim/observe/joint_history.h"

#include <algorithm>
#include <cmath>

namespace sim {

void JointHistory::Span::add(float value) {
  if (!std::isfinite(value)) return;
  if (!seen) {
    low = high = value;
    seen = true;
    return;
  }
  low = std::min(low, value);
  high = std::max(high, value);
}

JointHistory::JointHistory(std::int64_t total_steps, double seconds_per_step, const Ranges &ranges)
    : total_steps_(std::max<std::int64_t>(total_steps, 1)),
      seconds_per_step_(seconds_per_step),
      // Rounded up without forming total + divisor, which could overflow.
      steps_per_column_(total_steps_ / plot_columns + (total_steps_ % plot_columns != 0)),
      columns_(static_cast<std::size_t>(total_steps_ / steps_per_column_ +
                                        (total_steps_ % steps_per_column_ != 0))),
      ranges_(ranges) {}

JointHistory::Column *JointHistory::column_of(std::int64_t step) {
  if (step < 1 || step > total_steps_) return nullptr;
  return &columns_[static_cast<std::size_t>((step - 1) / steps_per_column_)];
}

void JointHistory::add(std::int64_t step, const Sample &set_points, const Sample &positions) {
  Column *column = column_of(step);
  if (column == nullptr) return;
  for (std::size_t j = 0; j < joints; ++j) {
    column->set_points[j].add(set_points[j]);
    column->positions[j].add(positions[j]);
  }
  last_step_ = std::max(last_step_, step);
}

void JointHistory::add_torso(std::int64_t step, const TorsoPose &torso) {
  Column *column = column_of(step);
  if (column == nullptr) return;
  column->torso_height.add(static_cast<float>(torso.position.z));
  column->torso_tilt.add(static_cast<float>(torso.tilt()));
}

void JointHistory::mark_reach(std::int64_t step) {
  Column *column = column_of(step);
  if (column == nullptr) return;
  column->reach_began = true;
  ++reaches_;
}

}  // namespace sim
