// The physics a run cannot do without: MuJoCo's own mj_step on a world's
// written model, timed alone. A benchmark sets a whole run's cost beside it.
#pragma once

#include <string>

namespace sim {

// Processor time (s) of mj_step on the model file (a run's world.xml) for as
// many substeps as `world_steps` steps of `world_step_s` seconds make, the
// robot holding its start pose. Throws RunError when the file does not load.
double step_floor_seconds(const std::string &model_file, long world_steps, double world_step_s);

}  // namespace sim
