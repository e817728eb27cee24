// The world the benchmarks that go through the controller library run in,
// and the simulator serving it. A benchmark process is a controller that
// must stay itself, so it starts the simulator as its child the way a
// simulator hands a controller its link (SIM_CHANNEL), before the first
// library call. The kinematic engine, red in both views where each side's
// tables give a reachable target, so that every call of the step function is
// a whole cycle; no outputs, so no trace is written.
#pragma once

#include <cstdint>
#include <string>

namespace bench {

inline constexpr std::int64_t library_world_steps = 100'000'000;  // the largest run allowed

// The world file, made once.
const std::string &library_world_file();
// Starts the simulator for this process; false if it could not.
bool library_simulator_started();

}  // namespace bench
