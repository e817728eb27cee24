// The head of the robot model as the camera fit moves it: its fitted
// quantities written into the model as robot.xml would hold them, and the
// camera's pose in a look pose. MuJoCo stays behind this header, so the fit
// itself needs only the geometry.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "sim/engines/physics/pinhole.h"

namespace sim::physics {

// What the fit places: the neck, the pan axis's lean, the camera on the head
// and its field of view, and the first tilt's lower limit.
struct HeadGeometry {
  double neck_x = 0.0;  // where the first tilt's axis crosses the midplane, body frame (m)
  double neck_z = 0.0;
  double pan_lean = 0.0;         // the pan axis's lean on the neck, about the tilt's axis (rad)
  double neck_length = 0.0;      // from the pan axis's foot to the second tilt's axis (m)
  std::array<double, 3> eye{};   // the camera in the head's frame (m)
  std::array<double, 3> turn{};  // the camera's turn from looking along the head's x axis
                                 // with the image's up along its z axis: a rotation vector
  double fovy = 45.0;            // vertical field of view (degrees)
  double tilt_limit = 0.0;       // the first tilt's lower limit (rad)
};

// A look pose of the head; a NaN tilt rests the first tilt on its lower limit.
struct HeadPose {
  double tilt = 0.0;         // tete_coup
  double pan = 0.0;          // tourne_tete
  double second_tilt = 0.0;  // coup_h
};

class HeadModel {
 public:
  // Loads the robot model file. Throws std::runtime_error when it cannot.
  explicit HeadModel(const std::string &robot_xml_path);
  ~HeadModel();
  HeadModel(const HeadModel &) = delete;
  HeadModel &operator=(const HeadModel &) = delete;

  void set(const HeadGeometry &geometry);
  // The camera's pose with the head in `pose`.
  CameraPose pose(const HeadPose &pose);
  double fovy() const;
  // The height of the floor the camera sees the ground on.
  double floor_z() const;

  // The camera's orientation in the head as robot.xml writes it (w first).
  static std::array<double, 4> camera_quat(const std::array<double, 3> &turn);

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace sim::physics
