// The stand-in's step rate: how many simulation steps a second the world
// takes with a 160 x 160 camera while the head swings and a leg reaches, with
// and without its trace.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>

#include "sim/engines/kinematic/kinematic_engine.h"
#include "sim/world/camera_device.h"
#include "sim/world/world.h"
#include "sim/world/world_file.h"

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
void run_controller_rhythm(benchmark::State &state, const sim::WorldConfig &config,
                           const std::string &output_folder) {
  sim::World world(config, output_folder);
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

void SimStepsPerSecond(benchmark::State &state) { run_controller_rhythm(state, bench_world(), ""); }
BENCHMARK(SimStepsPerSecond);

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

// The same world and calls with an output folder, so every library call is
// also a line of trace.jsonl: the ratio of the two rates is what the trace
// costs. The state log and the pictures stay off, so the trace is measured
// alone.
void SimStepsPerSecondWithTrace(benchmark::State &state) {
  const TemporaryFolder folder;
  sim::WorldConfig config = bench_world();
  config.write_state = false;
  config.write_pictures = false;
  run_controller_rhythm(state, config, folder.path());
}
BENCHMARK(SimStepsPerSecondWithTrace);

// One cycle of the controller's calls on one side, as it makes them: the
// rest posture, a search that sweeps away and looks back, the head turn and
// the joint-by-joint reach to that side's disc of the default world, then
// its wait: 119 steps.
void play_a_cycle(sim::World &world, bool left) {
  constexpr std::uint8_t tilt_tag = 14, second_tilt_tag = 16;
  constexpr std::array<std::array<std::uint8_t, 3>, 2> legs{{{2, 3, 4}, {8, 9, 10}}};
  constexpr std::array<float, 3> rest{-0.76679f, 0.0f, 1.476161f};
  // The set-points the controller gives for the default world's discs.
  constexpr std::array<std::array<float, 3>, 2> reach{
      {{-0.3517099f, -0.119698115f, 1.2720519f}, {-0.3459053f, -0.05536889f, 1.2803061f}}};
  const auto head = [&](float pan, float tilt, float second_tilt) {
    for (int round = 0; round < 7; ++round) {
      world.set_position(pan_tag, pan);
      world.step(32);
      world.set_position(tilt_tag, tilt);
      world.step(32);
      world.set_position(second_tilt_tag, second_tilt);
      world.step(32);
    }
  };
  for (const auto &leg : legs)
    for (int round = 0; round < 7; ++round) {
      world.step(32);
      world.set_position(leg[2], rest[2]);
      world.set_position(pan_tag, 0.0f);
      world.set_position(leg[1], rest[1]);
      world.set_position(leg[0], rest[0]);
    }
  const float side = left ? 0.4f : -0.4f;
  head(-side, -1.24f, -0.26f);
  world.step(32);
  head(side, -1.24f, -0.26f);
  head(side, left ? -1.24f : -8.35f, left ? -0.26f : -0.2f);
  const auto &leg = legs[left ? 0 : 1];
  const auto &target = reach[left ? 0 : 1];
  for (const int joint : {2, 1, 0})
    for (int round = 0; round < 7; ++round) {
      world.step(32);
      world.set_position(leg[static_cast<std::size_t>(joint)],
                         target[static_cast<std::size_t>(joint)]);
    }
  for (int round = 0; round < 20; ++round) world.step(32);
}

// The physics engine under the controller's own rhythm: the robot standing
// on its paws (or on a stand), 16 substeps of 2 ms a step, and the 160 x 160
// camera redrawn whenever anything in its view moved. Steps per second of
// wall-clock time.
void physics_cycles(benchmark::State &state, sim::Torso torso) {
  sim::WorldConfig config = bench_world(sim::EngineKind::physics);
  config.torso = torso;
  sim::World world(config, "");
  constexpr int cycle_steps = 119;
  std::int64_t cycles = 0;
  for (auto _ : state) play_a_cycle(world, ++cycles % 2 == 0);
  state.SetItemsProcessed(cycles * cycle_steps);
}

void SimPhysicsStepsPerSecond(benchmark::State &state) { physics_cycles(state, sim::Torso::free); }
BENCHMARK(SimPhysicsStepsPerSecond)->Unit(benchmark::kMillisecond)->UseRealTime();

void SimPhysicsStepsPerSecondOnAStand(benchmark::State &state) {
  physics_cycles(state, sim::Torso::fixed);
}
BENCHMARK(SimPhysicsStepsPerSecondOnAStand)->Unit(benchmark::kMillisecond)->UseRealTime();

// What the first look to a side costs: rendering a side view from scratch.
void SimFirstSideViewRender(benchmark::State &state) {
  const sim::WorldConfig config = bench_world();
  sim::SetPoints set_points;
  set_points.set(sim::head_pan_joint, 0.4);
  for (auto _ : state) {
    sim::KinematicEngine engine(config);
    sim::CameraDevice camera(config);
    engine.advance(set_points);
    engine.advance(set_points);
    camera.update(engine, set_points);
    benchmark::DoNotOptimize(camera.image()[0]);
  }
}
BENCHMARK(SimFirstSideViewRender);

// The same with a world's most discs (1000) on the largest camera, all behind
// the robot where no view sees them (argument 0) or all before it in the left
// view (argument 1): discs out of view cost next to nothing.
void SimFirstSideViewRenderOfTheMostDiscs(benchmark::State &state) {
  sim::WorldConfig config = bench_world();
  config.camera_width = config.camera_height = 1024;
  for (int i = 0; i < 1000; ++i) {
    const double x = state.range(0) == 0 ? -0.5 - 0.001 * i : 0.01 + 0.004 * (i % 30);
    config.targets.push_back({x, 0.01 + 0.004 * (i / 30), 0.002, {214, 30, 30}});
  }
  sim::SetPoints set_points;
  set_points.set(sim::head_pan_joint, 0.4);
  for (auto _ : state) {
    sim::KinematicEngine engine(config);
    sim::CameraDevice camera(config);
    engine.advance(set_points);
    engine.advance(set_points);
    camera.update(engine, set_points);
    benchmark::DoNotOptimize(camera.image()[0]);
  }
}
BENCHMARK(SimFirstSideViewRenderOfTheMostDiscs)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
