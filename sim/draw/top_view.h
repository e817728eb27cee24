// top_view.png: the ground from above with the targets and every placement.
// Written as PNG without timestamps, so the same inputs give the same file.
#pragma once

#include <string>
#include <vector>

#include "sim/core/geometry.h"
#include "sim/core/world_config.h"
#include "sim/observe/placements.h"
#include "sim/observe/reaches.h"

namespace sim {

// The ground from above, forward up: the hips and the ground each front foot
// can reach, the ground each side view sees, the targets numbered as in the
// world file, and every reach, numbered in time order and marked by its
// outcome where its foot came to rest (or, when it never came down, where
// the leg was sent); a foot put down outside any reach gets a small plain
// mark. When the torso's footprint (where it ended) is given, it is outlined
// too. The PNG's bytes; none if the drawing failed.
std::string top_view_png(const WorldConfig &world, const std::vector<Placement> &placements,
                         const std::vector<Reach> &reaches,
                         const std::vector<Vec2> &torso_footprint = {});

}  // namespace sim
