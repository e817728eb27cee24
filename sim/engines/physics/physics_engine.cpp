#include "sim/engines/physics/physics_engine.h"

#include <mujoco/mujoco.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <deque>
#include <string>

#include "sim/core/errors.h"
#include "sim/core/legs.h"
#include "sim/engines/physics/overview.h"
#include "sim/engines/physics/rendered_head_camera.h"
#include "sim/engines/physics/renderer.h"
#include "sim/engines/physics/robot_model.h"
#include "sim/engines/physics/window.h"

namespace sim {

namespace {

constexpr std::array<const char *, 2> foot_names{"leg0_foot", "leg2_foot"};

// Physics substeps are at most this long, and a controller step is a whole
// number of them.
constexpr double longest_substep = 0.002;  // s
// A foot that moved less than this in a step is still: slow enough that a
// reach's last creep along the floor is over.
constexpr double still_foot = 5e-5;  // metres
// A free robot's paw whose lowest point is this close to the floor stands on
// it: a loaded paw sinks a fraction of a millimetre into the soft contact,
// and one the body's rocking has just relieved of its load hovers above it
// by less.
constexpr double touching = 2e-4;  // metres
// The head camera is redrawn once it, or what it sees, moved by more than
// this (m or rad). On a stand that is a thousandth of a pixel; a free body
// settles on its paws by a micrometre or two a step after each swing of the
// head, which at that threshold redrew the camera on most steps, so there a
// hundredth of a pixel at most.
constexpr double unmoved_on_stand = 1e-6;
constexpr double unmoved_free = 1e-5;

std::size_t index(int i) { return static_cast<std::size_t>(i); }

// MuJoCo reports a fatal error through this hook and must not get control
// back; the exception carries it up to the call layer.
[[noreturn]] void physics_error(const char *message) {
  throw RunError(std::string("physics engine: ") + message);
}

// MuJoCo's own warnings would go to stdout, among the controller's console
// lines; they are the stand-in's messages.
void physics_warning(const char *message) {
  std::fprintf(stderr, "sim: warning: physics engine: %s\n", message);
}

int substeps_of(const WorldConfig &world) {
  return std::max(
      1, static_cast<int>(std::ceil(world.time_step_ms / 1000.0 / longest_substep - 1e-9)));
}

ModelPointer compiled(const std::string &xml, const WorldConfig &world) {
  mju_user_error = physics_error;
  mju_user_warning = physics_warning;
  ModelPointer model = world_model(world, xml);
  model->opt.timestep = world.time_step_ms / 1000.0 / substeps_of(world);
  return model;
}

// Substeps a set-point waits before it takes effect: the world's latency,
// to the nearest substep.
std::size_t latency_substeps(const WorldConfig &world, double substep_s) {
  return static_cast<std::size_t>(
      std::llround(world.factors.servo_latency_ms / 1000.0 / substep_s));
}

struct DataDeleter {
  void operator()(mjData *d) const { mj_deleteData(d); }
};

}  // namespace

struct PhysicsEngine::Parts {
  struct FootIds {
    int geom = -1;  // the foot's sphere
    int site = -1;  // its tip, the point the leg's angles place
  };

