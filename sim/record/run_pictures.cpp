#include "sim/record/run_pictures.h"

#include <cerrno>
#include <cmath>
#include <string>

#include "sim/draw/joint_plot.h"
#include "sim/draw/top_view.h"
#include "sim/system/files.h"

namespace sim {

void TopViewRecorder::on_end(const RunRecord &run) {
  errno = 0;
  const bool written = write_top_view(outputs_.partial("top_view.png"), run.world, run.placements,
                                      run.reaches, run.torso_footprint);
  outputs_.complete("top_view.png", written ? std::string() : last_system_reason());
}

void JointPlotRecorder::on_step(const StepEvent &step) {
  JointHistory::Sample commanded{};
  JointHistory::Sample at{};
  for (std::size_t i = 0; i < plotted_joints.size(); ++i) {
    const int joint = plotted_joints[i];
    commanded[i] =
        step.set_points.given(joint) ? static_cast<float>(step.set_points.value(joint)) : NAN;
    at[i] = static_cast<float>(step.engine.position(joint));
  }
  history_.add(step.step, commanded, at);
  history_.add_torso(step.step, step.engine.torso());
}

void JointPlotRecorder::on_reach_start(const Reach &reach) {
  // Marked at the step it began with, the first one its set-points act on.
  history_.mark_reach(reach.start_step + 1);
}

void JointPlotRecorder::on_end(const RunRecord & /*run*/) {
  errno = 0;
  const bool written = write_joint_plot(outputs_.partial("joints.png"), history_);
  outputs_.complete("joints.png", written ? std::string() : last_system_reason());
}

}  // namespace sim
