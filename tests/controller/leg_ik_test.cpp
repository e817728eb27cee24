#include "kinematics/leg_ik.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/controller/fake_controller.h"

namespace {

constexpr const char *q3_message = "xd^2+yd^2+zd^2-l1*l1-l2*l2)/ (2*l1*l2) <> 1,q3impossible";
constexpr const char *q2_message = "yd / (l2 * cos(q3)+l1) <> 1, q2 impossible";

class LegIk : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    q1 = q2 = q3 = 0.0f;
  }
  static void solve(float x, float y, float z) {
    xd = x;
    yd = y;
    zd = z;
    solve_leg_ik();
  }
};

TEST_F(LegIk, RestTargetGivesKnownAnglesAndSetPoints) {
  solve(0.0f, 0.0f, -0.115f);
  EXPECT_NEAR(q3, 1.091161, 1e-6);
  EXPECT_EQ(q2, 0.0f);
  // xd = +0 makes zd / xd an IEEE -infinity, whose arctangent is -pi/2.
  EXPECT_NEAR(q1, -0.566790, 1e-6);
  EXPECT_NEAR(joint0_setpoint(), -0.766790, 1e-6);
  EXPECT_NEAR(joint2_setpoint(), 1.476161, 1e-6);
  EXPECT_EQ(fake::console(), "");
}

TEST_F(LegIk, SetPointsAreRoundedOnceFromDouble) {
  solve(0.05f, 0.01f, -0.115f);
  EXPECT_EQ(joint0_setpoint(), static_cast<float>(static_cast<double>(q1) - 0.2));
  EXPECT_EQ(joint2_setpoint(), static_cast<float>(static_cast<double>(q3) + 0.385));
}

// Where the leg's angles put the foot, in the leg's frame: forward
// kinematics, the inverse of what the solver does.
struct Foot {
  double x, y, z;
};
Foot foot_of(float hip, float roll, float knee) {
  const double a = l1 + l2 * std::cos(static_cast<double>(knee));
  const double b = l2 * std::sin(static_cast<double>(knee));
  const double reach = a * std::cos(static_cast<double>(roll));
  const double length = std::hypot(reach, b);
  const double phi = static_cast<double>(hip) - std::atan(reach / b);
  return {length * std::cos(phi), a * std::sin(static_cast<double>(roll)), length * std::sin(phi)};
}

TEST_F(LegIk, FailedQ3KeepsPreviousKneeAndPointsTheLegAtTheTarget) {
  solve(0.03f, 0.01f, -0.115f);
  const float reachable_q3 = q3;
  ASSERT_EQ(fake::console(), "");

  solve(0.2f, 0.02f, -0.115f);  // farther than l1 + l2
  EXPECT_EQ(fake::console(), q3_message);
  EXPECT_EQ(q3, reachable_q3);
  // With its knee as it was, the leg reaches as far as it can towards the
  // target: the foot has the target's sideways offset, lies on the line from
  // the hip to the target, and falls short of it.
  const Foot foot = foot_of(q1, q2, q3);
  EXPECT_NEAR(foot.y, 0.02, 1e-6);
  EXPECT_NEAR(std::atan2(foot.z, foot.x), std::atan2(-0.115, 0.2), 1e-6);
  EXPECT_LT(std::hypot(foot.x, foot.z), std::hypot(0.2, -0.115));
}

TEST_F(LegIk, BothStepsFailingPrintQ3MessageThenQ2Message) {
  // A far target with a large sideways component: q3 keeps 0, and then
  // yd / (l2 + l1) lies beyond 1.
  solve(0.0f, 0.3f, -0.115f);
  EXPECT_EQ(fake::console(), std::string(q3_message) + q2_message);
  EXPECT_EQ(q3, 0.0f);
  EXPECT_EQ(q2, 0.0f);
}

TEST_F(LegIk, ZeroSidewaysTargetGivesZeroQ2WhateverQ3) {
  for (const float x : {0.0f, 0.02f, 0.06f, 0.5f}) {
    q2 = 0.7f;
    solve(x, 0.0f, -0.115f);
    EXPECT_EQ(q2, 0.0f) << "xd = " << x;
  }
}

TEST_F(LegIk, BoundaryValuesOfTheRangeTestsPass) {
  // Fully stretched: c is exactly 1 in single precision and passes.
  const float straight = l1 + l2;
  solve(0.0f, 0.0f, -straight);
  EXPECT_EQ(fake::console(), "");
  EXPECT_NEAR(q3, 0.0f, 1e-3);

  // A NaN target passes both tests (NaN compares false) and yields NaN angles.
  fake::reset();
  solve(std::numeric_limits<float>::quiet_NaN(), 0.0f, -0.115f);
  EXPECT_EQ(fake::console(), "");
  EXPECT_TRUE(std::isnan(q3));
}

}  // namespace
