#include "sim/observe/reaches.h"

#include <cmath>

#include "sim/model/legs.h"

namespace sim {

std::optional<double> Reach::error() const {
  if (!aimed) return std::nullopt;
  return std::hypot(placement.foot.x - aimed->x, placement.foot.y - aimed->y);
}

void ReachLog::search(std::int64_t step, int leg, std::optional<Window> window,
                      std::optional<Vec2> aimed) {
  rest_posture();
  open_ = Reach{step, leg, window, aimed, {}};
  open_placed_ = false;
}

void ReachLog::placed(const Placement &placement) {
  if (!open_ || placement.leg != open_->leg) return;
  open_->placement = placement;
  open_placed_ = true;
}

void ReachLog::rest_posture() {
  if (open_ && open_placed_) {
    const Vec3 &foot = open_->placement.foot;
    if (!at_rest_point(open_->leg, foot.x, foot.y)) closed_.push_back(*open_);
  }
  open_.reset();
}

std::vector<Reach> ReachLog::reaches() const {
  ReachLog copy = *this;
  copy.rest_posture();
  return copy.closed_;
}

}  // namespace sim
