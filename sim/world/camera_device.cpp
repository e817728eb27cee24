#include "sim/world/camera_device.h"

#include <algorithm>

namespace sim {

CameraDevice::CameraDevice(const WorldConfig &world, std::span<unsigned char> memory)
    : width_(world.camera_width),
      height_(world.camera_height),
      blocks_(world.blocks),
      sensor_(world.factors.gain, world.factors.noise, world.seed),
      rendered_(blocks_.empty() && !sensor_.active() ? 0u : image_bytes()),
      scene_(sensor_.active() ? image_bytes() : 0u),
      own_(memory.size() >= image_bytes() ? 0u : image_bytes()),
      pixels_(memory.size() >= image_bytes() ? memory.first(image_bytes()) : std::span(own_)) {
  std::fill(pixels_.begin(), pixels_.end(), 0);
}

void CameraDevice::update(Engine &engine, const SetPoints &set_points) {
  // Without blocks or a sensor the engine draws straight into the
  // controller's buffer; with them it draws into a clean copy, so a block
  // can be taken away again and the sensor reads the scene afresh.
  if (rendered_.empty()) {
    if (engine.render(pixels_)) ++generation_;
    engine_view_ = engine.view();
    return;
  }
  const bool rendered = engine.render(rendered_);
  engine_view_ = engine.view();
  // Scripted blocks follow the pan joint's last command, so a test image
  // appears exactly when the controller has asked to look at that side.
  View blocks = View::forward;
  if (set_points.given(head_pan_joint)) {
    const double pan = set_points.value(head_pan_joint);
    if (pan > 0.0) blocks = View::left;
    if (pan < 0.0) blocks = View::right;
  }
  // A noisy sensor's image is new at every step, however still the scene.
  if (!rendered && blocks == block_view_ && !first_ && !sensor_.noisy()) return;
  first_ = false;
  ++generation_;
  block_view_ = blocks;
  // Copied into the one buffer: the controller keeps reading its first pointer.
  std::copy(rendered_.begin(), rendered_.end(), pixels_.begin());
  paint_blocks(blocks);
  if (!sensor_.active()) return;
  std::copy(pixels_.begin(), pixels_.end(), scene_.begin());
  sensor_.apply(pixels_);
}

void CameraDevice::paint_blocks(View view) {
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
