#include "sim/camera.h"

#include <algorithm>
#include <optional>

namespace sim {

namespace {
std::size_t view_index(View view) { return static_cast<std::size_t>(view); }

void paint(std::vector<unsigned char> &image, std::size_t pixel,
           const std::array<std::uint8_t, 3> &color) {
  std::copy(color.begin(), color.end(), image.begin() + static_cast<long>(pixel * 3u));
}
}  // namespace

Camera::Camera(const WorldConfig &world)
    : width_(world.camera_width),
      height_(world.camera_height),
      targets_(world.targets),
      blocks_(world.blocks),
      pixels_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 3u) {
  pixels_ = composed(View::forward, View::forward);
}

void Camera::update(const Joints &joints) {
  const View targets = view_of_pan(joints.position(head_pan_joint));
  // Scripted blocks follow the pan joint's last command, so a test image
  // appears exactly when the controller has asked to look at that side.
  View blocks = View::forward;
  if (joints.has_set_point(head_pan_joint)) {
    const double pan = joints.set_point(head_pan_joint);
    if (pan > 0.0) blocks = View::left;
    if (pan < 0.0) blocks = View::right;
  }
  if (targets == target_view_ && blocks == block_view_) return;
  target_view_ = targets;
  block_view_ = blocks;
  // Copied into the one buffer: the controller keeps reading its first pointer.
  const std::vector<unsigned char> &image = composed(targets, blocks);
  std::copy(image.begin(), image.end(), pixels_.begin());
}

const std::vector<unsigned char> &Camera::composed(View targets, View blocks) {
  std::vector<unsigned char> &image = cache_[view_index(targets) * 3 + view_index(blocks)];
  if (image.empty()) {
    image.resize(pixels_.size());
    draw_targets(image, targets);
    draw_blocks(image, blocks);
  }
  return image;
}

void Camera::draw_targets(std::vector<unsigned char> &image, View view) const {
  const std::size_t count = image.size() / 3u;
  for (std::size_t pixel = 0; pixel < count; ++pixel) paint(image, pixel, floor_color);
  if (view == View::forward) return;
  for (int v = 0; v < height_; ++v) {
    for (int u = 0; u < width_; ++u) {
      const std::size_t pixel = static_cast<std::size_t>(v) * static_cast<std::size_t>(width_) +
                                static_cast<std::size_t>(u);
      const std::optional<Vec2> ground = ground_point(view, u, v);
      if (!ground) {
        paint(image, pixel, sky_color);
        continue;
      }
      // The first disc in file order wins where discs overlap.
      for (const Target &target : targets_) {
        const double dx = ground->x - target.x;
        const double dy = ground->y - target.y;
        if (dx * dx + dy * dy <= target.radius * target.radius) {
          paint(image, pixel, target.color);
          break;
        }
      }
    }
  }
}

void Camera::draw_blocks(std::vector<unsigned char> &image, View view) const {
  if (view == View::forward) return;
  for (const Block &block : blocks_) {
    if (block.left != (view == View::left)) continue;
    const int right = std::min(width_, block.x + block.width);
    const int bottom = std::min(height_, block.y + block.height);
    for (int v = block.y; v < bottom; ++v)
      for (int u = block.x; u < right; ++u)
        paint(image,
              static_cast<std::size_t>(v) * static_cast<std::size_t>(width_) +
                  static_cast<std::size_t>(u),
              block.color);
  }
}

}  // namespace sim
