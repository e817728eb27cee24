// A camera beside the robot, for people to watch the run: what the video
// records. An engine that can draw the robot offers one; the run's records
// know it only through this.
#pragma once

#include <span>

namespace sim {

class ThirdPersonView {
 public:
  virtual ~ThirdPersonView() = default;
  // The robot from beside it, lit and shaded: width x height pixels of 3
  // bytes, rows top to bottom.
  virtual void film(int width, int height, std::span<unsigned char> frame) = 0;
};

}  // namespace sim
