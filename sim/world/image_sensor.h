// The camera's sensor as a real one differs from the model's exact colours:
// every level scaled by a gain, then Gaussian noise, rounded to the nearest
// level and clipped to 0..255. The noise is drawn afresh for every image,
// from a stream the world's seed fixes, so the same world gives the same
// images on every run.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "sim/core/random_stream.h"

namespace sim {

class ImageSensor {
 public:
  ImageSensor(double gain, double noise, std::int64_t seed);
  // Whether the sensor changes anything: gain 1 and no noise leave the
  // engine's image exactly as drawn.
  bool active() const { return gain_ != 1.0 || noise_ > 0.0; }
  // Whether every image differs from the last, even of an unchanged scene.
  bool noisy() const { return noise_ > 0.0; }
  // The sensor's reading of a scene's levels, in place.
  void apply(std::span<unsigned char> levels);

 private:
  double gain_;
  double noise_;
  std::array<unsigned char, 256> scaled_{};  // each level times the gain, rounded and clipped
  RandomStream random_;
};

}  // namespace sim
