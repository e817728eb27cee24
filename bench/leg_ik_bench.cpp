// One solve of the leg, over targets the tables hand out.
#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>

#include "kinematics/leg_ik.h"

namespace {

// Within reach, so the solver prints nothing and no library is called.
struct Target {
  float x, y;
};
constexpr std::array<Target, 4> targets{
    {{0.0f, 0.0f}, {0.058f, 0.009f}, {0.036f, 0.052f}, {0.010f, -0.034f}}};

void BM_solve_leg_ik(benchmark::State &state) {
  std::size_t next = 0;
  for (auto _ : state) {
    xd = targets[next].x;
    yd = targets[next].y;
    zd = rest_zd;
    solve_leg_ik();
    benchmark::DoNotOptimize(q1);
    benchmark::DoNotOptimize(q2);
    benchmark::DoNotOptimize(q3);
    next = (next + 1) % targets.size();
  }
}
BENCHMARK(BM_solve_leg_ik);

}  // namespace
