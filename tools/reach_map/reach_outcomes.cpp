#include "tools/reach_map/reach_outcomes.h"

#include <algorithm>
#include <cmath>

namespace sim::reach_map {

namespace {

std::optional<double> median(std::vector<double> values) {
  if (values.empty()) return std::nullopt;
  std::sort(values.begin(), values.end());
  const std::size_t half = values.size() / 2;
  return values.size() % 2 == 1 ? values[half] : (values[half - 1] + values[half]) / 2.0;
}

std::optional<double> worst(const std::vector<double> &values) {
  if (values.empty()) return std::nullopt;
  return *std::max_element(values.begin(), values.end());
}

}  // namespace

Summary summarise(const std::vector<Outcome> &outcomes) {
  Summary summary;
  std::vector<double> misses, clean_misses, clean_errors, clean_offsets;
  for (const Outcome &o : outcomes) {
    ++summary.points;
    summary.well_inside += o.well_inside;
    summary.well_inside_hit += o.well_inside && o.hit();
    if (o.torso_tilt)
      summary.torso_tilt_worst = std::max(summary.torso_tilt_worst.value_or(0.0), *o.torso_tilt);
    if (o.foot_force)
      summary.foot_force_worst = std::max(summary.foot_force_worst.value_or(0.0), *o.foot_force);
    if (!o.seen || !o.leg) continue;
    SideCounts &side = *o.leg == 0 ? summary.left : summary.right;
    ++side.seen;
    if (o.reach == ReachOutcome::no_contact) ++side.no_contact;
    if (!o.reached()) continue;
    ++side.reached;
    if (o.hit()) ++side.hit;
    misses.push_back(*o.miss);
    if (!o.in_reach) continue;
    ++summary.clean_reaches;
    clean_misses.push_back(*o.miss);
    if (o.error) clean_errors.push_back(*o.error);
    if (o.window_ground)
      clean_offsets.push_back(
          std::hypot(o.window_ground->x - o.point.x, o.window_ground->y - o.point.y));
  }
  summary.miss_median = median(misses);
  summary.miss_worst = worst(misses);
  summary.clean_miss_worst = worst(clean_misses);
  summary.clean_error_worst = worst(clean_errors);
  summary.clean_aim_offset_worst = worst(clean_offsets);
  return summary;
}

}  // namespace sim::reach_map
