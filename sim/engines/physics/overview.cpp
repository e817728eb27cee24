#include "sim/engines/physics/overview.h"

#include <algorithm>

#include "sim/engines/physics/driver_allocations.h"

namespace sim {

namespace {
// The video's frames at most.
constexpr int largest_film = 1280;  // pixels, either way
// In the video, surfaces take light: a little of their own colour, the rest
// from a headlight, so the robot's shape shows.
constexpr float film_emission = 0.25f;
constexpr float film_robot_grey = 0.6f;
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
  renderer_.draw(model_, data_, context_, camera_, width, height, frame);
  // Back to the flat colours the head camera must see.
  visual = flat;
  std::copy(flat_emission_.begin(), flat_emission_.end(), model_.mat_emission);
  std::copy(flat_rgba.begin(), flat_rgba.end(), model_.mat_rgba);
}

}  // namespace sim
