// The shipped robot model against what the controller expects of the robot:
// its camera sees the tables' ground, its front legs put the foot where the
// leg's kinematics say, and its servos follow the stand-in's joint order.
#include "sim/engines/physics/robot_model.h"

#include <gtest/gtest.h>
#include <mujoco/mujoco.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>

#include "sim/engines/physics/physics_engine.h"
#include "sim/engines/physics/pinhole.h"
#include "sim/model/camera_calibration.h"
#include "sim/model/errors.h"
#include "sim/model/joints.h"
#include "sim/model/legs.h"

namespace {

struct Model {
  Model() {
    char error[1000] = "";
    model = mj_loadXML(REACHER_ROBOT_XML, nullptr, error, sizeof error);
    if (!model) ADD_FAILURE() << error;
    if (model) data = mj_makeData(model);
  }
  ~Model() {
    mj_deleteData(data);
    mj_deleteModel(model);
  }
  mjModel *model = nullptr;
  mjData *data = nullptr;
};

TEST(RobotModel, CameraSeesTheTablesGroundOverTheWholeViewInBothLookPoses) {
  Model robot;
  ASSERT_TRUE(robot.data);
  const mjModel *m = robot.model;
  const int eye = mj_name2id(m, mjOBJ_CAMERA, "eye");
  ASSERT_GE(eye, 0);
  // The ground the rule maps pixels onto, and the engine lays discs on, is
  // the visible floor.
  const int floor = mj_name2id(m, mjOBJ_GEOM, "floor");
  ASSERT_GE(floor, 0);
  EXPECT_EQ(m->geom_pos[3 * floor + 2], sim::ground_z);
  struct Look {
    sim::View view;
    double tilt, pan, second_tilt;
    double rms_mm, max_mm;  // what the fit reaches, with a little room
  };
  const double tilt_limit = m->jnt_range[2 * sim::head_tilt_joint];
  const Look looks[] = {{sim::View::left, -1.24, 0.4, -0.26, 0.6, 2.3},
                        {sim::View::right, tilt_limit, -0.4, -0.2, 0.7, 2.4}};
  for (const Look &look : looks) {
    robot.data->qpos[sim::head_tilt_joint] = look.tilt;
    robot.data->qpos[sim::head_pan_joint] = look.pan;
    robot.data->qpos[sim::head_roll_joint] = look.second_tilt;
    mj_kinematics(m, robot.data);
    mj_camlight(m, robot.data);
    const sim::physics::CameraPose pose = sim::camera_pose(*robot.data, eye);
    double sum = 0.0, worst = 0.0;
    for (int v = 0; v < 160; ++v)
      for (int u = 0; u < 160; ++u) {
        const auto want = sim::ground_point(look.view, u, v);
        const auto got = sim::physics::pixel_ground_point(pose, m->cam_fovy[eye], 160, 160, u, v);
        ASSERT_TRUE(want && got) << u << "," << v;
        const double e2 = std::pow(got->x - want->x, 2) + std::pow(got->y - want->y, 2);
        sum += e2;
        worst = std::max(worst, e2);
      }
    EXPECT_LT(1e3 * std::sqrt(sum / (160 * 160)), look.rms_mm) << sim::view_name(look.view);
    EXPECT_LT(1e3 * std::sqrt(worst), look.max_mm) << sim::view_name(look.view);
  }
}

TEST(RobotModel, FrontFeetStandWhereTheLegKinematicsPutThem) {
  Model robot;
  ASSERT_TRUE(robot.data);
  for (const int leg : sim::reaching_legs) {
    const int foot = mj_name2id(robot.model, mjOBJ_SITE, leg == 0 ? "leg0_foot" : "leg2_foot");
    ASSERT_GE(foot, 0);
    // Knee bent forward, as every solution of the controller's solver is.
    for (double hip = -2.0; hip <= 2.0; hip += 0.25)
      for (double roll = -1.6; roll <= 1.6; roll += 0.2)
        for (double knee = 0.4; knee <= 3.0; knee += 0.2) {
          robot.data->qpos[sim::leg_joint(leg, 0)] = hip;
          robot.data->qpos[sim::leg_joint(leg, 1)] = roll;
          robot.data->qpos[sim::leg_joint(leg, 2)] = knee;
          mj_kinematics(robot.model, robot.data);
          const sim::Vec3 want = sim::leg_to_body(leg, sim::foot_in_leg_frame(hip, roll, knee));
          const double *got = robot.data->site_xpos + 3 * foot;
          ASSERT_NEAR(got[0], want.x, 1e-12) << leg << " " << hip << " " << roll << " " << knee;
          ASSERT_NEAR(got[1], want.y, 1e-12) << leg << " " << hip << " " << roll << " " << knee;
          ASSERT_NEAR(got[2], want.z, 1e-12) << leg << " " << hip << " " << roll << " " << knee;
        }
  }
}

TEST(RobotModel, ServoIOfTheStandInsJointIDrivesItAndSaturatesAtItsRange) {
  Model robot;
  ASSERT_TRUE(robot.data);
  const mjModel *m = robot.model;
  ASSERT_EQ(m->nu, sim::joint_count);
  for (int i = 0; i < m->nu; ++i) {
    EXPECT_EQ(m->actuator_trnid[2 * i], i);
    EXPECT_EQ(m->jnt_qposadr[i], i);
    EXPECT_EQ(m->actuator_ctrlrange[2 * i], m->jnt_range[2 * i]) << i;
    EXPECT_EQ(m->actuator_ctrlrange[2 * i + 1], m->jnt_range[2 * i + 1]) << i;
  }
  // The controller's -8.35 drives the first head tilt onto its lower limit.
  mj_resetDataKeyframe(m, robot.data, 0);
  robot.data->ctrl[sim::head_tilt_joint] = -1.24;
  for (int i = 0; i < 250; ++i) mj_step(m, robot.data);
  robot.data->ctrl[sim::head_tilt_joint] = -8.35;
  for (int i = 0; i < 250; ++i) mj_step(m, robot.data);
  EXPECT_NEAR(robot.data->qpos[sim::head_tilt_joint], m->jnt_range[2 * sim::head_tilt_joint], 2e-4);
}

TEST(RobotModel, AModelMuJoCoCannotCompileIsAClearError) {
  try {
    sim::compile_model("<mujoco><worldbody><geom type=\"tetrahedron\"/></worldbody></mujoco>");
    ADD_FAILURE() << "compiled";
  } catch (const sim::RunError &error) {
    const std::string message = error.what();
    EXPECT_EQ(message.rfind("robot model: ", 0), 0u) << message;
    EXPECT_NE(message.find("tetrahedron"), std::string::npos) << message;
  }
}

TEST(WorldModel, TheRunsModelFileLoadsBackAsTheModelItRan) {
  sim::WorldConfig world;
  world.time_step_ms = 3.0;  // two substeps of 1.5 ms
  world.targets = {{0.038, -0.05, 0.006, {214, 30, 30}}, {0.04, 0.05, 0.01, {30, 30, 214}}};
  const sim::PhysicsEngine engine(world);
  const std::string xml = engine.model_xml();
  const std::string path =
      testing::TempDir() + "/world_model_" + std::to_string(::getpid()) + ".xml";
  { std::ofstream(path) << xml; }
  char error[1000] = "";
  mjModel *loaded = mj_loadXML(path.c_str(), nullptr, error, sizeof error);
  ASSERT_NE(loaded, nullptr) << error;
  EXPECT_EQ(loaded->opt.timestep, 0.0015);
  for (int i = 0; i < 2; ++i) {
    const int disc = mj_name2id(loaded, mjOBJ_GEOM, ("target" + std::to_string(i)).c_str());
    ASSERT_GE(disc, 0) << i;
    EXPECT_NEAR(loaded->geom_pos[3 * disc], world.targets[static_cast<std::size_t>(i)].x, 1e-9);
    EXPECT_NEAR(loaded->geom_size[3 * disc], world.targets[static_cast<std::size_t>(i)].radius,
                1e-9);
  }
  // Everything else is the robot, as the engine compiled it.
  const sim::ModelPointer robot = sim::compile_model(sim::robot_model_xml);
  EXPECT_EQ(loaded->ngeom, robot->ngeom + 2);
  EXPECT_EQ(loaded->nu, robot->nu);
  EXPECT_EQ(loaded->nbody, robot->nbody);
  mj_deleteModel(loaded);
}

}  // namespace
