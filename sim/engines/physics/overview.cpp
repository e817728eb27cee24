#include "sim/engines/physics/overview.h"

#include <algorithm>

#include "sim/engines/physics/driver_allocations.h"

namespace sim {

namespace {
// The video's frames at most.
constexpr int largest_film = 1280;  // pixels, either way
}  // namespace

Overview::Overview(mjModel &model, mjData &data, Renderer &renderer)
    : model_(model), data_(data), renderer_(renderer) {
  // From the front left and above, at the robot and the ground its front
  // legs reach.
  mjv_defaultCamera(&camera_);
  camera_.type = mjCAMERA_FREE;
  camera_.lookat[0] = -0.02;
  camera_.lookat[1] = 0.0;
  camera_.lookat[2] = -0.075;
  camera_.distance = 0.42;
  camera_.azimuth = 215.0;
  camera_.elevation = -30.0;
}

Overview::~Overview() {
  if (context_ready_) mjr_freeContext(&context_);
}

void Overview::film(int width, int height, std::span<unsigned char> frame) {
  width = std::min(width, largest_film);
  height = std::min(height, largest_film);
  if (!context_ready_) {
    // A buffer of its own, so the head camera's stays small.
    const int camera_width = model_.vis.global.offwidth;
    const int camera_height = model_.vis.global.offheight;
    model_.vis.global.offwidth = largest_film;
    model_.vis.global.offheight = largest_film;
    {
      const DriverAllocations driver;
      mjr_defaultContext(&context_);
      mjr_makeContext(&model_, &context_, mjFONTSCALE_100);
    }
    model_.vis.global.offwidth = camera_width;
    model_.vis.global.offheight = camera_height;
    context_ready_ = true;
  }
  renderer_.draw(model_, data_, context_, camera_, width, height, frame);
}

}  // namespace sim
