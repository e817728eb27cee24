#include "sim/engines/physics/overview.h"

#include <algorithm>

namespace sim {

namespace {
// The video's frames at most.
constexpr int largest_film = 1280;  // pixels, either way
// In the video, surfaces take light: a little of their own colour, the rest
// from a headlight, so the robot's shape shows.
constexpr float film_emission = 0.25f;
constexpr float film_robot_grey = 0.6f;
// The video's rounded parts are drawn with fewer facets than the head
// camera's: the software renderer's cost goes with the vertices it lights,
// and at the video's size a leg's edge shows no difference.
constexpr int film_slices = 14;
constexpr int film_stacks = 7;
}  // namespace

Overview::Overview(mjModel &model, mjData &data, Renderer &renderer)
    : model_(model),
      data_(data),
      renderer_(renderer),
      flat_emission_(model.mat_emission, model.mat_emission + model.nmat) {
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
  // The robot's parts are near black for its own camera, where they must
  // never count as red; the video shows them light grey.
  for (const char *name : {"robot", "joint"})
    if (const int material = mj_name2id(&model, mjOBJ_MATERIAL, name); material >= 0)
      robot_materials_.push_back(material);
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
  mjVisual &visual = model_.vis;
  const mjVisual flat = visual;
  const std::vector<float> flat_rgba(model_.mat_rgba, model_.mat_rgba + 4 * model_.nmat);
  for (int m = 0; m < model_.nmat; ++m) model_.mat_emission[m] = film_emission;
  for (const int m : robot_materials_)
    for (int c = 0; c < 3; ++c) model_.mat_rgba[4 * m + c] = film_robot_grey;
  for (int c = 0; c < 3; ++c) {
    visual.headlight.ambient[c] = 0.25f;
    visual.headlight.diffuse[c] = 0.6f;
    visual.headlight.specular[c] = 0.1f;
  }
  renderer_.draw(model_, data_, context_->get(), camera_, width, height, frame);
  // Back to the flat colours the head camera must see.
  visual = flat;
  std::copy(flat_emission_.begin(), flat_emission_.end(), model_.mat_emission);
  std::copy(flat_rgba.begin(), flat_rgba.end(), model_.mat_rgba);
}

}  // namespace sim
