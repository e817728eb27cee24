// The head camera: one image buffer, refreshed in place at every step, whose
// content depends on where the head is turned.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sim/config.h"
#include "sim/ground.h"
#include "sim/joints.h"

namespace sim {

// Red byte 20: the floor never counts as red.
inline constexpr std::array<std::uint8_t, 3> floor_color{20, 120, 60};
// Where a pixel looks above the horizon; red byte below the red threshold too.
inline constexpr std::array<std::uint8_t, 3> sky_color{10, 16, 40};

class Camera {
 public:
  explicit Camera(const WorldConfig &world);

  int width() const { return width_; }
  int height() const { return height_; }
  // The image the controller reads; stays at one address for the whole run.
  const unsigned char *image() const { return pixels_.data(); }
  // The view the targets are shown in, from the pan joint's position.
  View view() const { return target_view_; }
  // The side the image shows: the targets' view, or else that of the blocks.
  View shown() const { return target_view_ != View::forward ? target_view_ : block_view_; }

  // Brings the image up to date with the head's pose after a step.
  void update(const Joints &joints);

 private:
  // An image per pair (targets' view, blocks' view), made the first time it
  // is shown: nothing in the world moves but the head, so a view change is a
  // copy and a step without one costs nothing.
  const std::vector<unsigned char> &composed(View targets, View blocks);
  void draw_targets(std::vector<unsigned char> &image, View view) const;
  void draw_blocks(std::vector<unsigned char> &image, View view) const;

  int width_;
  int height_;
  std::vector<Target> targets_;
  std::vector<Block> blocks_;
  std::array<std::vector<unsigned char>, 9> cache_;
  std::vector<unsigned char> pixels_;
  View target_view_ = View::forward;
  View block_view_ = View::forward;
};

}  // namespace sim
