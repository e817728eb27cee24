// What a run did, for people and for tools: report.json and the summary line
// on stderr.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/record/outputs.h"
#include "sim/record/recorder.h"

namespace sim {

// report.json: the run's settings, every placement, what each reach did, and
// how many reaches hit each target.
std::string report_json(const RunRecord &run);

// Writes report.json when the run ends.
class ReportRecorder final : public Recorder {
 public:
  explicit ReportRecorder(const OutputSink &outputs) : outputs_(outputs) {}
  void on_end(const RunRecord &run) override;

 private:
  const OutputSink &outputs_;
};

// One line for stderr, e.g. "sim: 600 steps, 5 reaches, 5 on target, 3.7 mm
// from the centre on average; target 1 never reached".
std::string summary_line(const RunRecord &run);

}  // namespace sim
