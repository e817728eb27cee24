// Numbers as the stand-in's reports write them.
#pragma once

#include <cmath>

namespace sim {

// A length for a report: rounded to the micrometre, which is plenty for a
// foot or a target and prints as few digits as it needs ("0.038", not
// "0.038000000000000006"), and never -0.
inline double report_metres(double value) {
  const double rounded = std::round(value * 1e6) / 1e6;
  return rounded == 0.0 ? 0.0 : rounded;  // no "-0.0"
}

}  // namespace sim
