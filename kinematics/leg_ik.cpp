#include "kinematics/leg_ik.h"

#include <cmath>

#include "controller_api/console.h"

float xd = 0.0f;
float yd = 0.0f;
float zd = rest_zd;
float q1 = 0.0f;
float q2 = 0.0f;
float q3 = 0.0f;

namespace {
constexpr double hip_offset = 0.2;     // rad, joint 0 zero against q1
constexpr double knee_offset = 0.385;  // rad, joint 2 zero against q3
}  // namespace

void solve_leg_ik() {
  // Double intermediates from the single-precision state; every named result
  // is rounded to float once, when it is stored.
  const double x = xd;
  const double y = yd;
  const double z = zd;
  const double a = l1;
  const double b = l2;

  const auto c = static_cast<float>((x * x + y * y + z * z - a * a - b * b) / ((a + a) * b));
  // Only values strictly beyond +-1 are rejected: exactly 1 passes, and so does
  // a NaN, which then flows on through acos as the arithmetic defines it.
  if (c > 1.0f || c < -1.0f) {
    console_print("xd^2+yd^2+zd^2-l1*l1-l2*l2)/ (2*l1*l2) <> 1,q3impossible");
  } else {
    q3 = static_cast<float>(std::acos(static_cast<double>(c)));
  }

  const double cos_q3 = std::cos(static_cast<double>(q3));
  const auto s = static_cast<float>(y / (cos_q3 * b + a));
  if (s > 1.0f || s < -1.0f) {
    console_print("yd / (l2 * cos(q3)+l1) <> 1, q2 impossible");
  } else {
    q2 = static_cast<float>(std::asin(static_cast<double>(s)));
  }

  // Two single-argument arctangents, not atan2: the leg's angles are defined
  // by these half-plane quotients, and xd = +0 with zd < 0 must give -pi/2
  // through the IEEE infinity of zd / xd.
  const double reach = (a + b * cos_q3) * std::cos(static_cast<double>(q2));
  q1 = static_cast<float>(std::atan(reach / (b * std::sin(static_cast<double>(q3)))) +
                          std::atan(z / x));
}

float joint0_setpoint() { return static_cast<float>(static_cast<double>(q1) - hip_offset); }

float joint2_setpoint() { return static_cast<float>(static_cast<double>(q3) + knee_offset); }
