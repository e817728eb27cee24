// The stand-in's step rate while it writes its outputs: the world of
// SimStepsPerSecond (sim_bench.cpp), driven the same way, but with an output
// folder, so every library call is also a line of trace.jsonl. The ratio of
// the two rates is what the trace costs.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>

#include "sim/config.h"
#include "sim/world.h"

namespace {

constexpr std::uint8_t pan_tag = 15;
constexpr std::array<std::uint8_t, 3> right_leg_tags{8, 9, 10};

sim::WorldConfig bench_world() {
  sim::WorldConfig config = sim::default_world();
  config.engine = sim::EngineKind::kinematic;
  // The trace alone: the state log has a benchmark of its own.
  config.write_state = false;
  config.write_pictures = false;
  config.steps = std::numeric_limits<std::int64_t>::max();
  config.camera_width = 160;
  config.camera_height = 160;
  return config;
}

// A folder of its own for one run's outputs, removed with everything in it.
class TemporaryFolder {
 public:
  TemporaryFolder()
      : path_(std::filesystem::temp_directory_path() /
              ("reacher_trace_bench_" + std::to_string(getpid()))) {
    std::filesystem::create_directories(path_);
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TemporaryFolder(const TemporaryFolder &) = delete;
  TemporaryFolder &operator=(const TemporaryFolder &) = delete;
  std::string path() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

// The same head poses and leg motions as SimStepsPerSecond; one trace line per
// step, and one per set-point given.
void SimStepsPerSecondWithTrace(benchmark::State &state) {
  const TemporaryFolder folder;
  sim::World world(bench_world(), folder.path());
  constexpr std::array<float, 4> pans{0.4f, 0.0f, -0.4f, 0.0f};
  constexpr std::array<std::array<float, 3>, 2> leg_poses{
      {{-0.76679f, 0.0f, 1.476161f}, {-0.4f, -0.09f, 1.2f}}};
  std::int64_t steps = 0;
  for (auto _ : state) {
    if (steps % 21 == 0) world.set_position(pan_tag, pans[(steps / 21) % 4]);
    if (steps % 42 == 0) {
      const auto &pose = leg_poses[(steps / 42) % 2];
      for (std::size_t j = 0; j < 3; ++j) world.set_position(right_leg_tags[j], pose[j]);
    }
    benchmark::DoNotOptimize(world.step(1));
    ++steps;
  }
  state.SetItemsProcessed(steps);
}
BENCHMARK(SimStepsPerSecondWithTrace);

}  // namespace
