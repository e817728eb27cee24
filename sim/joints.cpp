#include "sim/joints.h"

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

Joints::Joints(double speed) : speed_(speed) {}

unsigned Joints::advance() {
  unsigned moved = 0;
  for (int j = 0; j < joint_count; ++j) {
    if (!commanded_[j]) continue;
    const JointRange range = joint_range(j);
    const double goal = std::clamp(set_points_[j], range.low, range.high);
    const double before = positions_[j];
    const double gap = goal - before;
    positions_[j] = (gap > speed_) ? before + speed_ : (gap < -speed_) ? before - speed_ : goal;
    if (positions_[j] != before) moved |= 1u << j;
  }
  return moved;
}

}  // namespace sim
