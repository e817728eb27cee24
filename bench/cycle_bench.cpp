// One whole cycle of the controller: its own work alone (two counts, one
// window search, a look-up and three solves), and the real step function
// running a cycle under the stand-in library.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_images.h"
#include "bench/library_world.h"
#include "controller_api/controller.h"
#include "kinematics/leg_ik.h"
#include "reacher/reacher.h"
#include "vision/red_measures.h"
#include "vision/target_tables.h"

namespace {

constexpr int32_t side = 160;         // pixels, the camera the tables were made for
constexpr int32_t cycle_steps = 119;  // rest 14, search 43, head turn 21, reach 41
constexpr int64_t world_steps = bench::library_world_steps;

// What one cycle computes, in the order the step function does it: two rest
// solves, the search's count, the reach's count of its square view, the window
// search, the look-up and the reach's solve. The window sits where the right
// side's tables give a target within reach, so no solve prints.
void BM_controller_work_of_one_cycle(benchmark::State &state) {
  const std::vector<unsigned char> image = bench::floor_with_window(side, side, 77, 77);
  for (auto _ : state) {
    xd = 0.0f;
    yd = 0.0f;
    zd = rest_zd;
    solve_leg_ik();
    solve_leg_ik();
    benchmark::DoNotOptimize(count_red_pixels(image.data(), side, side, side));
    benchmark::DoNotOptimize(count_red_pixels(image.data(), side, side, side));
    const TargetWindow window = find_target_window(image.data(), side, side);
    if (window.found) lookup_target(1, window.x, window.y);
    solve_leg_ik();
    benchmark::DoNotOptimize(joint0_setpoint());
    benchmark::DoNotOptimize(joint2_setpoint());
  }
}
BENCHMARK(BM_controller_work_of_one_cycle)->Unit(benchmark::kMicrosecond);

// The simulator is started before main, so that the library finds it at
// its first call.
const bool stand_in_configured = bench::library_simulator_started();

// The stand-in prints the console on stdout; it goes to /dev/null while a
// benchmark runs and comes back before the results are reported.
class QuietStdout {
 public:
  QuietStdout() {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    close(null);
  }
  ~QuietStdout() {
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }
  QuietStdout(const QuietStdout &) = delete;
  QuietStdout &operator=(const QuietStdout &) = delete;

 private:
  int saved_;
};

void BM_whole_cycle_under_stand_in(benchmark::State &state) {
  static int64_t cycles_run = 0;
  static bool started = false;
  if (!stand_in_configured) state.SkipWithError("no world for the stand-in");
  // The stand-in ends the process when its steps run out.
  if ((cycles_run + static_cast<int64_t>(state.max_iterations) + 1) * cycle_steps >= world_steps) {
    state.SkipWithError("the stand-in's steps would run out");
    return;
  }
  QuietStdout quiet;
  if (!started) {
    robot_live(init);
    started = true;
  }
  const int32_t searches_before = e;
  for (auto _ : state) run_kinematic();
  cycles_run += static_cast<int64_t>(state.iterations());
  if (e - searches_before != static_cast<int32_t>(state.iterations()) || mode != MODE_INIT)
    state.SkipWithError("a call of the step function was not one whole cycle");
}
BENCHMARK(BM_whole_cycle_under_stand_in)->Unit(benchmark::kMicrosecond);

}  // namespace
