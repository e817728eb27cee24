#include "sim/observe/target_sightings.h"

#include <algorithm>
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

void TargetSightings::sort_unseen() {
  groups_.clear();
  red_used_.fill(false);
  for (std::size_t i = 0; i < targets_.size(); ++i) {
    if (first_[i]) continue;
    const Target &t = targets_[i];
    auto group = std::find_if(groups_.begin(), groups_.end(),
                              [&](const Unseen &g) { return g.color == t.color; });
    if (group == groups_.end()) group = groups_.insert(groups_.end(), Unseen{t.color, {}, 0.0});
    group->by_x.push_back(i);
    group->reach = std::max(group->reach, t.radius + rim_tolerance);
    red_used_[t.color[0]] = true;
  }
  for (Unseen &group : groups_)
    std::sort(group.by_x.begin(), group.by_x.end(),
              [&](std::size_t a, std::size_t b) { return targets_[a].x < targets_[b].x; });
  sorted_for_ = unseen_;
}

void TargetSightings::moved(std::size_t i, Vec2 to) {
  targets_.at(i).x = to.x;
  targets_.at(i).y = to.y;
  sorted_for_ = 0;
}

void TargetSightings::fetched(std::int64_t step, View side, const unsigned char *rgb, int width,
                              int height, const Engine &engine) {
  if (unseen_ == 0 || rgb == nullptr) return;
  if (sorted_for_ != unseen_) sort_unseen();
  for (int v = 0; v < height && unseen_ > 0; ++v)
    for (int u = 0; u < width && unseen_ > 0; ++u) {
      const unsigned char *pixel =
          rgb + (static_cast<std::size_t>(v) * static_cast<std::size_t>(width) +
                 static_cast<std::size_t>(u)) *
                    3u;
      if (!red_used_[pixel[0]]) continue;
      std::optional<Vec2> ground;
      for (const Unseen &group : groups_) {
        if (pixel[0] != group.color[0] || pixel[1] != group.color[1] || pixel[2] != group.color[2])
          continue;
        if (!ground) ground = engine.ground_seen(u, v);
        if (!ground) break;
        // The discs whose centre lies within reach of the ground point in x.
        auto near = std::lower_bound(group.by_x.begin(), group.by_x.end(), ground->x - group.reach,
                                     [&](std::size_t i, double x) { return targets_[i].x < x; });
        for (; near != group.by_x.end() && targets_[*near].x <= ground->x + group.reach; ++near) {
          const Target &t = targets_[*near];
          if (first_[*near] ||
              std::hypot(ground->x - t.x, ground->y - t.y) > t.radius + rim_tolerance)
            continue;
          first_[*near] = Sighting{step, side};
          --unseen_;
        }
      }
    }
}

}  // namespace sim
