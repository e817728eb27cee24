// When the controller's camera first showed each target: the first image it
// fetched in which pixels of the target's exact colour see ground within the
// disc. Told from the images alone, whatever the controller made of them.
#pragma once

#include <array>
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
  // A person moved target i to `to`: a target not yet seen is looked for
  // there from now on.
  void moved(std::size_t i, Vec2 to);
  // Per target, in world-file order: the first sighting, if any.
  const std::vector<std::optional<Sighting>> &first() const { return first_; }

 private:
  // The unseen targets of one colour, by x, so that a pixel of that colour
  // is tested only against the discs near the ground it sees: the cost of
  // an image does not grow with discs it does not show.
  struct Unseen {
    std::array<std::uint8_t, 3> color{};
    std::vector<std::size_t> by_x;  // target indices
    double reach = 0.0;             // the largest radius among them, with the tolerance
  };
  void sort_unseen();

  std::vector<Target> targets_;
  std::vector<std::optional<Sighting>> first_;
  std::size_t unseen_;
  std::vector<Unseen> groups_;
  std::array<bool, 256> red_used_{};  // whether any group's colour has this red byte
  std::size_t sorted_for_ = 0;        // unseen_ when groups_ were made; 0: never
};

}  // namespace sim
