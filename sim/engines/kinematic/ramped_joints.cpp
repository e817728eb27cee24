#include "sim/engines/kinematic/ramped_joints.h"

#include <algorithm>

namespace sim {

JointRange joint_range(int joint) {
  if (joint == head_tilt_joint) return {-1.4, 0.6};
  if (joint == head_pan_joint) return {-1.6, 1.6};
  if (joint == head_roll_joint) return {-0.8, 0.8};
  switch (joint % 3) {
    case 0:
      return {-2.0, 2.0};  // hip
    case 1:
      return {-1.6, 1.6};  // shoulder, sideways
    default:
      return {-0.6, 3.0};  // knee
  }
}

RampedJoints::RampedJoints(double speed) : speed_(speed) {}

unsigned RampedJoints::advance(const SetPoints &set_points) {
  unsigned moved = 0;
  for (int j = 0; j < joint_count; ++j) {
    if (!set_points.given(j)) continue;
    const JointRange range = joint_range(j);
    const double goal = std::clamp(set_points.value(j), range.low, range.high);
    double &position = positions_[static_cast<std::size_t>(j)];
    const double before = position;
    const double gap = goal - before;
    position = (gap > speed_) ? before + speed_ : (gap < -speed_) ? before - speed_ : goal;
    if (position != before) moved |= 1u << j;
  }
  return moved;
}

}  // namespace sim
