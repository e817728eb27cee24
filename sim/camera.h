// The head camera: one image buffer, refreshed in place at every step, whose
// content depends on where the head is turned.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/config.h"
#include "sim/joints.h"

namespace sim {

enum class View { forward, left, right };

// Red byte 20: the floor never counts as red.
inline constexpr std::array<std::uint8_t, 3> floor_color{20, 120, 60};

class Camera {
 public:
  explicit Camera(const WorldConfig &world);

  int width() const { return width_; }
  int height() const { return height_; }
  // The image the controller reads; stays at one address for the whole run.
  const unsigned char *image() const { return pixels_.data(); }
  View view() const { return view_; }

  // Brings the image up to date with the head's pose after a step.
  void update(const Joints &joints);

 private:
  void render(View view);

  int width_;
  int height_;
  std::vector<Block> blocks_;
  std::vector<unsigned char> pixels_;
  View view_ = View::forward;
  bool rendered_ = false;
};

}  // namespace sim
