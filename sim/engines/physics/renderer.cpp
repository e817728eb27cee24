#include "sim/engines/physics/renderer.h"

#include <algorithm>

namespace sim {

Renderer::Renderer(const mjModel &model) {
  mjv_defaultOption(&options_);
  mjv_defaultScene(&scene_);
  mjv_makeScene(&model, &scene_, 2000);
  // Flat colours: what the head camera sees is exactly each material's
  // colour. The video's lighting comes from the model's visual settings.
  for (const int flag : {mjRND_SHADOW, mjRND_WIREFRAME, mjRND_REFLECTION, mjRND_ADDITIVE,
                         mjRND_SKYBOX, mjRND_FOG, mjRND_HAZE})
    scene_.flags[flag] = 0;
}

Renderer::~Renderer() { mjv_freeScene(&scene_); }

void Renderer::draw(const mjModel &model, mjData &data, mjrContext &context, mjvCamera &camera,
                    int width, int height, std::span<unsigned char> image) {
  const mjrRect viewport{0, 0, width, height};
  mjv_updateScene(&model, &data, &options_, nullptr, &camera, mjCAT_ALL, &scene_);
  mjr_setBuffer(mjFB_OFFSCREEN, &context);
  mjr_render(viewport, &scene_, &context);
  const std::size_t row = static_cast<std::size_t>(width) * 3u;
  bottom_up_.resize(row * static_cast<std::size_t>(height));
  mjr_readPixels(bottom_up_.data(), nullptr, viewport, &context);
  // OpenGL's rows run bottom to top; images here run top to bottom.
  for (int y = 0; y < height; ++y)
    std::copy_n(
        bottom_up_.begin() + static_cast<long>(row * static_cast<std::size_t>(height - 1 - y)), row,
        image.begin() + static_cast<long>(row * static_cast<std::size_t>(y)));
}

}  // namespace sim