  explicit Parts(const WorldConfig &world)
      : free(world.torso == Torso::free),
        substeps(substeps_of(world)),
        xml(world_model_xml(world)),
        model(compiled(xml, world)),
        data(mj_makeData(model.get())),
        renderer(*model, disc_ranks(*model, world)),
        head(*model, renderer, world.camera_width, world.camera_height, floor_height(world.torso),
             free ? unmoved_free : unmoved_on_stand),
        overview(*model, *data, renderer) {
    for (int j = 0; j < joint_count; ++j) {
      const int joint = id_of(model.get(), mjOBJ_JOINT, joint_names[index(j)], "joint");
      joint_id[index(j)] = joint;
      qpos_address[index(j)] = model->jnt_qposadr[joint];
      actuator[index(j)] = id_of(model.get(), mjOBJ_ACTUATOR, joint_names[index(j)], "actuator");
    }
    for (std::size_t i = 0; i < feet.size(); ++i) {
      feet[i].geom = id_of(model.get(), mjOBJ_GEOM, foot_names[i], "geom");
      feet[i].site = id_of(model.get(), mjOBJ_SITE, foot_names[i], "site");
    }
    if (!free) foot_floor = id_of(model.get(), mjOBJ_GEOM, "foot_floor", "geom");
    torso = id_of(model.get(), mjOBJ_BODY, "torso", "body");
    torso_box = id_of(model.get(), mjOBJ_GEOM, "torso", "geom");
    // The robot starts in the pose its first set-points give (the model's
    // keyframe), not with straight legs pushed into the floor.
    if (model->nkey > 0) mj_resetDataKeyframe(model.get(), data.get(), 0);
    mj_forward(model.get(), data.get());
    for (int j = 0; j < joint_count; ++j) {
      start[index(j)] = data->qpos[qpos_address[index(j)]];
      // A servo that moves its set-point along a profile starts at rest
      // where the joint stands.
      data->ctrl[actuator[index(j)]] = start[index(j)];
    }
    for (std::size_t i = 0; i < feet.size(); ++i) tips_before[i] = tip(reaching_legs[i]);
    // Until the first set-point has come through, the servos hold the start.
    delayed.assign(latency_substeps(world, model->opt.timestep), start);
  }

  Vec3 tip(int leg) const {
    const mjtNum *at = data->site_xpos + 3 * feet[leg == 0 ? 0 : 1].site;
    return {at[0], at[1], at[2]};
  }

  // Moves a joint's servo set-point one substep towards its goal along the
  // servo's motion profile (the actuator's user data: top speed and
  // acceleration), or straight to it for a servo without one.
  void follow_profile(int joint, double goal);

