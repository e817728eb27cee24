// A robustness map's pictures: robustness.png, the ground from above with
// each grid point coloured by the share of the sampled robots that hit a
// disc there; and sensitivity.png, a panel per varied key with the hit rate
// against the key's value.
#pragma once

#include <string>

#include "tools/reach_map/robustness.h"

namespace sim::reach_map {

// The pictures' PNG bytes; none if the drawing failed.
std::string robustness_picture_png(const Settings &settings, const Robustness &robustness);
std::string sensitivity_picture_png(const Settings &settings, const Robustness &robustness);

}  // namespace sim::reach_map
