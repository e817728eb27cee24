#include "sim/engines/physics/step_floor.h"

#include <mujoco/mujoco.h>

#include <cmath>
#include <ctime>

#include "sim/core/errors.h"

namespace sim {

namespace {
double process_seconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}
}  // namespace

double step_floor_seconds(const std::string &model_file, long world_steps, double world_step_s) {
  char error[1000] = "";
  mjModel *model = mj_loadXML(model_file.c_str(), nullptr, error, sizeof error);
  if (model == nullptr) throw RunError(model_file + ": " + error);
  mjData *data = mj_makeData(model);
  if (model->nkey > 0) mj_resetDataKeyframe(model, data, 0);
  mj_forward(model, data);
  for (int a = 0; a < model->nu; ++a)
    data->ctrl[a] = data->qpos[model->jnt_qposadr[model->actuator_trnid[2 * a]]];
  const long substeps = world_steps * std::lround(world_step_s / model->opt.timestep);
  const double before = process_seconds();
  for (long i = 0; i < substeps; ++i) mj_step(model, data);
  const double took = process_seconds() - before;
  mj_deleteData(data);
  mj_deleteModel(model);
  return took;
}

}  // namespace sim
