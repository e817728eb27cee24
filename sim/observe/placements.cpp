#include "sim/observe/placements.h"

#include <cmath>

#include "sim/core/legs.h"

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

}  // namespace sim
