// The physics engine's model: the robot's MJCF text, with a world's discs laid
// on its floor, compiled by MuJoCo.
#pragma once

#include <mujoco/mujoco.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "sim/core/joints.h"
#include "sim/core/world_config.h"
#include "sim/engines/physics/pinhole.h"

namespace sim {

// The robot models' MJCF text, built into the library so that a run needs no
// file: sim/engines/physics/robot.xml, the robot standing free on its paws,
// and robot_on_stand.xml, its torso fixed in space.
extern const char *const robot_model_xml;
extern const char *const robot_on_stand_xml;

// Joint j of the stand-in (sim/core/joints.h) is the model's joint and
// position actuator of this name.
inline constexpr std::array<const char *, joint_count> joint_names{
    "leg0_hip_pitch", "leg0_hip_roll",  "leg0_knee",     "leg1_hip_pitch", "leg1_hip_roll",
    "leg1_knee",      "leg2_hip_pitch", "leg2_hip_roll", "leg2_knee",      "leg3_hip_pitch",
    "leg3_hip_roll",  "leg3_knee",      "tete_coup",     "tourne_tete",    "coup_h"};

// The free robot's paws: balls centred on the legs' foot points. A paw
// resting on the floor touches it right below its centre, whatever the leg's
// slope, so the paw whose centre stands where the controller puts its feet
// (z = ground_z) touches the floor one radius lower: that floor is the one
// the robot stands on, the camera sees and the discs lie on.
inline constexpr double paw_radius = 0.006;  // metres
// The floor of a world's robot (body frame at the start). The robot on a
// stand keeps its paws over a hidden plane one radius below its floor.
double floor_height(Torso torso);

// The model text for a world: its robot, with the world's discs lying on its
// floor.
std::string world_model_xml(const WorldConfig &world);

// The model text with its <option> timestep set to `seconds`, written so it
// reads back as the same double.
std::string with_timestep(const std::string &xml, double seconds);

// Which disc shows where discs overlap: the first in file order, as in the
// kinematic world. Each disc's rank is one more than the highest rank of the
// later discs it overlaps, 0 when it overlaps none; the renderer draws a disc
// of higher rank in front. Indexed by geom id, 0 for every other geom.
std::vector<int> disc_ranks(const mjModel &model, const WorldConfig &world);

struct ModelDeleter {
  void operator()(mjModel *m) const { mj_deleteModel(m); }
};
using ModelPointer = std::unique_ptr<mjModel, ModelDeleter>;

// Compiles MJCF text. Throws RunError with MuJoCo's message when it cannot.
ModelPointer compile_model(const std::string &xml);

// Where camera `camera` is, in the data's last computed kinematics.
inline physics::CameraPose camera_pose(const mjData &data, int camera) {
  physics::CameraPose pose{};
  std::copy_n(data.cam_xpos + 3 * camera, 3, pose.position);
  std::copy_n(data.cam_xmat + 9 * camera, 9, pose.rotation);
  return pose;
}

// The id of a named part of the model. Throws RunError when it has none.
int id_of(const mjModel *model, mjtObj type, const char *name, const char *what);

}  // namespace sim
