// The run's pictures as recorders: top_view.png, drawn from the placements
// when the run ends, and joints.png, from the joints' history step by step.
#pragma once

#include <cstdint>

#include "sim/observe/joint_history.h"
#include "sim/record/outputs.h"
#include "sim/record/recorder.h"

namespace sim {

class TopViewRecorder final : public Recorder {
 public:
  explicit TopViewRecorder(const OutputSink &outputs) : outputs_(outputs) {}
  void on_end(const RunRecord &run) override;

 private:
  const OutputSink &outputs_;
};

class JointPlotRecorder final : public Recorder {
 public:
  JointPlotRecorder(const OutputSink &outputs, std::int64_t total_steps, double seconds_per_step,
                    const JointHistory::Ranges &ranges)
      : outputs_(outputs), history_(total_steps, seconds_per_step, ranges) {}
  void on_step(const StepEvent &step) override;
  void on_reach_start(const Reach &reach) override;
  void on_end(const RunRecord &run) override;

 private:
  const OutputSink &outputs_;
  JointHistory history_;
};

}  // namespace sim
