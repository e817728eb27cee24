// What the camera's sensor costs per image: a gain is a table lookup per
// level; noise draws a Gaussian number for each of the 76,800 levels of a
// 160 x 160 image, at every step.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "sim/world/image_sensor.h"

namespace {

void SensorOnAnImage(benchmark::State &state, double gain, double noise) {
  sim::ImageSensor sensor(gain, noise, 1);
  std::vector<unsigned char> image(160u * 160u * 3u, 120);
  for (auto _ : state) {
    sensor.apply(image);
    benchmark::DoNotOptimize(image.data());
    std::fill(image.begin(), image.end(), 120);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(image.size()));
}

void SensorGain(benchmark::State &state) { SensorOnAnImage(state, 1.05, 0.0); }
void SensorNoise(benchmark::State &state) { SensorOnAnImage(state, 1.0, 2.0); }
BENCHMARK(SensorGain);
BENCHMARK(SensorNoise);

}  // namespace
