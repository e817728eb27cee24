#include "sim/report.h"

#include <cmath>
#include <cstdio>

#include "sim/legs.h"

namespace sim {

Placement place(std::int64_t step, int leg, Vec3 foot, const std::vector<Target> &targets) {
  Placement placement{step, leg, foot, std::nullopt, std::nullopt};
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const double distance = std::hypot(foot.x - targets[i].x, foot.y - targets[i].y);
    if (distance <= targets[i].radius) {
      placement.target = static_cast<int>(i);
      placement.distance = distance;
      break;
    }
  }
  return placement;
}

void PlacementWatch::after_step(std::int64_t step, const Engine &engine,
                                const std::vector<Target> &targets) {
  for (std::size_t i = 0; i < still_.size(); ++i) {
    const int leg = reaching_legs[i];
    const Foot foot = engine.foot(leg);
    if (!foot.still || !foot.on_ground) {
      still_[i] = 0;
      continue;
    }
    // Counting stops at the threshold, so a long rest gives one placement.
    if (still_[i] == rest_steps) continue;
    if (++still_[i] == rest_steps) placements_.push_back(place(step, leg, foot.position, targets));
  }
}

namespace {
// Micrometres are plenty for a foot, and fixed decimals read well.
std::string metres(double value) {
  if (std::abs(value) < 5e-7) value = 0.0;  // no "-0.000000"
  char text[40];
  std::snprintf(text, sizeof text, "%.6f", value);
  return text;
}
}  // namespace

std::string report_json(std::int64_t steps, const std::vector<Placement> &placements) {
  std::string out = "{\"steps\": " + std::to_string(steps) + ", \"placements\": [";
  for (std::size_t i = 0; i < placements.size(); ++i) {
    const Placement &p = placements[i];
    out += i == 0 ? "\n  " : ",\n  ";
    out += "{\"step\": " + std::to_string(p.step) + ", \"leg\": " + std::to_string(p.leg) +
           ", \"foot\": [" + metres(p.foot.x) + ", " + metres(p.foot.y) + ", " + metres(p.foot.z) +
           "], \"target\": " + (p.target ? std::to_string(*p.target) : std::string("null")) +
           ", \"distance\": " + (p.distance ? metres(*p.distance) : std::string("null")) + "}";
  }
  out += placements.empty() ? "]}\n" : "\n]}\n";
  return out;
}

std::string summary_line(std::int64_t steps, const std::vector<Placement> &placements) {
  int on_target = 0;
  double total = 0.0;
  for (const Placement &p : placements) {
    if (!p.target) continue;
    ++on_target;
    total += *p.distance;
  }
  std::string line = "sim: " + std::to_string(steps) + " steps, " +
                     std::to_string(placements.size()) + " placements, " +
                     std::to_string(on_target) + " on target";
  if (on_target > 0) {
    char mean[64];
    std::snprintf(mean, sizeof mean, ", %.1f mm from the centre on average",
                  1000.0 * total / on_target);
    line += mean;
  }
  return line;
}

}  // namespace sim
