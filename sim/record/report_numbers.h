// Numbers as the stand-in's reports write them.
#pragma once

#include <cmath>
#include <nlohmann/json.hpp>
#include <optional>

namespace sim {

// A length for a report: rounded to the micrometre, which is plenty for a
// foot or a target and prints as few digits as it needs ("0.038", not
// "0.038000000000000006"), and never -0.
inline double report_metres(double value) {
  const double rounded = std::round(value * 1e6) / 1e6;
  return rounded == 0.0 ? 0.0 : rounded;  // no "-0.0"
}

// An angle to the microradian, and a force to the millinewton.
inline double report_radians(double value) { return std::round(value * 1e6) / 1e6; }
inline double report_newtons(double value) { return std::round(value * 1e3) / 1e3; }

// A number that may be missing: rounded by `round`, or null.
inline nlohmann::ordered_json rounded_or_null(const std::optional<double> &value,
                                              double (*round)(double)) {
  return value ? nlohmann::ordered_json(round(*value)) : nlohmann::ordered_json(nullptr);
}
inline nlohmann::ordered_json optional_metres(const std::optional<double> &value) {
  return rounded_or_null(value, report_metres);
}

}  // namespace sim
