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
    const int material = model_.geom_matid[i];
    if (!ground && (model_.geom_rgba[4 * i + 3] < 1.0f ||
                    (material >= 0 && model_.mat_rgba[4 * material + 3] < 1.0f)))
      layered_ = false;
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
  if (!layered_) {
    film_in_one_pass(width, height, frame);
    return;
  }
  width = std::min(width, largest_film);
  height = std::min(height, largest_film);
  fit_context(width, height);
  const auto w = static_cast<std::size_t>(width);
  const auto h = static_cast<std::size_t>(height);
  if (ground_picture_.empty()) {
    renderer_.draw_layer(model_, data_, context_->get(), camera_, width, height, ground_,
                         ground_layer_);
    ground_picture_.resize(w * h * 3u);
    for (std::size_t y = 0; y < h; ++y)
      for (std::size_t x = 0; x < w; ++x)
        for (std::size_t c = 0; c < 3; ++c)  // red first from blue first
          ground_picture_[(y * w + x) * 3u + c] =
              ground_layer_.colour[((h - 1 - y) * w + x) * 4u + 2u - c];
  }
  renderer_.draw_layer(model_, data_, context_->get(), camera_, width, height, off_ground_, rest_);
  // The ground, and the rest where it is nearer: what a floor drawn first and
  // the rest drawn after it through the depth test give. Layers run bottom
  // to top, frames top to bottom.
  std::copy_n(ground_picture_.begin(), w * h * 3u, frame.begin());
  for (std::size_t y = 0; y < h; ++y) {
    const std::size_t from = (h - 1 - y) * w;
    unsigned char *out = frame.data() + y * w * 3u;
    for (std::size_t x = 0; x < w; ++x, out += 3) {
      const std::size_t at = from + x;
      const unsigned char *over = &rest_.colour[at * 4u];
      if (over[3] == 0 || rest_.depth[at] > ground_layer_.depth[at]) continue;
      out[0] = over[2], out[1] = over[1], out[2] = over[0];
    }
  }
}

void Overview::film_in_one_pass(int width, int height, std::span<unsigned char> frame) {
  width = std::min(width, largest_film);
  height = std::min(height, largest_film);
  fit_context(width, height);
  renderer_.draw(model_, data_, context_->get(), camera_, width, height, frame);
}

}  // namespace sim
