#include "sim/core/legs.h"

#include <cmath>

namespace sim {

namespace {
// Joint zero positions against the leg's angles.
constexpr double hip_offset = 0.2;     // rad
constexpr double knee_offset = 0.385;  // rad
}  // namespace

Vec3 foot_in_leg_frame(double joint0, double joint1, double joint2) {
  const double q1 = joint0 + hip_offset;
  const double q2 = -joint1;
  const double q3 = joint2 - knee_offset;
  const double a = upper_segment + lower_segment * std::cos(q3);
  const double b = lower_segment * std::sin(q3);
  const double reach = a * std::cos(q2);
  const double length = std::sqrt(reach * reach + b * b);
  // The leg's angle from the hip-to-foot line, whichever way the knee bends:
  // a knee set below its straight position (q3 < 0) puts the foot below the
  // hip like any other, as the physics model's joints do.
  const double phi = q1 - std::atan2(reach, b);
  return {length * std::cos(phi), a * std::sin(q2), length * std::sin(phi)};
}

Vec3 foot_in_body(int leg, double joint0, double joint1, double joint2) {
  return leg_to_body(leg, foot_in_leg_frame(joint0, joint1, joint2));
}

Vec3 rest_point(int leg) { return {0.0, leg == 0 ? hip_y : -hip_y, ground_z}; }

double from_rest_point(int leg, double x, double y) {
  const Vec3 rest = rest_point(leg);
  return std::hypot(x - rest.x, y - rest.y);
}

}  // namespace sim
