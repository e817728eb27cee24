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
  for (int i = 0; i < model_.ngeom; ++i) {
    const bool ground = model_.geom_type[i] == mjGEOM_PLANE;
    ground_.push_back(ground);
    off_ground_.push_back(!ground);
  }
}

Overview::~Overview() = default;

void Overview::fit_context(int width, int height) {
  if (context_ && width == context_width_ && height == context_height_) return;
  // A buffer of its own, of the frame's size: the renderer clears all of it
  // at every frame.
  context_.reset();
  const mjVisual camera_visual = model_.vis;
  model_.vis.global.offwidth = width;
  model_.vis.global.offheight = height;
  model_.vis.quality.numslices = std::min(model_.vis.quality.numslices, film_slices);
  model_.vis.quality.numstacks = std::min(model_.vis.quality.numstacks, film_stacks);
  context_ = std::make_unique<RenderContext>(model_);
  model_.vis = camera_visual;
  context_width_ = width;
  context_height_ = height;
  ground_picture_.clear();
}

void Overview::film(int width, int height, std::span<unsigned char> frame) {
  width = std::min(width, largest_film);
  height = std::min(height, largest_film);
  fit_context(width, height);
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if (ground_picture_.empty()) {
    ground_picture_.resize(pixels * 3u);
    covering_.resize(pixels * 4u);
    renderer_.draw(model_, data_, context_->get(), camera_, width, height, ground_picture_,
                   &ground_);
  }
  renderer_.draw_covering(model_, data_, context_->get(), camera_, width, height, covering_,
                          off_ground_);
  // What stands on the ground over the ground: the colours are over black,
  // so the ground shows through by what each pixel leaves uncovered.
  std::copy_n(ground_picture_.begin(), pixels * 3u, frame.begin());
  const unsigned char *over = covering_.data();
  unsigned char *out = frame.data();
  for (std::size_t p = 0; p < pixels; ++p, over += 4, out += 3) {
    const unsigned cover = over[3];
    if (cover == 0) continue;
    const unsigned left = 255u - cover;
    for (int c = 0; c < 3; ++c)  // blue first over red first
      out[c] =
          static_cast<unsigned char>(std::min(255u, over[2 - c] + (out[c] * left + 127u) / 255u));
  }
}

void Overview::film_in_one_pass(int width, int height, std::span<unsigned char> frame) {
  width = std::min(width, largest_film);
  height = std::min(height, largest_film);
  fit_context(width, height);
  renderer_.draw(model_, data_, context_->get(), camera_, width, height, frame);
}

}  // namespace sim
