// When the controller's camera first showed each target: the first image it
// fetched in which pixels of the target's exact colour see ground within the
// disc. Told from the images alone, whatever the controller made of them.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "sim/core/engine.h"
#include "sim/core/geometry.h"
#include "sim/core/world_config.h"

namespace sim {

struct Sighting {
  std::int64_t step = 0;  // steps done when the image was fetched
  View side = View::forward;
};

class TargetSightings {
 public:
  explicit TargetSightings(std::vector<Target> targets);
  // An image the controller fetched (width x height x 3 bytes, red first),
  // with the engine whose camera took it for the ground each pixel sees.
  void fetched(std::int64_t step, View side, const unsigned char *rgb, int width, int height,
               const Engine &engine);
  // Per target, in world-file order: the first sighting, if any.
  const std::vector<std::optional<Sighting>> &first() const { return first_; }

 private:
  std::vector<Target> targets_;
  std::vector<std::optional<Sighting>> first_;
  std::size_t unseen_;
};

}  // namespace sim
