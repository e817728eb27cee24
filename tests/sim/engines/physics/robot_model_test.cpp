// The shipped robot models against what the controller expects of the robot:
// their cameras see the tables' ground, their front legs put the foot where
// the leg's kinematics say, their servos follow the stand-in's joint order,
// and the free one stands on its own paws on the floor the camera sees.
#include "sim/engines/physics/robot_model.h"

#include <gtest/gtest.h>
#include <mujoco/mujoco.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>

#include "sim/core/calibration_rule.h"
#include "sim/core/errors.h"
#include "sim/core/joints.h"
#include "sim/core/legs.h"
#include "sim/engines/physics/physics_engine.h"
#include "sim/engines/physics/pinhole.h"
#include "tests/support/folders.h"

namespace {

// A model file loaded on its own, outside the engine.
struct Model {
  explicit Model(const char *path) {
    char error[1000] = "";
    model = mj_loadXML(path, nullptr, error, sizeof error);
    if (!model) ADD_FAILURE() << error;
    if (model) data = mj_makeData(model);
  }
  ~Model() {
    mj_deleteData(data);
    mj_deleteModel(model);
  }
  // The qpos of the stand-in's joint j, found by its name: a free robot's
  // torso joint comes first.
  double &joint(int j) {
    const char *name = sim::joint_names[static_cast<std::size_t>(j)];
    return data->qpos[model->jnt_qposadr[mj_name2id(model, mjOBJ_JOINT, name)]];
  }
  double range_low(int j) {
    static_cast<void>(joint(j));
    return model->jnt_range[2 * (j + (model->jnt_type[0] == mjJNT_FREE ? 1 : 0))];
  }
  mjModel *model = nullptr;
  mjData *data = nullptr;
};

constexpr const char *free_robot = REACHER_ROBOT_XML;
constexpr const char *robot_on_stand = REACHER_ROBOT_ON_STAND_XML;

// The stand-in's set-points for the robot standing still: front legs in the
// rest posture, rear legs where the controller first puts them, and the head
// in a look pose.
sim::SetPoints standing(double tilt, double pan, double second_tilt) {
  sim::SetPoints set_points;
  for (const int leg : {0, 2}) {
    set_points.set(sim::leg_joint(leg, 0), -0.76679);
    set_points.set(sim::leg_joint(leg, 1), 0.0);
    set_points.set(sim::leg_joint(leg, 2), 1.476161);
  }
  for (const int leg : {1, 3}) {
    set_points.set(sim::leg_joint(leg, 0), -0.75);
    set_points.set(sim::leg_joint(leg, 1), 0.0);
    set_points.set(sim::leg_joint(leg, 2), 1.4);
  }
  set_points.set(sim::head_tilt_joint, tilt);
  set_points.set(sim::head_pan_joint, pan);
  set_points.set(sim::head_roll_joint, second_tilt);
  return set_points;
}

struct Look {
  sim::View view;
  double tilt, pan, second_tilt;  // the controller's set-points; -8.35 drives the tilt to its limit
};
constexpr Look looks[] = {{sim::View::left, -1.24, 0.4, -0.26},
                          {sim::View::right, -8.35, -0.4, -0.2}};

// Ground error (m) of every pixel of a 160 x 160 view against the tables'
// rule: RMS and largest.
template <typename Seen>
std::pair<double, double> ground_error(sim::View view, Seen seen) {
  double sum = 0.0, worst = 0.0;
  for (int v = 0; v < 160; ++v)
    for (int u = 0; u < 160; ++u) {
      const auto want = sim::ground_point(view, u, v);
      const auto got = seen(u, v);
      if (!want || !got) return {INFINITY, INFINITY};
      const double e2 = std::pow(got->x - want->x, 2) + std::pow(got->y - want->y, 2);
      sum += e2;
      worst = std::max(worst, e2);
    }
  return {std::sqrt(sum / (160 * 160)), std::sqrt(worst)};
}

TEST(RobotModel, BothRobotsCamerasSeeTheTablesGroundOverTheWholeViewInBothLookPoses) {
  for (const auto &[path, torso] :
       {std::pair{free_robot, sim::Torso::free}, std::pair{robot_on_stand, sim::Torso::fixed}}) {
    Model robot(path);
    ASSERT_TRUE(robot.data);
    const mjModel *m = robot.model;
    const int eye = mj_name2id(m, mjOBJ_CAMERA, "eye");
    ASSERT_GE(eye, 0);
    // The floor the camera sees is the one the engine lays the discs on.
    const int floor = mj_name2id(m, mjOBJ_GEOM, "floor");
    ASSERT_GE(floor, 0);
    EXPECT_DOUBLE_EQ(m->geom_pos[3 * floor + 2], sim::floor_height(torso)) << path;
    mju_copy(robot.data->qpos, m->qpos0, m->nq);
    // What the fit reaches, with a little room.
    const double rms_mm[] = {0.6, 0.7}, max_mm[] = {2.3, 2.4};
    for (int side = 0; side < 2; ++side) {
      const Look &look = looks[side];
      robot.joint(sim::head_tilt_joint) =
          std::max(look.tilt, robot.range_low(sim::head_tilt_joint));
      robot.joint(sim::head_pan_joint) = look.pan;
      robot.joint(sim::head_roll_joint) = look.second_tilt;
      mj_kinematics(m, robot.data);
      mj_camlight(m, robot.data);
      const sim::physics::CameraPose pose = sim::camera_pose(*robot.data, eye);
      const auto [rms, worst] = ground_error(look.view, [&](int u, int v) {
        return sim::physics::pixel_ground_point(pose, m->cam_fovy[eye], 160, 160, u, v,
                                                m->geom_pos[3 * floor + 2]);
      });
      EXPECT_LT(1e3 * rms, rms_mm[side]) << path << " " << sim::view_name(look.view);
      EXPECT_LT(1e3 * worst, max_mm[side]) << path << " " << sim::view_name(look.view);
    }
  }
}

// The same, with the robot standing on the floor under its own weight: its
// body settles onto its paws and its servos give a little under their loads.
TEST(RobotModel, StandingRobotsCameraStillSeesTheTablesGroundInBothLookPoses) {
  sim::PhysicsEngine engine{sim::WorldConfig{}};
  // Measured: left 0.78 mm RMS, 2.40 mm at most; right 0.66 and 2.71.
  const double rms_mm[] = {0.85, 0.72}, max_mm[] = {2.5, 2.8};
  for (int side = 0; side < 2; ++side) {
    const Look &look = looks[side];
    const sim::SetPoints set_points = standing(look.tilt, look.pan, look.second_tilt);
    for (int step = 0; step < 40; ++step) engine.advance(set_points);
    const auto [rms, worst] =
        ground_error(look.view, [&](int u, int v) { return engine.ground_seen(u, v); });
    EXPECT_LT(1e3 * rms, rms_mm[side]) << sim::view_name(look.view);
    EXPECT_LT(1e3 * worst, max_mm[side]) << sim::view_name(look.view);
  }
}

TEST(RobotModel, FrontFeetStandWhereTheLegKinematicsPutThem) {
  for (const char *path : {free_robot, robot_on_stand}) {
    Model robot(path);
    ASSERT_TRUE(robot.data);
    mju_copy(robot.data->qpos, robot.model->qpos0, robot.model->nq);
    for (const int leg : {0, 2}) {
      const int foot = mj_name2id(robot.model, mjOBJ_SITE, leg == 0 ? "leg0_foot" : "leg2_foot");
      ASSERT_GE(foot, 0);
      for (double hip = -2.0; hip <= 2.0; hip += 0.25)
        for (double roll = -1.6; roll <= 1.6; roll += 0.2)
          // The knee's whole range, bent backwards past straight (0.385) too.
          for (double knee = -0.6; knee <= 3.0; knee += 0.2) {
            robot.joint(sim::leg_joint(leg, 0)) = hip;
            robot.joint(sim::leg_joint(leg, 1)) = roll;
            robot.joint(sim::leg_joint(leg, 2)) = knee;
            mj_kinematics(robot.model, robot.data);
            const sim::Vec3 want = sim::leg_to_body(leg, sim::foot_in_leg_frame(hip, roll, knee));
            const double *got = robot.data->site_xpos + 3 * foot;
            ASSERT_NEAR(got[0], want.x, 1e-9) << path << " " << hip << " " << roll << " " << knee;
            ASSERT_NEAR(got[1], want.y, 1e-9);
            ASSERT_NEAR(got[2], want.z, 1e-9);
          }
    }
  }
}

TEST(RobotModel, ServoIOfTheStandInsJointIDrivesItAndSaturatesAtItsRange) {
  Model robot(free_robot);
  ASSERT_TRUE(robot.data);
  const mjModel *m = robot.model;
  ASSERT_EQ(m->nu, sim::joint_count);
  ASSERT_EQ(m->jnt_type[0], mjJNT_FREE);
  for (int i = 0; i < m->nu; ++i) {
    EXPECT_EQ(m->actuator_trnid[2 * i], i + 1);
    EXPECT_EQ(m->actuator_ctrlrange[2 * i], m->jnt_range[2 * (i + 1)]) << i;
    EXPECT_EQ(m->actuator_ctrlrange[2 * i + 1], m->jnt_range[2 * (i + 1) + 1]) << i;
  }
  // The controller's -8.35 drives the first head tilt onto its lower limit.
  sim::PhysicsEngine engine{sim::WorldConfig{}};
  for (const double tilt : {-1.24, -8.35})
    for (int step = 0; step < 10; ++step) engine.advance(standing(tilt, 0.0, -0.2));
  EXPECT_NEAR(engine.position(sim::head_tilt_joint), engine.range(sim::head_tilt_joint).low, 2e-4);
}

TEST(RobotModel, StandsOnItsPawsOnTheFloorTheCameraSeesAndAllOfItTouchesOnlyTheFloor) {
  Model robot(free_robot);
  ASSERT_TRUE(robot.data);
  const mjModel *m = robot.model;
  const int floor = mj_name2id(m, mjOBJ_GEOM, "floor");
  ASSERT_GE(floor, 0);
  // At the start each paw stands on the floor, its centre (the leg's foot
  // point) on the plane the controller's targets lie in: nothing drops.
  mj_resetDataKeyframe(m, robot.data, 0);
  mj_forward(m, robot.data);
  for (const char *paw : {"leg0_foot", "leg1_foot", "leg2_foot", "leg3_foot"}) {
    const int g = mj_name2id(m, mjOBJ_GEOM, paw);
    ASSERT_GE(g, 0) << paw;
    EXPECT_DOUBLE_EQ(m->geom_size[3 * g], sim::paw_radius) << paw;
    EXPECT_NEAR(robot.data->geom_xpos[3 * g + 2], sim::ground_z, 1e-6) << paw;
  }
  const auto collide = [m](int a, int b) {
    return (m->geom_contype[a] & m->geom_conaffinity[b]) != 0 ||
           (m->geom_contype[b] & m->geom_conaffinity[a]) != 0;
  };
  for (int a = 0; a < m->ngeom; ++a) {
    if (m->geom_bodyid[a] == 0) continue;
    EXPECT_TRUE(collide(a, floor)) << mj_id2name(m, mjOBJ_GEOM, a);
    for (int b = a + 1; b < m->ngeom; ++b)
      if (m->geom_bodyid[b] != 0) {
        EXPECT_FALSE(collide(a, b)) << a << " " << b;
      }
  }
}

TEST(RobotModel, ItsWeightRestsOnItsRearLegsWellInsideTheThreeLegStance) {
  Model robot(free_robot);
  ASSERT_TRUE(robot.data);
  const mjModel *m = robot.model;
  const double mass = mj_getTotalmass(m);
  EXPECT_GE(mass, 1.5);
  EXPECT_LE(mass, 2.5);
  mj_resetDataKeyframe(m, robot.data, 0);
  mj_forward(m, robot.data);
  const double *com = robot.data->subtree_com + 3 * mj_name2id(m, mjOBJ_BODY, "torso");
  const auto paw = [&](const char *name) {
    return robot.data->geom_xpos + 3 * mj_name2id(m, mjOBJ_GEOM, name);
  };
  // Where the line from a front paw to the opposite rear paw crosses the
  // centre of mass's y: the centre of mass must lie well behind it, and well
  // ahead of the rear paws.
  for (const auto &[front, rear] :
       {std::pair{"leg0_foot", "leg3_foot"}, {"leg2_foot", "leg1_foot"}}) {
    const double *f = paw(front), *r = paw(rear);
    const double diagonal_x = f[0] + (r[0] - f[0]) * (com[1] - f[1]) / (r[1] - f[1]);
    EXPECT_LT(com[0], diagonal_x - 0.05) << front;
    EXPECT_GT(com[0], r[0] + 0.03) << rear;
  }
}

TEST(RobotModel, StandsStillWhileItsHeadSweepsFromSideToSide) {
  sim::PhysicsEngine engine{sim::WorldConfig{}};
  double drift = 0.0, tilt = 0.0;
  for (int step = 0; step < 600; ++step) {
    const Look &look = looks[step / 43 % 2];
    engine.advance(standing(look.tilt, look.pan, look.second_tilt));
    const sim::TorsoPose torso = engine.torso();
    drift = std::max(drift, std::hypot(torso.position.x, torso.position.y, torso.position.z));
    tilt = std::max(tilt, torso.tilt());
  }
  EXPECT_LT(drift, 0.002);
  EXPECT_LT(tilt, M_PI / 180.0);
}

TEST(RobotModel, StaysUpOnThreeFeetWithAFrontLegStretchedOutAsFarAsItGoes) {
  sim::PhysicsEngine engine{sim::WorldConfig{}};
  sim::SetPoints set_points = standing(-1.24, 0.4, -0.26);
  for (int step = 0; step < 20; ++step) engine.advance(set_points);
  // The left front leg straight out ahead, lifted off the floor, as a reach
  // towards a target beyond its reach leaves it.
  set_points.set(sim::leg_joint(0, 2), 0.385);
  set_points.set(sim::leg_joint(0, 0), 0.8);
  double tilt = 0.0;
  for (int step = 0; step < 80; ++step) {
    engine.advance(set_points);
    tilt = std::max(tilt, engine.torso().tilt());
  }
  EXPECT_FALSE(engine.foot(0).on_ground);
  EXPECT_TRUE(engine.foot(2).on_ground);
  EXPECT_LT(tilt, 15.0 * M_PI / 180.0);
  // Still standing where it stood: nothing fell.
  const sim::TorsoPose torso = engine.torso();
  EXPECT_LT(std::hypot(torso.position.x, torso.position.y), 0.02);
  EXPECT_GT(torso.position.z, -0.01);
}

TEST(RobotModel, LegServosStartAndStopGentlyAndArriveExactlyWhileHeadServosGoStraight) {
  sim::PhysicsEngine engine{sim::WorldConfig{}};
  const int knee = sim::leg_joint(0, 2);
  // The leg servos' profile in robot.xml: top speed and acceleration.
  constexpr double top_speed = 5.0;      // rad/s
  constexpr double acceleration = 20.0;  // rad/s^2
  constexpr double step = 0.032;         // s
  sim::SetPoints set_points = standing(-1.24, 0.0, -0.26);
  set_points.set(knee, 2.2);  // bends the knee: the paw comes up off the floor
  set_points.set(sim::head_pan_joint, 0.4);
  double before = engine.servo_target(knee), rate = 0.0;
  bool reached = false;
  for (int i = 0; i < 30; ++i) {
    engine.advance(set_points);
    if (i == 0) {
      EXPECT_EQ(engine.servo_target(sim::head_pan_joint), 0.4);
    }
    const double now = engine.servo_target(knee);
    const double new_rate = (now - before) / step;
    EXPECT_LE(std::abs(new_rate), top_speed + 1e-9) << i;
    EXPECT_LE(std::abs(new_rate - rate), acceleration * step + 1e-9) << i;
    EXPECT_GE(now, before - 1e-12) << i;  // straight to the goal, never past it
    reached = reached || now == 2.2;
    before = now;
    rate = new_rate;
  }
  EXPECT_TRUE(reached);
  EXPECT_EQ(engine.servo_target(knee), 2.2);
  EXPECT_NEAR(engine.position(knee), 2.2, 0.01);
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
  const std::string path = (support::fresh_folder("world_model") / "world.xml").string();
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
