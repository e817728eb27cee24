// Worlds and postures the tests build on: the default world's discs, a
// kinematic world to step by hand, and the front legs' set-points for the
// rest posture and for the left disc, as the controller gives them.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sim/core/engine.h"
#include "sim/core/world_config.h"

namespace support {

// The controller's red, the colour of every disc of the shipped worlds.
inline constexpr std::array<std::uint8_t, 3> target_red{214, 30, 30};

// The default world's two discs of 6 mm: target 0 on the robot's right at
// (0.038, -0.05), target 1 on its left at (0.038, 0.05).
std::vector<sim::Target> default_discs();

// A world on the kinematic engine with these discs, long enough never to end
// while a test steps it by hand, and the defaults otherwise.
sim::WorldConfig kinematic_world(std::vector<sim::Target> targets = {});
// The same world with joints that move `speed` rad a step.
sim::WorldConfig with_joint_speed(sim::WorldConfig world, double speed);

// A front leg's three set-points, hip pitch, hip roll and knee (rad), as the
// floats the controller gives.
using LegPosture = std::array<float, 3>;
// The rest posture: the foot at (0, 0, -0.115) right under its hip.
inline constexpr LegPosture rest_posture{-0.76679f, 0.0f, 1.476161f};
// Front leg 0's foot on the default world's left disc, at (0.038, 0.05).
inline constexpr LegPosture left_disc_posture{-0.3517099f, -0.119698115f, 1.2720519f};
// Gives leg `leg` the three set-points of a posture.
void command_leg(sim::SetPoints &set_points, int leg, const LegPosture &posture);

}  // namespace support
