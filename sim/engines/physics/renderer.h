// The physics engine's drawing: one offscreen OpenGL context and one scene of
// the model, drawn through any camera into an image. The head camera and the
// video's camera share it.
#pragma once

#include <mujoco/mujoco.h>

#include <span>
#include <vector>

#include "sim/engines/physics/offscreen.h"

namespace sim {

class Renderer {
 public:
  // Makes the context current and the scene. Throws RunError when there is
  // no offscreen rendering. disc_ranks: see disc_ranks in robot_model.h.
  Renderer(const mjModel &model, std::vector<int> disc_ranks);
  ~Renderer();
  Renderer(const Renderer &) = delete;
  Renderer &operator=(const Renderer &) = delete;

  // Draws the model's current state through camera into image (rows top to
  // bottom), with context's buffer of at least width x height.
  void draw(const mjModel &model, mjData &data, mjrContext &context, mjvCamera &camera, int width,
            int height, std::span<unsigned char> image);
  // The discs' ranks again, after a disc was moved.
  void set_disc_ranks(std::vector<int> disc_ranks);
  // Objects a scene holds at most: the model's geoms and what MuJoCo adds.
  static constexpr int scene_capacity = 2000;

 private:
  // Brings the discs of higher rank nearer the camera than those they overlap.
  void order_overlapping_discs();

  OffscreenContext gl_;
  mjvScene scene_{};
  mjvOption options_{};
  std::vector<int> disc_ranks_;
  double pull_per_rank_ = 0.0;            // metres
  std::vector<unsigned char> bottom_up_;  // what the renderer gives, before the flip
};

}  // namespace sim
