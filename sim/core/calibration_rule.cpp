#include "sim/core/calibration_rule.h"

#include <cmath>

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

std::optional<Vec2> pixel_seeing(View view, Vec2 ground) {
  if (view == View::forward) return std::nullopt;
  const bool left = view == View::left;
  const Vec3 in_leg = body_to_leg(left ? 0 : 2, {ground.x, ground.y, ground_z});
  const double sideways = left ? in_leg.y : -in_leg.y;
  const double forward = -in_leg.x;
  // value = (n0 + nu u + nv v) / (1 + du u + dv v) is linear in u and v once
  // multiplied out: two such lines meet at the pixel.
  const Ratio &a = left ? x_left : x_right;
  const Ratio &b = left ? y_left : y_right;
  const double a_u = a.nu - sideways * a.du, a_v = a.nv - sideways * a.dv, a_r = sideways - a.n0;
  const double b_u = b.nu - forward * b.du, b_v = b.nv - forward * b.dv, b_r = forward - b.n0;
  const double determinant = a_u * b_v - a_v * b_u;
  if (!(std::abs(determinant) > 0.0)) return std::nullopt;
  const Vec2 pixel{(a_r * b_v - a_v * b_r) / determinant, (a_u * b_r - a_r * b_u) / determinant};
  // The same point seen from behind the horizon is not seen at all.
  if (!ground_point(view, pixel.x, pixel.y)) return std::nullopt;
  return pixel;
}

bool disc_in_view(View view, Vec2 centre, double radius, int width, int height) {
  const auto inside = [&](Vec2 point) {
    const std::optional<Vec2> pixel = pixel_seeing(view, point);
    return pixel && pixel->x >= -0.5 && pixel->y >= -0.5 && pixel->x < width - 0.5 &&
           pixel->y < height - 0.5;
  };
  if (inside(centre)) return true;
  // The rim, and a disc that covers the whole view.
  constexpr int rim_points = 64;
  for (int i = 0; i < rim_points; ++i) {
    const double angle = 2.0 * M_PI * i / rim_points;
    if (inside({centre.x + radius * std::cos(angle), centre.y + radius * std::sin(angle)}))
      return true;
  }
  const std::optional<Vec2> middle = ground_point(view, width / 2.0, height / 2.0);
  return middle && std::hypot(middle->x - centre.x, middle->y - centre.y) <= radius;
}

}  // namespace sim
