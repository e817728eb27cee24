// robot_front_foot, the datasheet's forward kinematics (controller/robot.h),
// against the kinematic engine's foot once its joints have arrived, over the
// front legs' whole range and beyond it, and what it refuses. The physics
// models' half is in tests/sim/engines/physics/robot_front_foot_model_test.cpp.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>

#include "controller_api/robot.h"
#include "sim/core/joints.h"
#include "sim/engines/kinematic/kinematic_engine.h"
#include "tests/sim/api/front_leg_range.h"
#include "tests/support/folders.h"
#include "tests/support/worlds.h"

namespace {

TEST(RobotFrontFoot, IsTheKinematicEnginesFootOverTheWholeRangeAndBeyondIt) {
  // Every joint arrives in one step.
  sim::KinematicEngine engine(support::with_joint_speed(support::kinematic_world(), 10.0));
  int compared = 0;
  for (const int leg : {ROBOT_LEFT_LEG, ROBOT_RIGHT_LEG})
    testrange::over_the_range(0.3, [&](float hip, float roll, float knee) {
      const float set_points[3] = {hip, roll, knee};
      sim::SetPoints commanded;
      for (int j = 0; j < 3; ++j) commanded.set(sim::leg_joint(leg, j), set_points[j]);
      engine.advance(commanded);
      const sim::Vec3 want = engine.foot(leg).position;
      double got[3];
      ASSERT_EQ(robot_front_foot(leg, set_points, got), 0);
      ASSERT_NEAR(got[0], want.x, testrange::tolerance)
          << leg << ": " << hip << " " << roll << " " << knee;
      ASSERT_NEAR(got[1], want.y, testrange::tolerance)
          << leg << ": " << hip << " " << roll << " " << knee;
      ASSERT_NEAR(got[2], want.z, testrange::tolerance)
          << leg << ": " << hip << " " << roll << " " << knee;
      ++compared;
    });
  EXPECT_GT(compared, 10000);
}

TEST(RobotFrontFoot, RefusesOtherLegsNullPointersAndNotANumberWithoutStartingARun) {
  // A call that started the simulation would make this output folder.
  const std::filesystem::path out = support::fresh_folder("robot_front_foot") / "out";
  ::setenv("SIM_OUTPUT", out.c_str(), 1);
  const float rest[3] = {static_cast<float>(ROBOT_REST_HIP_PITCH),
                         static_cast<float>(ROBOT_REST_HIP_ROLL),
                         static_cast<float>(ROBOT_REST_KNEE)};
  double foot[3] = {7.0, 7.0, 7.0};
  for (const int leg :
       {-1, int{ROBOT_LEFT_REAR_LEG}, int{ROBOT_RIGHT_REAR_LEG}, int{ROBOT_LEG_COUNT}})
    EXPECT_EQ(robot_front_foot(leg, rest, foot), -1) << leg;
  EXPECT_EQ(robot_front_foot(ROBOT_LEFT_LEG, nullptr, foot), -1);
  EXPECT_EQ(robot_front_foot(ROBOT_LEFT_LEG, rest, nullptr), -1);
  const float nan[3] = {rest[0], std::numeric_limits<float>::quiet_NaN(), rest[2]};
  EXPECT_EQ(robot_front_foot(ROBOT_RIGHT_LEG, nan, foot), -1);
  EXPECT_EQ(foot[0], 7.0);  // untouched by every refusal
  // The rest posture stands each front foot right under its hip on the ground.
  for (const int leg : {ROBOT_LEFT_LEG, ROBOT_RIGHT_LEG}) {
    ASSERT_EQ(robot_front_foot(leg, rest, foot), 0);
    EXPECT_NEAR(foot[0], 0.0, 1e-6);
    EXPECT_NEAR(foot[1], leg == ROBOT_LEFT_LEG ? ROBOT_FRONT_HIP_Y : -ROBOT_FRONT_HIP_Y, 1e-6);
    EXPECT_NEAR(foot[2], ROBOT_FOOT_GROUND_Z, 1e-6);
  }
  EXPECT_FALSE(std::filesystem::exists(out));
  ::unsetenv("SIM_OUTPUT");
}

}  // namespace
