// Where a pixel of the model's camera meets the ground: the geometry the
// renderer draws, written out so the camera can be fitted and checked
// without rendering.
#pragma once

#include <cmath>
#include <optional>

#include "sim/core/geometry.h"

namespace sim::physics {

// A camera's pose in the body frame as the physics engine reports it: the
// position and the rotation matrix row by row, whose columns are the camera's
// x (image right), y (image up) and z (backwards from the view) axes.
struct CameraPose {
  double position[3];
  double rotation[9];
};

// The focal length in pixels of a camera with vertical field of view fovy
// (degrees) over an image `height` pixels tall.
inline double focal_pixels(double fovy_degrees, double height) {
  return 0.5 * height / std::tan(0.5 * fovy_degrees * M_PI / 180.0);
}

// The point of the floor (the plane z = floor_z) seen through the centre of
// pixel (column u, row v counted from the top) of a width x height image with
// vertical field of view fovy (degrees); nothing if the ray never comes down
// to the floor.
inline std::optional<Vec2> pixel_ground_point(const CameraPose &pose, double fovy_degrees,
                                              int width, int height, double u, double v,
                                              double floor_z) {
  const double focal = focal_pixels(fovy_degrees, height);
  const double local[3] = {(u + 0.5 - 0.5 * width) / focal, (0.5 * height - v - 0.5) / focal, -1.0};
  double ray[3];
  for (int i = 0; i < 3; ++i)
    ray[i] = pose.rotation[3 * i] * local[0] + pose.rotation[3 * i + 1] * local[1] +
             pose.rotation[3 * i + 2] * local[2];
  if (!(ray[2] < 0.0)) return std::nullopt;
  const double t = (floor_z - pose.position[2]) / ray[2];
  if (!(t > 0.0)) return std::nullopt;
  return Vec2{pose.position[0] + t * ray[0], pose.position[1] + t * ray[1]};
}

}  // namespace sim::physics
