#include "sim/observe/target_sightings.h"

#include <cmath>

namespace sim {

namespace {
// The physics camera's fit puts a pixel's ground up to 2.3 mm from where the
// calibration says; a pixel of a disc's colour this close to its rim is that
// disc's.
constexpr double rim_tolerance = 0.003;  // metres
}  // namespace

TargetSightings::TargetSightings(std::vector<Target> targets)
    : targets_(std::move(targets)), first_(targets_.size()), unseen_(targets_.size()) {}

void TargetSightings::fetched(std::int64_t step, View side, const unsigned char *rgb, int width,
                              int height, const Engine &engine) {
  if (unseen_ == 0 || rgb == nullptr) return;
  for (int v = 0; v < height && unseen_ > 0; ++v)
    for (int u = 0; u < width && unseen_ > 0; ++u) {
      const unsigned char *pixel =
          rgb + (static_cast<std::size_t>(v) * static_cast<std::size_t>(width) +
                 static_cast<std::size_t>(u)) *
                    3u;
      std::optional<Vec2> ground;
      for (std::size_t i = 0; i < targets_.size(); ++i) {
        const Target &t = targets_[i];
        if (first_[i] || pixel[0] != t.color[0] || pixel[1] != t.color[1] || pixel[2] != t.color[2])
          continue;
        if (!ground) ground = engine.ground_seen(u, v);
        if (!ground) break;
        if (std::hypot(ground->x - t.x, ground->y - t.y) > t.radius + rim_tolerance) continue;
        first_[i] = Sighting{step, side};
        --unseen_;
      }
    }
}

}  // namespace sim
