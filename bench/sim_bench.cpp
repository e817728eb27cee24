// The stand-in's step rate: how many simulation steps a second the world
// takes with a 160 x 160 camera while the head swings and a leg reaches.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <limits>

#include "sim/camera.h"
#include "sim/config.h"
#include "sim/kinematic/engine.h"
#include "sim/world.h"

namespace {

constexpr std::uint8_t pan_tag = 15;
constexpr std::array<std::uint8_t, 3> right_leg_tags{8, 9, 10};

sim::WorldConfig bench_world(sim::EngineKind engine = sim::EngineKind::kinematic) {
  sim::WorldConfig config = sim::default_world();
  config.engine = engine;
  config.steps = std::numeric_limits<std::int64_t>::max();
  config.camera_width = 160;
  config.camera_height = 160;
  return config;
}

// The controller's rhythm: a new head pose every 21 steps (left, ahead,
// right, ahead), and the right leg between rest and a reach every 42, so the
// image changes view and the placement watch sees moves and rests.
void run_controller_rhythm(benchmark::State &state, sim::EngineKind engine) {
  sim::World world(bench_world(engine), "");
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
  benchmark::DoNotOptimize(world.camera().image()[0]);
  state.SetItemsProcessed(steps);
}

void SimStepsPerSecond(benchmark::State &state) {
  run_controller_rhythm(state, sim::EngineKind::kinematic);
}
BENCHMARK(SimStepsPerSecond);

// The physics engine: 16 substeps of 2 ms and a 160 x 160 camera image
// rendered offscreen in software at every step.
void SimPhysicsStepsPerSecond(benchmark::State &state) {
  run_controller_rhythm(state, sim::EngineKind::physics);
}
BENCHMARK(SimPhysicsStepsPerSecond)->Unit(benchmark::kMicrosecond);

// What the first look to a side costs: rendering a side view from scratch.
void SimFirstSideViewRender(benchmark::State &state) {
  const sim::WorldConfig config = bench_world();
  sim::SetPoints set_points;
  set_points.set(sim::head_pan_joint, 0.4);
  for (auto _ : state) {
    sim::KinematicEngine engine(config);
    sim::Camera camera(config);
    engine.advance(set_points);
    engine.advance(set_points);
    camera.update(engine, set_points);
    benchmark::DoNotOptimize(camera.image()[0]);
  }
}
BENCHMARK(SimFirstSideViewRender);

}  // namespace
