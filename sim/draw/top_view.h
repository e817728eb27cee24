// top_view.png: the ground from above with the targets and every placement.
// Written as PNG without timestamps, so the same inputs give the same file.
#pragma once

#include <string>
#include <vector>

#include "sim/model/geometry.h"
#include "sim/model/world_config.h"
#include "sim/observe/placements.h"

namespace sim {

// The ground from above, forward up: the hips and the ground each front foot
// can reach, the ground each side view sees, the targets numbered as in the
// world file, and every placement. Reaches (placements away from the foot's
// rest point under its hip) are numbered in time order and marked on or off
// target; rest placements get a small plain mark. The PNG's bytes; none if
// the drawing failed.
std::string top_view_png(const WorldConfig &world, const std::vector<Placement> &placements);
// Where that picture shows a ground point (body frame): pixel column, row.
Vec2 top_view_pixel(const WorldConfig &world, const std::vector<Placement> &placements,
                    Vec2 ground);

}  // namespace sim
