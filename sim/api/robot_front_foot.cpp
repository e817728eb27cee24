// The robot's datasheet function: a front leg's forward kinematics, as the
// engines place the foot. A pure function of its arguments: it never starts
// the world, so a controller may call it before robot_live, and a program may
// call it with no simulation at all.
#include <algorithm>
#include <cmath>

#include "controller_api/robot.h"
#include "sim/core/legs.h"

#define SIM_EXPORT extern "C" __attribute__((visibility("default")))

SIM_EXPORT int robot_front_foot(int leg, const float set_points[3], double foot[3]) {
  if ((leg != ROBOT_LEFT_LEG && leg != ROBOT_RIGHT_LEG) || set_points == nullptr || foot == nullptr)
    return -1;
  // A NaN set-point is one the library ignores: the foot would be nowhere.
  for (int j = 0; j < 3; ++j)
    if (std::isnan(set_points[j])) return -1;
  // The joints stop at their ranges' ends, the same on both engines.
  const double hip_pitch =
      std::clamp(static_cast<double>(set_points[0]), ROBOT_HIP_PITCH_MIN, ROBOT_HIP_PITCH_MAX);
  const double hip_roll =
      std::clamp(static_cast<double>(set_points[1]), ROBOT_HIP_ROLL_MIN, ROBOT_HIP_ROLL_MAX);
  const double knee =
      std::clamp(static_cast<double>(set_points[2]), ROBOT_KNEE_MIN, ROBOT_KNEE_MAX);
  const sim::Vec3 at = sim::foot_in_body(leg, hip_pitch, hip_roll, knee);
  foot[0] = at.x;
  foot[1] = at.y;
  foot[2] = at.z;
  return 0;
}
