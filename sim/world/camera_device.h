// The head camera as the controller reads it: one image buffer at a fixed
// address, brought up to date after every step from the engine's image with
// the world's scripted blocks painted over it, as the world's sensor reads
// it (its gain and noise).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "sim/core/engine.h"
#include "sim/core/geometry.h"
#include "sim/core/world_config.h"
#include "sim/world/image_sensor.h"

namespace sim {

class CameraDevice {
 public:
  // memory, if given, holds the image instead of a buffer of the device's
  // own: width x height x 3 bytes that outlive the device.
  explicit CameraDevice(const WorldConfig &world, std::span<unsigned char> memory = {});

  int width() const { return width_; }
  int height() const { return height_; }
  // The image the controller reads; stays at one address for the whole run.
  const unsigned char *image() const { return pixels_.data(); }
  // The same before the sensor's gain and noise: what the camera looked at.
  const unsigned char *scene() const { return scene_.empty() ? image() : scene_.data(); }
  // The side the image shows: the engine's view, or else that of the blocks.
  View shown() const { return engine_view_ != View::forward ? engine_view_ : block_view_; }

  // Brings the image up to date after a step.
  void update(Engine &engine, const SetPoints &set_points);
  // Counts the changes of the image: equal counts, equal images.
  std::uint64_t generation() const { return generation_; }

 private:
  void paint_blocks(View view);
  std::size_t image_bytes() const {
    return static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 3u;
  }

  int width_;
  int height_;
  std::vector<Block> blocks_;
  ImageSensor sensor_;
  // The engine's image without blocks or the sensor, if there are any.
  std::vector<unsigned char> rendered_;
  std::vector<unsigned char> scene_;  // with the blocks, before the sensor, if there is one
  std::vector<unsigned char> own_;    // the image, unless memory was given
  std::span<unsigned char> pixels_;
  View engine_view_ = View::forward;
  View block_view_ = View::forward;
  bool first_ = true;
  std::uint64_t generation_ = 0;
};

}  // namespace sim
