#include "sim/camera.h"

#include <algorithm>

namespace sim {

Camera::Camera(const WorldConfig &world)
    : width_(world.camera_width),
      height_(world.camera_height),
      blocks_(world.blocks),
      pixels_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 3u) {
  render(View::forward);
}

void Camera::update(const Joints &joints) {
  // Scripted blocks follow the pan joint's last command, so a test image
  // appears exactly when the controller has asked to look at that side.
  View view = View::forward;
  if (joints.has_set_point(head_pan_joint)) {
    const double pan = joints.set_point(head_pan_joint);
    if (pan > 0.0) view = View::left;
    if (pan < 0.0) view = View::right;
  }
  if (!rendered_ || view != view_) render(view);
}

void Camera::render(View view) {
  view_ = view;
  rendered_ = true;
  for (std::size_t i = 0; i < pixels_.size(); i += 3)
    std::copy(floor_color.begin(), floor_color.end(), pixels_.begin() + static_cast<long>(i));
  if (view == View::forward) return;
  for (const Block &block : blocks_) {
    if (block.left != (view == View::left)) continue;
    const int right = std::min(width_, block.x + block.width);
    const int bottom = std::min(height_, block.y + block.height);
    for (int v = block.y; v < bottom; ++v)
      for (int u = block.x; u < right; ++u) {
        const std::size_t at = (static_cast<std::size_t>(v) * static_cast<std::size_t>(width_) +
                                static_cast<std::size_t>(u)) *
                               3u;
        std::copy(block.color.begin(), block.color.end(), pixels_.begin() + static_cast<long>(at));
      }
  }
}

}  // namespace sim
