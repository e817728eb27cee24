#include "sim/world/image_sensor.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {

unsigned char level(double value) {
  return static_cast<unsigned char>(std::clamp(std::floor(value + 0.5), 0.0, 255.0));
}

// Distinct seeds for distinct random factors of one world: the camera's
// noise is the first.
constexpr std::uint64_t camera_noise_stream = 0x63616d6572616e31ull;

}  // namespace

ImageSensor::ImageSensor(double gain, double noise, std::int64_t seed)
    : gain_(gain), noise_(noise), random_(static_cast<std::uint64_t>(seed) ^ camera_noise_stream) {
  for (std::size_t i = 0; i < scaled_.size(); ++i)
    scaled_[i] = level(gain_ * static_cast<double>(i));
}

void ImageSensor::apply(std::span<unsigned char> levels) {
  if (!noisy()) {
    for (unsigned char &value : levels) value = scaled_[value];
    return;
  }
  for (unsigned char &value : levels)
    value = level(gain_ * static_cast<double>(value) + noise_ * random_.normal());
}

}  // namespace sim
