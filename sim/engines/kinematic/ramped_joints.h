// The kinematic robot's 15 joints: each follows its latest set-point at a
// limited speed and stays within its range, so nothing reaches a set-point in
// one step.
#pragma once

#include <array>

#include "sim/core/engine.h"
#include "sim/core/joints.h"

namespace sim {

// Ranges per joint index. The head's first joint stops at -1.4, so the -8.35
// that the controller gives it drives it to that limit.
JointRange joint_range(int joint);

class RampedJoints {
 public:
  explicit RampedJoints(double speed);

  double position(int joint) const { return positions_[static_cast<std::size_t>(joint)]; }

  // One step: every commanded joint moves towards its set-point by at most
  // the speed, clamped to its range. Returns a bit mask of joints that moved.
  unsigned advance(const SetPoints &set_points);

 private:
  double speed_;
  std::array<double, joint_count> positions_{};
};

}  // namespace sim
