// What the simulator's process of its own costs the controller: a step's
// round trip through the controller library (the call logged, the simulator
// woken, the world stepped, the answer back), and the stand-in's step rate
// under the controller's rhythm in this process and through the library, on
// one world, so their ratio is what the second process costs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <vector>

#include "bench/library_world.h"
#include "controller_api/controller.h"
#include "sim/world/world.h"
#include "sim/world/world_file.h"

namespace {

constexpr DeviceTag pan_tag = 15;
constexpr std::array<DeviceTag, 3> right_leg_tags{8, 9, 10};

void BM_library_step_round_trip(benchmark::State &state) {
  if (!bench::library_simulator_started()) {
    state.SkipWithError("the simulator could not be started");
    return;
  }
  robot_step(32);  // the link is made at the first call, outside the timing
  std::vector<double> microseconds;
  microseconds.reserve(1 << 20);
  for (auto _ : state) {
    const auto before = std::chrono::steady_clock::now();
    robot_step(32);
    const auto after = std::chrono::steady_clock::now();
    if (microseconds.size() < microseconds.capacity())
      microseconds.push_back(std::chrono::duration<double, std::micro>(after - before).count());
  }
  std::sort(microseconds.begin(), microseconds.end());
  const auto at = [&](double share) {
    return microseconds[static_cast<std::size_t>(share *
                                                 static_cast<double>(microseconds.size() - 1))];
  };
  if (!microseconds.empty()) {
    state.counters["p50_us"] = at(0.50);
    state.counters["p99_us"] = at(0.99);
  }
}
BENCHMARK(BM_library_step_round_trip)->UseRealTime();

// The controller's rhythm: a new head pose every 21 steps and the right leg
// between rest and a reach every 42, as sim_bench's SimStepsPerSecond.
template <typename SetPosition, typename Step>
std::int64_t play_rhythm(benchmark::State &state, SetPosition set_position, Step step) {
  constexpr std::array<float, 4> pans{0.4f, 0.0f, -0.4f, 0.0f};
  constexpr std::array<std::array<float, 3>, 2> leg_poses{
      {{-0.76679f, 0.0f, 1.476161f}, {-0.4f, -0.09f, 1.2f}}};
  std::int64_t steps = 0;
  for (auto _ : state) {
    if (steps % 21 == 0) set_position(pan_tag, pans[static_cast<std::size_t>((steps / 21) % 4)]);
    if (steps % 42 == 0) {
      const auto &pose = leg_poses[static_cast<std::size_t>((steps / 42) % 2)];
      for (std::size_t j = 0; j < 3; ++j) set_position(right_leg_tags[j], pose[j]);
    }
    step();
    ++steps;
  }
  state.SetItemsProcessed(steps);
  return steps;
}

void SimStepsInThisProcess(benchmark::State &state) {
  sim::World world(sim::load_world_file(bench::library_world_file()), "");
  play_rhythm(
      state, [&](DeviceTag tag, float position) { world.set_position(tag, position); },
      [&] { benchmark::DoNotOptimize(world.step(32)); });
}
BENCHMARK(SimStepsInThisProcess)->UseRealTime();

void SimStepsThroughTheLibrary(benchmark::State &state) {
  if (!bench::library_simulator_started()) {
    state.SkipWithError("the simulator could not be started");
    return;
  }
  play_rhythm(
      state, [](DeviceTag tag, float position) { servo_set_position(tag, position); },
      [] { benchmark::DoNotOptimize(robot_step(32)); });
}
BENCHMARK(SimStepsThroughTheLibrary)->UseRealTime();

}  // namespace
