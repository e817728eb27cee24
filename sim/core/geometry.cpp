#include "sim/core/geometry.h"

namespace sim {

const char *view_name(View view) {
  switch (view) {
    case View::left:
      return "left";
    case View::right:
      return "right";
    default:
      return "forward";
  }
}

View view_of_pan(double pan) {
  if (pan >= side_view_pan) return View::left;
  if (pan <= -side_view_pan) return View::right;
  return View::forward;
}

Vec3 leg_to_body(int leg, Vec3 in_leg) {
  if (leg == 0) return {in_leg.x, hip_y - in_leg.y, in_leg.z};
  return {in_leg.x, -hip_y + in_leg.y, in_leg.z};
}

Vec3 body_to_leg(int leg, Vec3 in_body) {
  if (leg == 0) return {in_body.x, hip_y - in_body.y, in_body.z};
  return {in_body.x, in_body.y + hip_y, in_body.z};
}

}  // namespace sim
