// robot_front_foot, the datasheet's forward kinematics, against the foot
// point of both physics models (the free robot and the robot on its stand)
// for the same joint positions, over the front legs' whole range.
#include <gtest/gtest.h>
#include <mujoco/mujoco.h>

#include <algorithm>
#include <string>

#include "controller_api/robot.h"
#include "tests/sim/api/front_leg_range.h"

namespace {

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
      testrange::over_the_range(0.0, [&](float hip, float roll, float knee) {
        hold(name + "_hip_pitch", hip);
        hold(name + "_hip_roll", roll);
        hold(name + "_knee", knee);
        mj_kinematics(model, data);
        const float set_points[3] = {hip, roll, knee};
        double got[3];
        ASSERT_EQ(robot_front_foot(leg, set_points, got), 0);
        for (int axis = 0; axis < 3; ++axis)
          ASSERT_NEAR(got[axis], data->site_xpos[3 * foot + axis], testrange::tolerance)
              << path << " leg " << leg << ": " << hip << " " << roll << " " << knee;
      });
    }
    mj_deleteData(data);
    mj_deleteModel(model);
  }
}

}  // namespace
