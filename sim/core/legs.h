// The front legs' geometry: their forward kinematics, how far a foot reaches,
// and where it stands at rest.
#pragma once

#include <cmath>

#include "sim/core/geometry.h"

namespace sim {

inline constexpr double upper_segment = 0.0649;  // metres, hip to knee
inline constexpr double lower_segment = 0.0696;  // metres, knee to foot

// How far from its hip, across the ground, a front foot can touch it: the
// stretched leg's length projected onto the ground plane.
inline const double foot_reach = std::sqrt(
    (upper_segment + lower_segment) * (upper_segment + lower_segment) - ground_z * ground_z);  // m

// The two legs that reach; the others only support the body.
inline constexpr int reaching_legs[2] = {0, 2};

// The foot in the leg's own frame from its three joint positions (rad).
Vec3 foot_in_leg_frame(double joint0, double joint1, double joint2);

// The foot of front leg 0 or 2 in the body frame, from its joint positions.
Vec3 foot_in_body(int leg, double joint0, double joint1, double joint2);

// Where front leg 0 or 2's foot stands at rest: on the ground right under
// its hip.
Vec3 rest_point(int leg);

// How far (x, y) lies from that rest point across the ground.
double from_rest_point(int leg, double x, double y);

}  // namespace sim
