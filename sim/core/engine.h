// What differs between the stand-in's engines, behind one interface: how the
// joints follow their set-points for one step, what the camera sees, where
// the front feet and the torso are. The run loop and the records know an
// engine only through this.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "sim/core/geometry.h"
#include "sim/core/joints.h"
#include "sim/core/world_config.h"

namespace sim {

// The controller's latest set-point of every joint. A joint never commanded
// has none, and each engine holds it where the robot started.
class SetPoints {
 public:
  void set(int joint, double position) {
    values_[static_cast<std::size_t>(joint)] = position;
    given_[static_cast<std::size_t>(joint)] = true;
  }
  bool given(int joint) const { return given_[static_cast<std::size_t>(joint)]; }
  // Meaningful only where given().
  double value(int joint) const { return values_[static_cast<std::size_t>(joint)]; }

 private:
  std::array<double, joint_count> values_{};
  std::array<bool, joint_count> given_{};
};

// A front foot after the last step.
struct Foot {
  Vec3 position;           // world frame, metres: where it touches, or its tip in the air
  bool on_ground = false;  // touching the floor
  bool still = false;      // did not move during the last step
  // The floor's push on the foot along the floor's normal (N); none where the
  // engine has no forces.
  std::optional<double> force;
};

// Where the torso is: its body frame's origin in the world frame, which is
// the body frame at the start, and its turn from there as roll about x, then
// pitch about y, then yaw about z (rad).
struct TorsoPose {
  Vec3 position;
  double roll = 0.0;
  double pitch = 0.0;
  double yaw = 0.0;
  // How far the torso leans from upright, whichever way (rad).
  double tilt() const;
};

// A joint's range of motion (rad): a set-point beyond it drives the joint to
// the limit.
struct JointRange {
  double low = 0.0;
  double high = 0.0;
};

class Engine {
 public:
  virtual ~Engine() = default;

  // One step of the world's time: every joint driven towards its set-point.
  virtual void advance(const SetPoints &set_points) = 0;
  // A joint's position after the last step (rad).
  virtual double position(int joint) const = 0;
  // The side the camera looks at, after the last step.
  virtual View view() const = 0;
  // Brings the camera image up to date: width x height pixels of 3 bytes,
  // red first, rows top to bottom. False when it was already.
  virtual bool render(std::span<unsigned char> image) = 0;
  // Whether render() would draw a new image now.
  virtual bool image_outdated() const = 0;
  // Images drawn only when they are wanted (the camera's image read, a video
  // frame) are drawn exact to their moment: an engine that skips moves too
  // small to see when it draws at every step no longer skips them.
  virtual void draw_exactly() {}
  // The ground point (body frame) that pixel column u, row v of the current
  // image sees; nothing where it sees no ground.
  virtual std::optional<Vec2> ground_seen(double u, double v) const = 0;
  // Front leg 0 or 2.
  virtual Foot foot(int leg) const = 0;
  // The torso after the last step; an engine whose torso never moves keeps
  // it at the origin.
  virtual TorsoPose torso() const { return {}; }
  // The torso's outline seen from above (world frame, corners in order);
  // empty for an engine that has no body to draw.
  virtual std::vector<Vec2> torso_footprint() const { return {}; }
  virtual JointRange range(int joint) const = 0;
  // Disc `moved` of `targets` (the world's discs, as they now lie) was moved
  // by a person: from the next step on, the camera sees it there.
  virtual void target_moved(const std::vector<Target> &targets, std::size_t moved) = 0;
};

}  // namespace sim
