// The factors of a real robot on the physics engine, each against what the
// physics it stands for predicts: friction against the push a standing
// robot holds, servo strength against a PD loop's step response, latency
// against the steps a set-point waits, a payload against the floor's load,
// and the camera's mount and lens errors against where a ground point moves
// in the image.
#include "sim/engines/physics/robot_factors.h"

#include <gtest/gtest.h>
#include <mujoco/mujoco.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "sim/core/errors.h"
#include "sim/core/joints.h"
#include "sim/engines/physics/physics_engine.h"
#include "sim/engines/physics/pinhole.h"
#include "sim/engines/physics/robot_model.h"

namespace {

constexpr double g = 9.81;  // m/s^2, MuJoCo's default gravity

sim::WorldConfig world_with(sim::Factors factors) {
  sim::WorldConfig world;
  world.factors = factors;
  return world;
}

// A world's robot model compiled on its own, standing in its start pose.
struct Robot {
  explicit Robot(const sim::Factors &factors)
      : model(sim::compile_model(sim::world_model_xml(world_with(factors)))),
        data(mj_makeData(model.get()), mj_deleteData) {
    mj_resetDataKeyframe(model.get(), data.get(), 0);
    mj_forward(model.get(), data.get());
  }
  void run(double seconds) {
    for (int i = 0; i < static_cast<int>(std::lround(seconds / model->opt.timestep)); ++i)
      mj_step(model.get(), data.get());
  }
  int id(mjtObj type, const char *name) const { return mj_name2id(model.get(), type, name); }
  sim::ModelPointer model;
  std::unique_ptr<mjData, void (*)(mjData *)> data;
};

const char *const paws[] = {"leg0_foot", "leg1_foot", "leg2_foot", "leg3_foot"};

// Pushed sideways at the floor, right under its centre of mass, a standing
// robot tips no way and turns no way: it holds until the push passes the
// friction of all four paws, friction times its weight, and then slides.
TEST(RobotFactors, PushedSidewaysAtTheFloorTheRobotSlidesOnceThePushPassesFrictionTimesItsWeight) {
  for (const double friction : {0.2, 0.4, 0.8}) {
    for (const double share : {0.9, 1.1}) {
      Robot robot({.friction = friction});
      const mjModel *m = robot.model.get();
      mjData *d = robot.data.get();
      robot.run(1.0);  // settled on its paws
      const int torso = robot.id(mjOBJ_BODY, "torso");
      std::vector<std::array<double, 2>> before;
      for (const char *paw : paws) {
        const double *at = d->geom_xpos + 3 * robot.id(mjOBJ_GEOM, paw);
        before.push_back({at[0], at[1]});
      }
      const double push = share * friction * mj_getTotalmass(m) * g;
      const double floor_z = sim::floor_height(sim::Torso::free);
      for (int i = 0; i < 500; ++i) {  // 1 s
        // The force along y at the floor under the centre of mass, as a force
        // at the torso's own centre and the torque that moves it there.
        const double *com = d->subtree_com + 3 * torso;
        const double *centre = d->xipos + 3 * torso;
        const double arm[3] = {com[0] - centre[0], com[1] - centre[1], floor_z - centre[2]};
        double *wrench = d->xfrc_applied + 6 * torso;
        std::fill_n(wrench, 6, 0.0);
        wrench[1] = push;
        wrench[3] = -arm[2] * push;
        wrench[5] = arm[0] * push;
        mj_step(m, d);
      }
      for (std::size_t i = 0; i < 4; ++i) {
        const double *at = d->geom_xpos + 3 * robot.id(mjOBJ_GEOM, paws[i]);
        const double moved = std::hypot(at[0] - before[i][0], at[1] - before[i][1]);
        // Held: the soft contact's creep and the legs' give, a few mm at most
        // over the second. Slid: at a tenth of g beyond friction, decimetres.
        if (share < 1.0) {
          EXPECT_LT(moved, 0.004) << "friction " << friction << ", " << paws[i];
        } else {
          EXPECT_GT(moved, 0.05) << "friction " << friction << ", " << paws[i];
        }
      }
    }
  }
}

// The 10-90 % rise time of a unit step of I q'' = kp (1 - q) - c q'.
double pd_rise_time(double inertia, double kp, double c) {
  double q = 0.0, speed = 0.0, t = 0.0, t10 = -1.0;
  constexpr double dt = 1e-7;
  while (q < 0.9) {
    speed += (kp * (1.0 - q) - c * speed) / inertia * dt;
    q += speed * dt;
    t += dt;
    if (t10 < 0.0 && q >= 0.1) t10 = t;
  }
  return t - t10;
}

// The leg servos' PD loop as robot.xml documents it: kp 80 N m/rad, kv 0.4
// N m s on the joint's speed, a torque limit of 1.5 N m, on a joint whose
// motor's back-EMF damps it by 0.25 N m s.
TEST(RobotFactors, ServoStrengthChangesAStepsRiseTimeAsAPdLoopPredictsAndScalesTheTorqueLimit) {
  constexpr double kp = 80.0, kv = 0.4, back_emf = 0.25, torque_limit = 1.5;
  for (const double strength : {0.5, 1.0, 2.0}) {
    Robot robot({.servo_strength = strength});
    mjModel *m = robot.model.get();
    mjData *d = robot.data.get();
    // The knee alone: no weight, no floor, and a fine time step so the
    // integrator follows the loop closely.
    m->opt.disableflags |= mjDSBL_GRAVITY | mjDSBL_CONTACT;
    m->opt.timestep = 1e-5;
    const int joint = robot.id(mjOBJ_JOINT, "leg0_knee");
    const int dof = m->jnt_dofadr[joint];
    const int at = m->jnt_qposadr[joint];
    std::vector<double> inertia(static_cast<std::size_t>(m->nv * m->nv));
    mj_fullM(m, inertia.data(), d->qM);
    const double start = d->qpos[at];
    constexpr double step = 0.005;  // rad: well within the torque limit
    d->ctrl[sim::leg_joint(0, 2)] += step;
    double t = 0.0, t10 = -1.0;
    while ((d->qpos[at] - start) / step < 0.9 && t < 0.2) {
      mj_step(m, d);
      t += m->opt.timestep;
      if (t10 < 0.0 && (d->qpos[at] - start) / step >= 0.1) t10 = t;
    }
    const double predicted = pd_rise_time(inertia[static_cast<std::size_t>(dof * m->nv + dof)],
                                          strength * kp, strength * kv + back_emf);
    EXPECT_NEAR(t - t10, predicted, 0.02 * predicted) << "strength " << strength;

    // A step far beyond what the torque limit holds: the servo gives all of it.
    d->ctrl[sim::leg_joint(0, 2)] = start + 1.0;
    double largest = 0.0;
    for (int i = 0; i < 200; ++i) {
      mj_step(m, d);
      largest = std::max(largest, std::abs(d->actuator_force[sim::leg_joint(0, 2)]));
    }
    EXPECT_NEAR(largest, strength * torque_limit, 1e-9) << "strength " << strength;
  }
}

sim::SetPoints head_pan(double pan) {
  sim::SetPoints set_points;
  set_points.set(sim::head_pan_joint, pan);
  return set_points;
}

// The head's servos take their set-point at once, so the first step whose
// servo target moved is the one the set-point took effect in.
TEST(RobotFactors, LatencyDelaysASetPointsFirstEffectByThatManySteps) {
  for (const auto &[latency_ms, waits] :
       {std::pair{0.0, 0}, std::pair{32.0, 1}, std::pair{64.0, 2}, std::pair{160.0, 5}}) {
    sim::PhysicsEngine engine(world_with({.servo_latency_ms = latency_ms}));
    const sim::SetPoints still = head_pan(0.0);
    for (int i = 0; i < 3; ++i) engine.advance(still);
    const sim::SetPoints turned = head_pan(0.4);
    int first_effect = -1;
    for (int step = 0; step < 10 && first_effect < 0; ++step) {
      engine.advance(turned);
      if (engine.servo_target(sim::head_pan_joint) == 0.4) first_effect = step;
    }
    EXPECT_EQ(first_effect, waits) << latency_ms << " ms";
  }
  // Between whole steps, the set-point takes effect within the step it falls in.
  sim::PhysicsEngine engine(world_with({.servo_latency_ms = 40.0}));
  engine.advance(head_pan(0.4));
  EXPECT_EQ(engine.servo_target(sim::head_pan_joint), 0.0);
  engine.advance(head_pan(0.4));
  EXPECT_EQ(engine.servo_target(sim::head_pan_joint), 0.4);
}

// The floor's push on everything that stands on it, summed.
double floor_load(const Robot &robot) {
  double load = 0.0;
  for (int c = 0; c < robot.data->ncon; ++c) {
    mjtNum force[6];
    mj_contactForce(robot.model.get(), robot.data.get(), c, force);
    load += force[0];
  }
  return load;
}

TEST(RobotFactors, APayloadAddsItsWeightToTheContactForces) {
  Robot bare({});
  bare.run(1.0);
  const double bare_load = floor_load(bare);
  EXPECT_NEAR(bare_load, mj_getTotalmass(bare.model.get()) * g, 0.01 * bare_load);
  for (const double payload : {0.3, 1.0}) {
    Robot loaded({.payload_kg = payload});
    EXPECT_NEAR(mj_getTotalmass(loaded.model.get()), mj_getTotalmass(bare.model.get()) + payload,
                1e-9);
    loaded.run(1.0);
    EXPECT_NEAR(floor_load(loaded) - bare_load, payload * g, 0.02 * payload * g) << payload;
  }
}

TEST(RobotFactors, TheModelFileHoldsEveryFactorAndTheModelsOwnTextIsLeftAsItWas) {
  const std::string model = sim::robot_model_xml;
  EXPECT_EQ(sim::world_model_xml(sim::WorldConfig{}), model);
  sim::WorldConfig camera_only;
  camera_only.factors.noise = 3.0;
  camera_only.factors.gain = 1.1;
  EXPECT_EQ(sim::world_model_xml(camera_only), model) << "noise and gain are not the model's";

  const sim::Factors varied{.friction = 0.8,
                            .servo_strength = 0.7,
                            .servo_latency_ms = 64.0,
                            .payload_kg = 0.3,
                            .roll_error_deg = 0.5,
                            .pitch_error_deg = -1.0,
                            .yaw_error_deg = 1.0,
                            .fov_error_deg = 2.0};
  Robot robot(varied);
  const mjModel *m = robot.model.get();
  for (int geom = 0; geom < m->ngeom; ++geom) EXPECT_EQ(m->geom_friction[3 * geom], 0.8) << geom;
  for (int leg_servo = 0; leg_servo < 12; ++leg_servo) {
    EXPECT_NEAR(m->actuator_gainprm[mjNGAIN * leg_servo], 56.0, 1e-9);
    EXPECT_NEAR(m->actuator_biasprm[mjNBIAS * leg_servo + 1], -56.0, 1e-9);
    EXPECT_NEAR(m->actuator_biasprm[mjNBIAS * leg_servo + 2], -0.28, 1e-9);
    EXPECT_NEAR(m->actuator_forcerange[2 * leg_servo + 1], 1.05, 1e-9);
  }
  // The head's micro servos are not the legs'.
  EXPECT_EQ(m->actuator_gainprm[mjNGAIN * sim::head_pan_joint], 100.0);
  const int latency = mj_name2id(m, mjOBJ_NUMERIC, "servo_latency_ms");
  ASSERT_GE(latency, 0);
  EXPECT_EQ(m->numeric_data[m->numeric_adr[latency]], 64.0);
  EXPECT_GE(robot.id(mjOBJ_GEOM, "payload"), 0);
  const sim::ModelPointer plain = sim::compile_model(sim::robot_model_xml);
  const int eye = robot.id(mjOBJ_CAMERA, "eye");
  EXPECT_NEAR(m->cam_fovy[eye], plain->cam_fovy[eye] + 2.0, 1e-9);
  // The camera turned by its errors, and by nothing more: the angle between
  // the two orientations is the three errors' combined turn.
  const double *q = m->cam_quat + 4 * eye;
  const double *p = plain->cam_quat + 4 * eye;
  const double dot = std::abs(q[0] * p[0] + q[1] * p[1] + q[2] * p[2] + q[3] * p[3]);
  const sim::Quaternion error = sim::turned_camera({1, 0, 0, 0}, 0.5, -1.0, 1.0);
  EXPECT_NEAR(dot, std::abs(error[0]), 1e-9);
  EXPECT_NEAR(2.0 * std::acos(error[0]) * 180.0 / M_PI, std::sqrt(0.25 + 1.0 + 1.0), 0.01);
}

TEST(RobotFactors, AModelWithoutThePartAFactorChangesIsAClearError) {
  std::string xml = "<mujoco model=\"x\">\n<worldbody/>\n</mujoco>\n";
  try {
    sim::write_factors(xml, {.servo_strength = 2.0});
    ADD_FAILURE() << "written";
  } catch (const sim::RunError &error) {
    EXPECT_NE(std::string(error.what()).find("no leg servo"), std::string::npos) << error.what();
  }
}

using Image = std::vector<unsigned char>;

// The left look's image of one small disc. Each in a process of its own, as
// each run is: Mesa's driver leaks what it allocated whenever its display is
// closed and opened again in one process.
Image left_look(const sim::Factors &factors, sim::Target disc) {
  Image image(3u * 160u * 160u);
  int ends[2];
  if (::pipe(ends) != 0) return {};
  const pid_t child = ::fork();
  if (child == 0) {
    sim::WorldConfig world = world_with(factors);
    world.targets = {disc};
    sim::PhysicsEngine engine(world);
    sim::SetPoints set_points;
    set_points.set(sim::head_tilt_joint, -1.24);
    set_points.set(sim::head_pan_joint, 0.4);
    set_points.set(sim::head_roll_joint, -0.26);
    for (int step = 0; step < 30; ++step) engine.advance(set_points);
    engine.render(image);
    const bool sent =
        ::write(ends[1], image.data(), image.size()) == static_cast<ssize_t>(image.size());
    ::_exit(sent ? 0 : 1);
  }
  ::close(ends[1]);
  std::size_t got = 0;
  for (ssize_t n;
       got < image.size() && (n = ::read(ends[0], image.data() + got, image.size() - got)) > 0;)
    got += static_cast<std::size_t>(n);
  ::close(ends[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (got != image.size() || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  return image;
}

// The centre of the disc's red pixels, from the image's centre: x to the
// right and y up, in pixels.
std::array<double, 2> red_centre(const Image &image) {
  double x = 0.0, y = 0.0, count = 0.0;
  for (int v = 0; v < 160; ++v)
    for (int u = 0; u < 160; ++u)
      if (image[static_cast<std::size_t>((v * 160 + u) * 3)] == 214) {
        x += u + 0.5 - 80.0;
        y += 80.0 - v - 0.5;
        count += 1.0;
      }
  return {x / count, y / count};
}

// Where a pixel's ray lands in the image of the same camera turned by a
// rotation R (rows) in its own frame: the ray (x, y, -f) seen as R^T of it.
std::array<double, 2> seen_turned(std::array<double, 2> pixel, double focal,
                                  const std::array<std::array<double, 3>, 3> &r) {
  const double ray[3] = {pixel[0], pixel[1], -focal};
  double turned[3];
  for (int i = 0; i < 3; ++i)
    turned[i] = r[0][static_cast<std::size_t>(i)] * ray[0] +
                r[1][static_cast<std::size_t>(i)] * ray[1] +
                r[2][static_cast<std::size_t>(i)] * ray[2];
  return {focal * turned[0] / -turned[2], focal * turned[1] / -turned[2]};
}

TEST(RobotFactors, AGroundPointMovesInTheImageByThePixelsAYawPitchRollOrFieldOfViewErrorPredicts) {
  const sim::Target disc{0.04, 0.05, 0.004, {214, 30, 30}};
  const Image calibrated = left_look({}, disc);
  ASSERT_FALSE(calibrated.empty());
  const std::array<double, 2> at = red_centre(calibrated);
  const sim::ModelPointer model = sim::compile_model(sim::robot_model_xml);
  const double fovy = model->cam_fovy[mj_name2id(model.get(), mjOBJ_CAMERA, "eye")];
  const double focal = sim::physics::focal_pixels(fovy, 160.0);
  const double a = 2.0 * M_PI / 180.0;  // each error 2 degrees
  const double c = std::cos(a), s = std::sin(a);
  struct Case {
    sim::Factors factors;
    std::array<double, 2> expected;
  };
  const Case cases[] = {
      // Turned left about its up axis: the ground point moves right.
      {{.yaw_error_deg = 2.0}, seen_turned(at, focal, {{{c, 0, s}, {0, 1, 0}, {-s, 0, c}}})},
      // Turned up about its right axis: it moves down.
      {{.pitch_error_deg = 2.0}, seen_turned(at, focal, {{{1, 0, 0}, {0, c, -s}, {0, s, c}}})},
      // Turned anticlockwise about its view axis: it turns clockwise.
      {{.roll_error_deg = 2.0}, seen_turned(at, focal, {{{c, -s, 0}, {s, c, 0}, {0, 0, 1}}})},
      // A wider view: everything nearer the centre, by the focal lengths' ratio.
      {{.fov_error_deg = 2.0},
       {at[0] * sim::physics::focal_pixels(fovy + 2.0, 160.0) / focal,
        at[1] * sim::physics::focal_pixels(fovy + 2.0, 160.0) / focal}},
  };
  for (const Case &k : cases) {
    const Image turned = left_look(k.factors, disc);
    ASSERT_FALSE(turned.empty());
    const std::array<double, 2> now = red_centre(turned);
    // The prediction moves the point by 1.7 to 6 pixels; a disc's centre of
    // a few dozen pixels is found to a fifth of one.
    EXPECT_GT(std::hypot(k.expected[0] - at[0], k.expected[1] - at[1]), 1.5);
    EXPECT_NEAR(now[0], k.expected[0], 0.2) << k.factors.yaw_error_deg << k.factors.pitch_error_deg;
    EXPECT_NEAR(now[1], k.expected[1], 0.2) << k.factors.roll_error_deg << k.factors.fov_error_deg;
  }
}

}  // namespace
