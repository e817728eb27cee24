// What a run did, for people and for tools: report.json and the summary line
// on stderr.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/config.h"
#include "sim/reaches.h"
#include "sim/report.h"

namespace sim {

// A length for a report: rounded to the micrometre, which is plenty for a
// foot or a target and prints as few digits as it needs ("0.038", not
// "0.038000000000000006"), and never -0.
double report_metres(double value);

struct RunRecord {
  const WorldConfig &world;
  std::int64_t steps_done = 0;
  bool interrupted = false;  // ended before its steps were done
  const std::vector<Placement> &placements;
  const std::vector<Reach> &reaches;
};

// report.json: the run's settings, every placement, what each reach did, and
// how many reaches hit each target.
std::string report_json(const RunRecord &run);

// One line for stderr, e.g. "sim: 600 steps, 5 reaches, 5 on target, 3.7 mm
// from the centre on average; target 1 never reached".
std::string summary_line(const RunRecord &run);

}  // namespace sim
