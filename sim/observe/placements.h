// Where the reaching feet came to rest: the placements.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/core/engine.h"
#include "sim/core/geometry.h"
#include "sim/core/world_config.h"

namespace sim {

// A front foot come to rest on the ground.
struct Placement {
  std::int64_t step = 0;           // steps done when it was seen at rest
  int leg = 0;                     // 0 or 2
  Vec3 foot;                       // body frame, metres
  std::optional<int> target;       // index of the first disc containing the foot
  std::optional<double> distance;  // from that disc's centre, metres
};

// A foot is placed when it has been on the ground and still for this many
// steps in a row.
inline constexpr int rest_steps = 10;

// Which disc, if any, holds a foot (the first in file order), and how far
// from its centre.
Placement place(std::int64_t step, int leg, Vec3 foot, const std::vector<Target> &targets);

// Watches the two reaching legs step by step and records one placement per
// rest period of a foot on the ground.
class PlacementWatch {
 public:
  void after_step(std::int64_t step, const Engine &engine, const std::vector<Target> &targets);
  const std::vector<Placement> &placements() const { return placements_; }

 private:
  std::array<int, 2> still_{};  // steps still on the ground, per reaching leg
  std::vector<Placement> placements_;
};

}  // namespace sim
