// The exact, fast engine: joints that ramp at a fixed speed, a camera that
// shows one of two side views keyed on the calibration the controller's
// tables were rounded from, and feet placed by the legs' forward kinematics.
#pragma once

#include <array>
#include <vector>

#include "sim/core/calibration_rule.h"
#include "sim/core/engine.h"
#include "sim/core/world_config.h"
#include "sim/engines/kinematic/ramped_joints.h"

namespace sim {

// Red byte 20: the floor never counts as red.
inline constexpr std::array<std::uint8_t, 3> floor_color{20, 120, 60};
// Where a pixel looks above the horizon; red byte below the red threshold too.
inline constexpr std::array<std::uint8_t, 3> sky_color{10, 16, 40};

// A foot counts as on the ground this close to the ground plane.
inline constexpr double on_ground = 0.002;  // metres

class KinematicEngine final : public Engine {
 public:
  explicit KinematicEngine(const WorldConfig &world);

  void advance(const SetPoints &set_points) override;
  double position(int joint) const override { return joints_.position(joint); }
  View view() const override { return view_of_pan(joints_.position(head_pan_joint)); }
  bool render(std::span<unsigned char> image) override;
  bool image_outdated() const override { return !rendered_ || view() != rendered_view_; }
  std::optional<Vec2> ground_seen(double u, double v) const override {
    return ground_point(view(), u, v);
  }
  Foot foot(int leg) const override;
  JointRange range(int joint) const override { return joint_range(joint); }
  void target_moved(const std::vector<Target> &targets, std::size_t moved) override;

 private:
  // A view's image, drawn the first time it is shown: nothing in this world
  // moves but the robot, so a view change is a copy and a step without one
  // costs nothing.
  const std::vector<unsigned char> &view_image(View view);
  // Recomputes the feet of the reaching legs whose joints are in `moved`.
  void update_feet(unsigned moved);

  int width_;
  int height_;
  std::vector<Target> targets_;
  RampedJoints joints_;
  unsigned moved_ = 0;          // joints that moved in the last step
  std::array<Vec3, 2> tips_{};  // the feet of legs 0 and 2, body frame
  std::array<std::vector<unsigned char>, 3> views_;
  bool rendered_ = false;
  View rendered_view_ = View::forward;
};

}  // namespace sim
