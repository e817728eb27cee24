// The camera calibration rule the tables were made from, written out here on
// its own, apart from the stand-in's code, so that a swapped axis or sign
// there shows: (n0 + nu u + nv v) / (1 + du u + dv v) per coordinate.
#pragma once

#include "sim/core/geometry.h"

namespace calibration {

inline double rule(const double (&k)[5], double u, double v) {
  return (k[0] + k[1] * u + k[2] * v) / (1.0 + k[3] * u + k[4] * v);
}
inline constexpr double x_right[5] = {-0.03953646, 0.0004182125, -0.00001674954, -0.00171374,
                                      -0.0004149986};
inline constexpr double y_right[5] = {-0.09113835, 0.0001328035, 0.0004119929, -0.001734998,
                                      -0.000426217};
inline constexpr double x_left[5] = {-0.07332442, 0.0009051759, 0.00008225272, 0.003457706,
                                     0.00007208251};
inline constexpr double y_left[5] = {-0.1296386, -0.0003427546, 0.0008144595, 0.003544184,
                                     0.00004313039};

// Body-frame ground point of pixel (u, v): leg frame first, then across to the body.
inline sim::Vec2 expected_ground(bool left, double u, double v) {
  if (left) return {-rule(y_left, u, v), 0.06 - rule(x_left, u, v)};
  return {-rule(y_right, u, v), -0.06 - rule(x_right, u, v)};
}

}  // namespace calibration
