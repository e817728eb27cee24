#include "sim/engines/physics/overview.h"

#include <algorithm>

namespace sim {

namespace {
// The video's frames at most.
constexpr int largest_film = 1280;  // pixels, either way
// The video's rounded parts are drawn with fewer facets than the head
// camera's: the software renderer's cost goes with the vertices it lights,
// and at the video's size a leg's edge shows no difference.
constexpr int film_slices = 14;
constexpr int film_stacks = 7;
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

Overview::~Overview() = default;

void Overview::film(int width, int height, std::span<unsigned char> frame) {
  width = std::min(width, largest_film);
  height = std::min(height, largest_film);
  if (!context_) {
    // A buffer of its own, so the head camera's stays small.
    const mjVisual camera_visual = model_.vis;
    model_.vis.global.offwidth = largest_film;
    model_.vis.global.offheight = largest_film;
    model_.vis.quality.numslices = std::min(model_.vis.quality.numslices, film_slices);
    model_.vis.quality.numstacks = std::min(model_.vis.quality.numstacks, film_stacks);
    context_ = std::make_unique<RenderContext>(model_);
    model_.vis = camera_visual;
  }
  renderer_.draw(model_, data_, context_->get(), camera_, width, height, frame);
}

}  // namespace sim
