#include "sim/ground.h"

namespace sim {

namespace {
// One coordinate of a side view's ground mapping, a ratio of two affine
// functions of the pixel: (n0 + nu * u + nv * v) / (1 + du * u + dv * v).
// These are the camera the controller's tables were calibrated on, unrounded,
// so the tables' rounding is the controller's only calibration error.
struct Ratio {
  double n0;  // metres
  double nu;  // metres per image column
  double nv;  // metres per image row
  double du;  // per image column
  double dv;  // per image row
};

// Names follow the calibration: "x" gives the leg-frame sideways coordinate,
// "y" the forward one, each with its side's sign.
constexpr Ratio x_right{-0.03953646, 0.0004182125, -0.00001674954, -0.00171374, -0.0004149986};
constexpr Ratio y_right{-0.09113835, 0.0001328035, 0.0004119929, -0.001734998, -0.000426217};
constexpr Ratio x_left{-0.07332442, 0.0009051759, 0.00008225272, 0.003457706, 0.00007208251};
constexpr Ratio y_left{-0.1296386, -0.0003427546, 0.0008144595, 0.003544184, 0.00004313039};

// Nothing where the denominator is not positive: past the horizon the ratio
// changes sign and would put sky on the ground behind the robot.
std::optional<double> evaluate(const Ratio &ratio, double u, double v) {
  const double denominator = 1.0 + ratio.du * u + ratio.dv * v;
  if (!(denominator > 0.0)) return std::nullopt;
  return (ratio.n0 + ratio.nu * u + ratio.nv * v) / denominator;
}
}  // namespace

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

std::optional<Vec2> ground_point(View view, double u, double v) {
  if (view == View::forward) return std::nullopt;
  const bool left = view == View::left;
  const std::optional<double> sideways = evaluate(left ? x_left : x_right, u, v);
  const std::optional<double> forward = evaluate(left ? y_left : y_right, u, v);
  if (!sideways || !forward) return std::nullopt;
  const Vec3 in_leg{-*forward, left ? *sideways : -*sideways, ground_z};
  const Vec3 in_body = leg_to_body(left ? 0 : 2, in_leg);
  return Vec2{in_body.x, in_body.y};
}

}  // namespace sim
