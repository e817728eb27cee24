// The physics engine's drawing: one offscreen OpenGL context and one scene of
// the model, drawn through any camera into an image. The head camera and the
// video's camera share it.
#pragma once

#include <mujoco/mujoco.h>

#include <cstdint>
#include <span>
#include <vector>

#include "sim/engines/physics/offscreen.h"

namespace sim {

// A render context for a model (its offscreen buffer, fonts and built-in
// shapes, made by mjr_makeContext on the process's offscreen context), lent
// out and given back when its user goes. A context given back serves the
// next model whose look it was made for, the same robot in the next world of
// a batch, rather than being made anew: making one is most of what a world's
// camera costs to start. Throws RunError when there is no offscreen
// rendering.
class RenderContext {
 public:
  explicit RenderContext(const mjModel &model);
  ~RenderContext();
  RenderContext(const RenderContext &) = delete;
  RenderContext &operator=(const RenderContext &) = delete;
  mjrContext &get() { return *context_; }

 private:
  mjrContext *context_ = nullptr;
};

class Renderer {
 public:
  // Makes the process's context current (OffscreenContext::shared) and the
  // scene. Throws RunError when there is
  // no offscreen rendering. disc_ranks: see disc_ranks in robot_model.h.
  Renderer(const mjModel &model, std::vector<int> disc_ranks);
  ~Renderer();
  Renderer(const Renderer &) = delete;
  Renderer &operator=(const Renderer &) = delete;

  // Draws the model's current state through camera into image (rows top to
  // bottom), with context's buffer of at least width x height. `shown`, if
  // given, says by geom id which of the model's geoms can be in view; the
  // others are left out of the scene, which changes no pixel.
  void draw(const mjModel &model, mjData &data, mjrContext &context, mjvCamera &camera, int width,
            int height, std::span<unsigned char> image, const std::vector<bool> *shown = nullptr);
  // A layer of the scene: only the geoms `shown` keeps, drawn over
  // transparent black, read back with rows bottom to top as OpenGL gives
  // them. `colour` gets 4 bytes a pixel: blue, green, red (over black), then
  // how much of the pixel opaque geoms cover (0 or 255); `depth` the depth
  // buffer's value (0 at the near plane, 2^32 - 1 at the far one). Two
  // layers through the same camera make the scene drawn whole: at each
  // pixel, the nearer shows.
  struct Layer {
    std::vector<unsigned char> colour;
    std::vector<std::uint32_t> depth;
  };
  void draw_layer(const mjModel &model, mjData &data, mjrContext &context, mjvCamera &camera,
                  int width, int height, const std::vector<bool> &shown, Layer &layer);
  // The discs' ranks again, after a disc was moved.
  void set_disc_ranks(std::vector<int> disc_ranks);
  // Objects a scene holds at most: the model's geoms and what MuJoCo adds.
  static constexpr int scene_capacity = 2000;

 private:
  // Updates the scene from the model's state and draws what `shown` keeps.
  void render(const mjModel &model, mjData &data, mjrContext &context, mjvCamera &camera,
              const mjrRect &viewport, const std::vector<bool> *shown);
  // Brings the discs of higher rank nearer the camera than those they overlap.
  void order_overlapping_discs();

  mjvScene scene_{};
  mjvOption options_{};
  std::vector<int> disc_ranks_;
  double pull_per_rank_ = 0.0;            // metres
  std::vector<unsigned char> bottom_up_;  // what the renderer gives, before the flip
};

}  // namespace sim
