// The physics engine's model: the robot's MJCF text, with a world's discs laid
// on its floor, compiled by MuJoCo.
#pragma once

#include <mujoco/mujoco.h>

#include <algorithm>
#include <memory>
#include <string>

#include "sim/engines/physics/pinhole.h"
#include "sim/model/world_config.h"

namespace sim {

// The robot model's MJCF text, built into the library so that a run needs no
// file: sim/engines/physics/robot.xml.
extern const char *const robot_model_xml;

// The model text for a world: the robot, with the world's discs lying on its
// floor, the plane z = ground_z.
std::string world_model_xml(const WorldConfig &world);

// The model text with its <option> timestep set to `seconds`, written so it
// reads back as the same double.
std::string with_timestep(const std::string &xml, double seconds);

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
