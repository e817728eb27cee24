#include "sim/engines/physics/renderer.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>
#include <utility>

#include "sim/core/errors.h"
#include "sim/engines/physics/driver_allocations.h"

namespace sim {

namespace {
// How far each rank brings a disc nearer the camera. A disc is a slab 20 um
// thick: to cover the wall of the disc below it as well as its top, it must
// come nearer by the wall's height seen along the ray, 20 um / sin 11.5 deg
// for rays down to 11.5 degrees above the floor (those of the head camera's
// 160-pixel views meet it at 36 degrees or more, the video's at about 30).
constexpr double rank_pull = 0.0001;  // metres
// Whatever the depth of overlap, no disc comes nearer than this: even a
// thousand overlapping discs never hide more than this much of a foot on them.
constexpr double most_pull = 0.002;  // metres
}  // namespace

Renderer::Renderer(const mjModel &model, std::vector<int> disc_ranks) {
  set_disc_ranks(std::move(disc_ranks));
  if (model.ngeom > scene_capacity)
    throw RunError("physics engine: the model has " + std::to_string(model.ngeom) +
                   " geoms; its renderer draws at most " + std::to_string(scene_capacity));
  mjv_defaultOption(&options_);
  mjv_defaultScene(&scene_);
  mjv_makeScene(&model, &scene_, scene_capacity);
  // Flat colours: what the head camera sees is exactly each material's
  // colour. The video's lighting comes from the model's visual settings.
  for (const int flag : {mjRND_SHADOW, mjRND_WIREFRAME, mjRND_REFLECTION, mjRND_ADDITIVE,
                         mjRND_SKYBOX, mjRND_FOG, mjRND_HAZE})
    scene_.flags[flag] = 0;
}

void Renderer::set_disc_ranks(std::vector<int> disc_ranks) {
  disc_ranks_ = std::move(disc_ranks);
  const int top =
      disc_ranks_.empty() ? 0 : *std::max_element(disc_ranks_.begin(), disc_ranks_.end());
  pull_per_rank_ = top > 0 ? std::min(rank_pull, most_pull / top) : 0.0;
}

Renderer::~Renderer() { mjv_freeScene(&scene_); }

void Renderer::draw(const mjModel &model, mjData &data, mjrContext &context, mjvCamera &camera,
                    int width, int height, std::span<unsigned char> image) {
  const mjrRect viewport{0, 0, width, height};
  const DriverAllocations driver;
  mjv_updateScene(&model, &data, &options_, nullptr, &camera, mjCAT_ALL, &scene_);
  order_overlapping_discs();
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

void Renderer::order_overlapping_discs() {
  // Every disc lies on the floor, so overlapping ones are coplanar and the
  // depth test alone cannot choose between them. A disc moved towards the
  // camera along the camera's own rays, and shrunk in proportion, covers
  // exactly the pixels it covered, and is in front: the image is that of the
  // discs lying on the floor, the first shown where they overlap.
  const mjvGLCamera eye = mjv_averageCamera(&scene_.camera[0], &scene_.camera[1]);
  for (int i = 0; i < scene_.ngeom; ++i) {
    mjvGeom &geom = scene_.geoms[i];
    if (geom.objtype != mjOBJ_GEOM || geom.objid < 0 ||
        static_cast<std::size_t>(geom.objid) >= disc_ranks_.size())
      continue;
    const int rank = disc_ranks_[static_cast<std::size_t>(geom.objid)];
    if (rank == 0) continue;
    const double distance =
        std::hypot(geom.pos[0] - eye.pos[0], geom.pos[1] - eye.pos[1], geom.pos[2] - eye.pos[2]);
    const auto keep = static_cast<float>(
        std::max(0.5, 1.0 - pull_per_rank_ * static_cast<double>(rank) / distance));
    for (int k = 0; k < 3; ++k) {
      geom.pos[k] = eye.pos[k] + keep * (geom.pos[k] - eye.pos[k]);
      geom.size[k] *= keep;
    }
  }
}

}  // namespace sim
