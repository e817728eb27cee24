// The video's camera: the robot seen from its front left and above, in the
// model's own look (lit and shaded, so its shape shows), drawn from the same
// scene as the head camera. The textured floor is most of what a frame costs
// the software renderer, and it looks the same in every frame: it is drawn
// once, with its depth, and each frame draws only the rest and lays it over
// the floor wherever it is nearer, as drawing the two together would.
#pragma once

#include <mujoco/mujoco.h>

#include <memory>
#include <span>
#include <vector>

#include "sim/core/third_person_view.h"
#include "sim/engines/physics/renderer.h"

namespace sim {

class Overview final : public ThirdPersonView {
 public:
  Overview(mjModel &model, mjData &data, Renderer &renderer);
  ~Overview() override;
  Overview(const Overview &) = delete;
  Overview &operator=(const Overview &) = delete;

  void film(int width, int height, std::span<unsigned char> frame) override;
  // The same frame drawn whole, the ground with the rest in one pass: what
  // film() gives, at a multiple of the cost.
  void film_in_one_pass(int width, int height, std::span<unsigned char> frame);

 private:
  // Makes the buffer frames of this size are drawn in, unless it is made.
  void fit_context(int width, int height);

  mjModel &model_;
  mjData &data_;
  Renderer &renderer_;
  std::unique_ptr<RenderContext> context_;  // made at the first frame
  int context_width_ = 0;
  int context_height_ = 0;
  mjvCamera camera_{};
  // By geom id: the ground (planes), and the rest.
  std::vector<bool> ground_;
  std::vector<bool> off_ground_;
  // False when anything off the ground lets the floor show through it: a
  // see-through geom blends with what is behind it as it is drawn, which a
  // layer drawn over nothing cannot do later. Such frames are drawn whole.
  bool layered_ = true;
  // The ground alone through camera_, drawn at the first frame (empty till
  // then): it never moves, and the camera and its headlight never move.
  Renderer::Layer ground_layer_;
  std::vector<unsigned char> ground_picture_;  // its colours, 3 bytes a pixel, top to bottom
  Renderer::Layer rest_;                       // the rest, at each frame
};

}  // namespace sim