  bool free;  // standing on its paws, not on a stand
  int substeps;
  std::string xml;  // the model as compiled, robot and discs
  ModelPointer model;
  std::unique_ptr<mjData, DataDeleter> data;
  Renderer renderer;
  RenderedHeadCamera head;
  Overview overview;
  std::array<int, joint_count> qpos_address{};
  std::array<int, joint_count> actuator{};
  std::array<double, joint_count> start{};  // where each joint starts, held until commanded
  std::array<FootIds, 2> feet{};            // legs 0 and 2
  std::array<Vec3, 2> tips_before{};        // feet tips a step ago
  std::array<double, joint_count> set_point_rates{};  // rad/s, each servo's profile
  std::array<double, 2> largest_press{};              // N under each front paw in the last step
  // The goals of the last substeps, oldest first, on their way to the servos:
  // as many as the world's latency.
  std::deque<std::array<double, joint_count>> delayed;
  int foot_floor = -1;  // the plane the feet stand on
  int torso = -1;
  int torso_box = -1;  // the torso's box, for its footprint
  std::array<int, joint_count> joint_id{};
};

PhysicsEngine::PhysicsEngine(const WorldConfig &world) : parts_(std::make_unique<Parts>(world)) {}

PhysicsEngine::~PhysicsEngine() = default;

void PhysicsEngine::advance(const SetPoints &set_points) {
  Parts &p = *parts_;
  for (std::size_t i = 0; i < p.feet.size(); ++i) p.tips_before[i] = p.tip(reaching_legs[i]);
  p.largest_press = {};
  std::array<double, joint_count> goals{};
  for (int j = 0; j < joint_count; ++j) {
    const int a = p.actuator[index(j)];
    const double goal = set_points.given(j) ? set_points.value(j) : p.start[index(j)];
    // A set-point beyond the servo's range drives the joint to that end.
    goals[index(j)] = std::clamp(goal, p.model->actuator_ctrlrange[2 * a],
                                 p.model->actuator_ctrlrange[2 * a + 1]);
  }
  for (int s = 0; s < p.substeps; ++s) {
    std::array<double, joint_count> arrived = goals;
    if (!p.delayed.empty()) {
      p.delayed.push_back(goals);
      arrived = p.delayed.front();
      p.delayed.pop_front();
    }
    for (int j = 0; j < joint_count; ++j) p.follow_profile(j, arrived[index(j)]);
    mj_step(p.model.get(), p.data.get());
    // The floor's push on each front paw, at its largest within the step:
    // the contacts of the substep just taken, with the forces that solved them.
    std::array<double, 2> press{};
    for (int c = 0; c < p.data->ncon; ++c) {
      const mjContact &contact = p.data->contact[c];
      for (std::size_t i = 0; i < p.feet.size(); ++i) {
        if (contact.geom1 != p.feet[i].geom && contact.geom2 != p.feet[i].geom) continue;
        mjtNum force[6];
        mj_contactForce(p.model.get(), p.data.get(), c, force);
        press[i] += force[0];
      }
    }
    for (std::size_t i = 0; i < p.feet.size(); ++i)
      p.largest_press[i] = std::max(p.largest_press[i], press[i]);
  }
}

void PhysicsEngine::Parts::follow_profile(int joint, double goal) {
  const int a = actuator[index(joint)];
  const int user = model->nuser_actuator;
  const double top_speed = user >= 2 ? model->actuator_user[a * user] : 0.0;
  const double acceleration = user >= 2 ? model->actuator_user[a * user + 1] : 0.0;
  double &set_point = data->ctrl[a];
  double &rate = set_point_rates[index(joint)];
  if (!(top_speed > 0.0 && acceleration > 0.0)) {
    set_point = goal;
    return;
  }
  const double remaining = goal - set_point;
  const double dt = model->opt.timestep;
  // As fast as allowed, but never so fast that braking at the profile's
  // acceleration would overshoot the goal: from n * a * dt, substeps that each
  // slow down by a * dt cover a * dt^2 * n (n + 1) / 2.
  const double braking_step = acceleration * dt;
  const double braking =
      braking_step * (std::sqrt(0.25 + 2.0 * std::abs(remaining) / (braking_step * dt)) - 0.5);
  const double wanted = std::copysign(std::min(top_speed, braking), remaining);
  rate += std::clamp(wanted - rate, -braking_step, braking_step);
  set_point += rate * dt;
  // Reached, or passed in this substep: the servo stops there.
  if ((goal - set_point) * remaining <= 0.0) {
    set_point = goal;
    rate = 0.0;
  }
}

double PhysicsEngine::servo_target(int joint) const {
  return parts_->data->ctrl[parts_->actuator[index(joint)]];
}

double PhysicsEngine::position(int joint) const {
  return parts_->data->qpos[parts_->qpos_address[index(joint)]];
}

bool PhysicsEngine::render(std::span<unsigned char> image) {
  return parts_->head.render(*parts_->data, image);
}

bool PhysicsEngine::image_outdated() const { return parts_->head.outdated(*parts_->data); }

void PhysicsEngine::draw_exactly() { parts_->head.draw_exactly(); }

std::optional<Vec2> PhysicsEngine::ground_seen(double u, double v) const {
  return parts_->head.ground_seen(*parts_->data, u, v);
}

ThirdPersonView &PhysicsEngine::overview() { return parts_->overview; }

std::unique_ptr<LiveWindow> PhysicsEngine::open_window() const {
  return std::make_unique<PhysicsWindow>(*parts_->model, *parts_->data);
}

void PhysicsEngine::target_moved(const std::vector<Target> &targets, std::size_t moved) {
  Parts &p = *parts_;
  const Target &target = targets.at(moved);
  const std::string name = "target" + std::to_string(moved);
  const int geom = id_of(p.model.get(), mjOBJ_GEOM, name.c_str(), "geom");
  // A disc lies in the world body: its place in the model is its place in
  // the world, and the data's copy is set too so that a paused window shows
  // it there before the next step recomputes it. It touches nothing, so the
  // robot's motion is as it was.
  for (int axis = 0; axis < 2; ++axis) {
    const double at = axis == 0 ? target.x : target.y;
    p.model->geom_pos[3 * geom + axis] = at;
    p.data->geom_xpos[3 * geom + axis] = at;
  }
  WorldConfig discs;
  discs.targets = targets;
  p.renderer.set_disc_ranks(disc_ranks(*p.model, discs));
  // The camera only watches the robot for motion: a disc moved in its view
  // while the head is still must be drawn again all the same.
  p.head.scene_changed();
}

std::string PhysicsEngine::model_xml() const {
  return with_timestep(parts_->xml, parts_->model->opt.timestep);
}

Foot PhysicsEngine::foot(int leg) const {
  const Parts &p = *parts_;
  const std::size_t i = leg == 0 ? 0 : 1;
  const Vec3 now = p.tip(leg);
  const Vec3 &before = p.tips_before[i];
  if (p.free) {
    // Both in the world frame, which the floor is fixed in: a paw standing
    // on the floor stays still however the body above it moves. Only its
    // sliding counts: a standing paw sinks into the floor's soft contact and
    // rises again by a fraction of a millimetre as the body's weight shifts
    // between the legs (the head's swing does that).
    const double sphere = p.model->geom_size[3 * p.feet[i].geom];
    return {now, now.z - sphere - floor_height(Torso::free) <= touching,
            std::hypot(now.x - before.x, now.y - before.y) < still_foot, p.largest_press[i]};
  }
  Foot result{now, false,
              std::hypot(now.x - before.x, now.y - before.y, now.z - before.z) < still_foot,
              p.largest_press[i]};
  // The foot's sphere stands on a plane one radius below the visible floor,
  // so its centre is where it touches the floor people see.
  for (int c = 0; c < p.data->ncon && !result.on_ground; ++c) {
    const mjContact &contact = p.data->contact[c];
    result.on_ground = (contact.geom1 == p.feet[i].geom && contact.geom2 == p.foot_floor) ||
                       (contact.geom2 == p.feet[i].geom && contact.geom1 == p.foot_floor);
  }
  return result;
}

TorsoPose PhysicsEngine::torso() const {
  const Parts &p = *parts_;
  const mjtNum *at = p.data->xpos + 3 * p.torso;
  const mjtNum *r = p.data->xmat + 9 * p.torso;  // row by row
  // Roll about x, then pitch about y, then yaw about z: R = Rz Ry Rx.
  TorsoPose pose;
  pose.position = {at[0], at[1], at[2]};
  pose.roll = std::atan2(r[7], r[8]);
  pose.pitch = std::asin(std::clamp(-r[6], -1.0, 1.0));
  pose.yaw = std::atan2(r[3], r[0]);
  return pose;
}

std::vector<Vec2> PhysicsEngine::torso_footprint() const {
  const Parts &p = *parts_;
  const mjtNum *centre = p.data->geom_xpos + 3 * p.torso_box;
  const mjtNum *axes = p.data->geom_xmat + 9 * p.torso_box;  // row by row
  const mjtNum *half = p.model->geom_size + 3 * p.torso_box;
  std::vector<Vec2> corners;
  for (const auto &[sx, sy] : {std::pair{1.0, 1.0}, {-1.0, 1.0}, {-1.0, -1.0}, {1.0, -1.0}}) {
    const double local[2] = {sx * half[0], sy * half[1]};
    corners.push_back({centre[0] + axes[0] * local[0] + axes[1] * local[1],
                       centre[1] + axes[3] * local[0] + axes[4] * local[1]});
  }
  return corners;
}

JointRange PhysicsEngine::range(int joint) const {
  const mjtNum *limits = parts_->model->jnt_range + 2 * parts_->joint_id[index(joint)];
  return {limits[0], limits[1]};
}

}  // namespace sim
