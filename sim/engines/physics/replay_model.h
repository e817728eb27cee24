// A finished run's model (the world.xml it wrote: robot, discs, floor) in the
// live window, posed from the run's records rather than simulated.
#pragma once

#include <memory>
#include <string>

#include "sim/core/live_window.h"

namespace sim {

// Throws RunError when the model cannot be compiled or has no such robot,
// or no window can be opened.
std::unique_ptr<ReplayView> open_replay_view(const std::string &model_xml);

}  // namespace sim
