// The front legs' set-points over their whole range, for the tests that hold
// robot_front_foot to each engine.
#pragma once

#include "controller_api/robot.h"

namespace testrange {

inline constexpr double tolerance = 1e-9;  // metres

// The front leg's set-points over its whole range and a little beyond, where
// the joints stop at their limits.
template <typename Visit>
void over_the_range(double beyond, Visit visit) {
  for (double hip = ROBOT_HIP_PITCH_MIN - beyond; hip <= ROBOT_HIP_PITCH_MAX + beyond + 1e-9;
       hip += 0.25)
    for (double roll = ROBOT_HIP_ROLL_MIN - beyond; roll <= ROBOT_HIP_ROLL_MAX + beyond + 1e-9;
         roll += 0.2)
      for (double knee = ROBOT_KNEE_MIN - beyond; knee <= ROBOT_KNEE_MAX + beyond + 1e-9;
           knee += 0.2)
        visit(static_cast<float>(hip), static_cast<float>(roll), static_cast<float>(knee));
}

}  // namespace testrange
