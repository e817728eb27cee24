// The physics engine: our robot model in MuJoCo, with masses, position servos
// and contacts, the head camera rendered offscreen with flat colours, and a
// camera beside the robot for the video. MuJoCo stays behind this header.
#pragma once

#include <memory>
#include <string>

#include "sim/core/engine.h"
#include "sim/core/live_window.h"
#include "sim/core/third_person_view.h"
#include "sim/core/world_config.h"

namespace sim {

class PhysicsEngine final : public Engine {
 public:
  // Compiles the model and makes the offscreen context. Throws RunError when
  // either cannot be done.
  explicit PhysicsEngine(const WorldConfig &world);
  ~PhysicsEngine() override;
  PhysicsEngine(const PhysicsEngine &) = delete;
  PhysicsEngine &operator=(const PhysicsEngine &) = delete;

  void advance(const SetPoints &set_points) override;
  double position(int joint) const override;
  View view() const override { return view_of_pan(position(head_pan_joint)); }
  bool render(std::span<unsigned char> image) override;
  bool image_outdated() const override;
  void draw_exactly() override;
  std::optional<Vec2> ground_seen(double u, double v) const override;
  Foot foot(int leg) const override;
  TorsoPose torso() const override;
  std::vector<Vec2> torso_footprint() const override;
  JointRange range(int joint) const override;
  void target_moved(const std::vector<Target> &targets, std::size_t moved) override;

  // The camera beside the robot, for the video.
  ThirdPersonView &overview();
  // A live window on the run (see window.h). Throws RunError when none can
  // be opened.
  std::unique_ptr<LiveWindow> open_window() const;
  // The set-point a joint's servo is moving to now (rad): a free robot's leg
  // servos move theirs to the controller's along a speed and acceleration
  // profile.
  double servo_target(int joint) const;
  // The whole model as it runs, robot and discs, as MJCF text that MuJoCo's
  // own tools open: the substep it is stepped with written in.
  std::string model_xml() const;

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace sim
