#include "sim/engines/physics/physics_engine.h"

#include <mujoco/mujoco.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <string>

#include "sim/engines/physics/head_camera.h"
#include "sim/engines/physics/overview.h"
#include "sim/engines/physics/renderer.h"
#include "sim/engines/physics/robot_model.h"
#include "sim/model/errors.h"
#include "sim/model/legs.h"

namespace sim {

namespace {

// Joint j of the stand-in (sim/model/joints.h) is the model's joint and
// position actuator of this name.
constexpr std::array<const char *, joint_count> joint_names{
    "leg0_hip",  "leg0_roll", "leg0_knee", "leg1_hip",    "leg1_roll",
    "leg1_knee", "leg2_hip",  "leg2_roll", "leg2_knee",   "leg3_hip",
    "leg3_roll", "leg3_knee", "tete_coup", "tourne_tete", "coup_h"};
constexpr std::array<const char *, 2> foot_names{"leg0_foot", "leg2_foot"};

// Physics substeps are at most this long, and a controller step is a whole
// number of them.
constexpr double longest_substep = 0.002;  // s
// A foot whose centre moved less than this in a step is still: slow enough
// that a reach's last creep along the floor is over.
constexpr double still_foot = 5e-5;  // metres

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

ModelPointer compiled(const WorldConfig &world) {
  mju_user_error = physics_error;
  mju_user_warning = physics_warning;
  ModelPointer model = compile_model(world_model_xml(world));
  model->opt.timestep = world.time_step_ms / 1000.0 / substeps_of(world);
  return model;
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
      : substeps(substeps_of(world)),
        model(compiled(world)),
        data(mj_makeData(model.get())),
        renderer(*model, disc_ranks(*model, world)),
        head(*model, renderer, world.camera_width, world.camera_height),
        overview(*model, *data, renderer) {
    for (int j = 0; j < joint_count; ++j) {
      const int joint = id_of(model.get(), mjOBJ_JOINT, joint_names[index(j)], "joint");
      qpos_address[index(j)] = model->jnt_qposadr[joint];
      actuator[index(j)] = id_of(model.get(), mjOBJ_ACTUATOR, joint_names[index(j)], "actuator");
    }
    for (std::size_t i = 0; i < feet.size(); ++i) {
      feet[i].geom = id_of(model.get(), mjOBJ_GEOM, foot_names[i], "geom");
      feet[i].site = id_of(model.get(), mjOBJ_SITE, foot_names[i], "site");
    }
    foot_floor = id_of(model.get(), mjOBJ_GEOM, "foot_floor", "geom");
    // The robot starts in the pose its first set-points give (the model's
    // keyframe), not with straight legs pushed into the floor.
    if (model->nkey > 0) mj_resetDataKeyframe(model.get(), data.get(), 0);
    mj_forward(model.get(), data.get());
    for (int j = 0; j < joint_count; ++j) start[index(j)] = data->qpos[qpos_address[index(j)]];
    for (std::size_t i = 0; i < feet.size(); ++i) tips_before[i] = tip(reaching_legs[i]);
  }

  Vec3 tip(int leg) const {
    const mjtNum *at = data->site_xpos + 3 * feet[leg == 0 ? 0 : 1].site;
    return {at[0], at[1], at[2]};
  }

  int substeps;
  ModelPointer model;
  std::unique_ptr<mjData, DataDeleter> data;
  Renderer renderer;
  HeadCamera head;
  Overview overview;
  std::array<int, joint_count> qpos_address{};
  std::array<int, joint_count> actuator{};
  std::array<double, joint_count> start{};  // where each joint starts, held until commanded
  std::array<FootIds, 2> feet{};            // legs 0 and 2
  std::array<Vec3, 2> tips_before{};        // feet tips a step ago
  int foot_floor = -1;                      // the plane the feet stand on
};

PhysicsEngine::PhysicsEngine(const WorldConfig &world) : parts_(std::make_unique<Parts>(world)) {}

PhysicsEngine::~PhysicsEngine() = default;

void PhysicsEngine::advance(const SetPoints &set_points) {
  Parts &p = *parts_;
  for (int j = 0; j < joint_count; ++j)
    p.data->ctrl[p.actuator[index(j)]] =
        set_points.given(j) ? set_points.value(j) : p.start[index(j)];
  for (std::size_t i = 0; i < p.feet.size(); ++i) p.tips_before[i] = p.tip(reaching_legs[i]);
  for (int s = 0; s < p.substeps; ++s) mj_step(p.model.get(), p.data.get());
}

double PhysicsEngine::position(int joint) const {
  return parts_->data->qpos[parts_->qpos_address[index(joint)]];
}

bool PhysicsEngine::render(std::span<unsigned char> image) {
  return parts_->head.render(*parts_->data, image);
}

std::optional<Vec2> PhysicsEngine::ground_seen(double u, double v) const {
  return parts_->head.ground_seen(*parts_->data, u, v);
}

ThirdPersonView &PhysicsEngine::overview() { return parts_->overview; }

Foot PhysicsEngine::foot(int leg) const {
  const Parts &p = *parts_;
  const std::size_t i = leg == 0 ? 0 : 1;
  const Vec3 now = p.tip(leg);
  const Vec3 &before = p.tips_before[i];
  Foot result{now, false,
              std::hypot(now.x - before.x, now.y - before.y, now.z - before.z) < still_foot};
  for (int c = 0; c < p.data->ncon; ++c) {
    const mjContact &contact = p.data->contact[c];
    const bool foot_and_floor =
        (contact.geom1 == p.feet[i].geom && contact.geom2 == p.foot_floor) ||
        (contact.geom2 == p.feet[i].geom && contact.geom1 == p.foot_floor);
    if (!foot_and_floor) continue;
    // The foot's sphere stands on a plane one radius below the visible floor,
    // so its centre is where it touches the floor people see.
    result.on_ground = true;
    break;
  }
  return result;
}

}  // namespace sim
