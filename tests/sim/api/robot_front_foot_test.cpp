// robot_front_foot, the datasheet's forward kinematics (controller/robot.h),
// against both engines' own feet over the front legs' whole range: the
// kinematic engine's foot once its joints have arrived, and the foot point of
// both physics models for the same joint positions.
#include <gtest/gtest.h>
#include <mujoco/mujoco.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>

#include "controller_api/robot.h"
#include "sim/core/joints.h"
#include "sim/engines/kinematic/kinematic_engine.h"

namespace {

constexpr double tolerance = 1e-9;  // metres

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

TEST(RobotFrontFoot, IsTheKinematicEnginesFootOverTheWholeRangeAndBeyondIt) {
  sim::WorldConfig world;
  world.engine = sim::EngineKind::kinematic;
  world.joint_speed = 10.0;  // every joint arrives in one step
  sim::KinematicEngine engine(world);
  int compared = 0;
  for (const int leg : {ROBOT_LEFT_LEG, ROBOT_RIGHT_LEG})
    over_the_range(0.3, [&](float hip, float roll, float knee) {
      const float set_points[3] = {hip, roll, knee};
      sim::SetPoints commanded;
      for (int j = 0; j < 3; ++j) commanded.set(sim::leg_joint(leg, j), set_points[j]);
      engine.advance(commanded);
      const sim::Vec3 want = engine.foot(leg).position;
      double got[3];
      ASSERT_EQ(robot_front_foot(leg, set_points, got), 0);
      ASSERT_NEAR(got[0], want.x, tolerance) << leg << ": " << hip << " " << roll << " " << knee;
      ASSERT_NEAR(got[1], want.y, tolerance) << leg << ": " << hip << " " << roll << " " << knee;
      ASSERT_NEAR(got[2], want.z, tolerance) << leg << ": " << hip << " " << roll << " " << knee;
      ++compared;
    });
  EXPECT_GT(compared, 10000);
}

TEST(RobotFrontFoot, IsWhereBothPhysicsModelsPutTheFootsPoint) {
  for (const char *path : {REACHER_ROBOT_XML, REACHER_ROBOT_ON_STAND_XML}) {
    char error[1000] = "";
    mjModel *model = mj_loadXML(path, nullptr, error, sizeof error);
    ASSERT_NE(model, nullptr) << error;
    mjData *data = mj_makeData(model);
    // A joint held at a position, which stays within its range: the float
    // nearest a limit may lie a hair beyond it.
    const auto hold = [&](const std::string &joint, double position) {
      const int id = mj_name2id(model, mjOBJ_JOINT, joint.c_str());
      data->qpos[model->jnt_qposadr[id]] =
          std::clamp(position, model->jnt_range[2 * id], model->jnt_range[2 * id + 1]);
    };
    for (const int leg : {ROBOT_LEFT_LEG, ROBOT_RIGHT_LEG}) {
      const std::string name = "leg" + std::to_string(leg);
      const int foot = mj_name2id(model, mjOBJ_SITE, (name + "_foot").c_str());
      ASSERT_GE(foot, 0);
      over_the_range(0.0, [&](float hip, float roll, float knee) {
        hold(name + "_hip_pitch", hip);
        hold(name + "_hip_roll", roll);
        hold(name + "_knee", knee);
        mj_kinematics(model, data);
        const float set_points[3] = {hip, roll, knee};
        double got[3];
        ASSERT_EQ(robot_front_foot(leg, set_points, got), 0);
        for (int axis = 0; axis < 3; ++axis)
          ASSERT_NEAR(got[axis], data->site_xpos[3 * foot + axis], tolerance)
              << path << " leg " << leg << ": " << hip << " " << roll << " " << knee;
      });
    }
    mj_deleteData(data);
    mj_deleteModel(model);
  }
}

TEST(RobotFrontFoot, RefusesOtherLegsNullPointersAndNotANumberWithoutStartingARun) {
  // A call that started the simulation would make this output folder.
  const std::filesystem::path out = std::filesystem::path(testing::TempDir()) /
                                    ("robot_front_foot_" + std::to_string(::getpid()));
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
