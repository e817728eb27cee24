// The body frame and what lies in it: points, the ground plane, the front
// hips, and the side the head camera looks at.
#pragma once

namespace sim {

// Body frame: x forward, y to the left, z up, origin midway between the front
// hips; metres.
inline constexpr double hip_y = 0.06;       // the front hips lie at y = +-hip_y
inline constexpr double ground_z = -0.115;  // the ground plane

struct Vec2 {
  double x = 0.0;
  double y = 0.0;
};
struct Vec3 {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
};

// What the camera shows, chosen by the head pan joint.
enum class View { forward, left, right };
const char *view_name(View view);

// The pan position from which a side view shows; in between, the camera sees
// only floor ahead.
inline constexpr double side_view_pan = 0.2;  // rad
View view_of_pan(double pan);

// A front leg's own frame has its origin at the hip, x forward, y towards the
// body's midline, z up. Leg 0 is the left front leg, leg 2 the right one.
Vec3 leg_to_body(int leg, Vec3 in_leg);
Vec3 body_to_leg(int leg, Vec3 in_body);

}  // namespace sim
