// What differs between the stand-in's engines, behind one interface: how the
// joints follow their set-points for one step, what the camera sees, and
// where the front feet are. The call layer and the records know an engine
// only through this.
#pragma once

#include <array>
#include <optional>
#include <span>

#include "sim/model/geometry.h"
#include "sim/model/joints.h"

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
  Vec3 position;           // body frame, metres: where it touches, or its tip in the air
  bool on_ground = false;  // touching the floor
  bool still = false;      // did not move during the last step
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
  // The ground point (body frame) that pixel column u, row v of the current
  // image sees; nothing where it sees no ground.
  virtual std::optional<Vec2> ground_seen(double u, double v) const = 0;
  // Front leg 0 or 2.
  virtual Foot foot(int leg) const = 0;
};

}  // namespace sim
