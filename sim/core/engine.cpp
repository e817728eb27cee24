#include "sim/core/engine.h"

#include <algorithm>
#include <cmath>

namespace sim {

double TorsoPose::tilt() const {
  // The body's up axis against the world's: its z component is cos(roll) cos(pitch).
  return std::acos(std::clamp(std::cos(roll) * std::cos(pitch), -1.0, 1.0));
}

}  // namespace sim
