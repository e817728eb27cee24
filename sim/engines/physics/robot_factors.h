// A world's robot as it departs from the model: the factors of a real robot
// (friction, servo strength and latency, a payload, the camera's mount and
// field of view) written into the model's MJCF text, so that the run's
// world.xml holds them and MuJoCo's own tools open the robot that ran.
#pragma once

#include <array>
#include <string>

#include "sim/core/world_config.h"

namespace sim {

// Writes every factor of the model that differs from the model's value into
// the robot's MJCF text (the image's noise and gain are the camera device's);
// a robot at the model's values is left byte for byte as it was. Throws RunError when the text
// lacks a part a factor changes.
void write_factors(std::string &xml, const Factors &factors);

// A rotation as a unit quaternion, w first, as MJCF writes it.
using Quaternion = std::array<double, 4>;
// The camera's orientation turned by the mount errors in its own frame: yaw
// about its up axis (+ turns it left), then pitch about its right axis (+
// turns it up), then roll about its backward axis (+ turns it anticlockwise
// as seen from behind it).
Quaternion turned_camera(const Quaternion &mount, double roll_deg, double pitch_deg,
                         double yaw_deg);

}  // namespace sim
