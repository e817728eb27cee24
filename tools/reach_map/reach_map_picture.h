// reach_map.png: the ground from above, each grid point coloured by how far
// the foot landed from the disc's centre.
#pragma once

#include <string>
#include <vector>

#include "tools/reach_map/reach_outcomes.h"

namespace sim::reach_map {

// reach_map.png's bytes; none if the drawing failed.
std::string map_picture_png(const Settings &settings, const Summary &summary,
                            const std::vector<Outcome> &outcomes);

}  // namespace sim::reach_map
