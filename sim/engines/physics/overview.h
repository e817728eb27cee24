// The video's camera: the robot seen from its front left and above, in the
// model's own look (lit and shaded, so its shape shows), drawn from the same
// scene as the head camera.
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

 private:
  mjModel &model_;
  mjData &data_;
  Renderer &renderer_;
  std::unique_ptr<RenderContext> context_;  // made at the first frame
  mjvCamera camera_{};
};

}  // namespace sim
