// state.csv: one row per step, for the tools people plot with: time, every
// joint's set-point and position, both front feet and the camera's view.
#pragma once

#include <string>

#include "sim/record/outputs.h"
#include "sim/record/record_file.h"
#include "sim/record/recorder.h"

namespace sim {

class StateRecorder final : public Recorder {
 public:
  // Starts state.csv with its header. Throws RunError when it cannot be
  // written.
  explicit StateRecorder(const OutputSink &outputs);

  void on_step(const StepEvent &step) override;
  void on_end(const RunRecord &run) override;

 private:
  RecordFile file_;
};

// The header line, without its newline: the column names.
std::string state_log_header();

}  // namespace sim
