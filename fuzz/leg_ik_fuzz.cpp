// The leg solver on arbitrary targets and arbitrary previous angles, NaN and
// infinities included: no crash, no undefined behaviour, and only the
// solver's own messages and angles.
//
// Input: up to six little-endian IEEE floats xd, yd, zd, q1, q2, q3 (missing
// bytes read as 0), the last three being the angles the previous solve left.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <string>

#include "fuzz/fuzz_check.h"
#include "kinematics/leg_ik.h"
#include "tests/controller/fake_controller.h"

namespace {
const std::string q3_message = "xd^2+yd^2+zd^2-l1*l1-l2*l2)/ (2*l1*l2) <> 1,q3impossible";
const std::string q2_message = "yd / (l2 * cos(q3)+l1) <> 1, q2 impossible";

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// NaN, or within [low, high] once both bounds are rounded to float as the
// stored angle is.
bool angle_within(float angle, double low, double high) {
  return std::isnan(angle) ||
         (angle >= static_cast<float>(low) && angle <= static_cast<float>(high));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  float values[6] = {};
  std::memcpy(values, data, size < sizeof values ? size : sizeof values);
  xd = values[0];
  yd = values[1];
  zd = values[2];
  q1 = values[3];
  q2 = values[4];
  q3 = values[5];
  const float old_q2 = q2;
  const float old_q3 = q3;

  fake::reset();
  solve_leg_ik();
  const std::string &printed = fake::console();
  const bool q3_failed = printed == q3_message || printed == q3_message + q2_message;
  const bool q2_failed = printed == q2_message || printed == q3_message + q2_message;
  fuzz::check(printed.empty() || q3_failed || q2_failed,
              "the solver prints nothing but its two messages, q3's first");

  constexpr double pi = std::numbers::pi;
  if (q3_failed)
    fuzz::check(same_bits(q3, old_q3), "a failed q3 step keeps the old q3");
  else
    fuzz::check(angle_within(q3, 0.0, pi), "q3 is an arccosine");
  if (q2_failed)
    fuzz::check(same_bits(q2, old_q2), "a failed q2 step keeps the old q2");
  else
    fuzz::check(angle_within(q2, -pi / 2, pi / 2), "q2 is an arcsine");
  fuzz::check(angle_within(q1, -pi, pi), "q1 is the sum of two arctangents");

  // The set-point mapping on whatever angles came out.
  volatile float joint0 = joint0_setpoint();
  volatile float joint2 = joint2_setpoint();
  (void)joint0;
  (void)joint2;
  return 0;
}
