#include "sim/engines/physics/renderer.h"

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <memory>
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

namespace {

// The contexts made so far, lent out or free. A context depends on the
// model's visual settings and statistics (its buffer's size, the built-in
// shapes' facets, fog and shadow ranges), on its textures (the floor's
// checker), and on its meshes, height fields and skins, which the robot has
// none of: a model with any gets a context of its own.
struct KeptContext {
  mjVisual visual;
  mjStatistic statistic;
  std::vector<unsigned char> textures;  // see texture_bytes
  std::unique_ptr<mjrContext> context;
  bool lent = false;
};
std::vector<KeptContext> &kept_contexts() {
  static std::vector<KeptContext> kept;
  return kept;
}
// Free contexts kept at most; their buffers are a few megabytes each.
constexpr std::size_t most_kept_free = 4;

// Everything of a model's textures a context holds: their kinds, sizes and
// pixels.
std::vector<unsigned char> texture_bytes(const mjModel &model) {
  std::vector<unsigned char> bytes;
  const auto add = [&](const void *data, std::size_t size) {
    const auto *first = static_cast<const unsigned char *>(data);
    bytes.insert(bytes.end(), first, first + size);
  };
  const auto count = static_cast<std::size_t>(model.ntex);
  add(&model.ntex, sizeof model.ntex);
  add(model.tex_type, count * sizeof *model.tex_type);
  add(model.tex_width, count * sizeof *model.tex_width);
  add(model.tex_height, count * sizeof *model.tex_height);
  add(model.tex_adr, count * sizeof *model.tex_adr);
  add(model.tex_rgb, static_cast<std::size_t>(model.ntexdata));
  return bytes;
}

bool same_look(const KeptContext &kept, const mjModel &model) {
  return std::memcmp(&kept.visual, &model.vis, sizeof model.vis) == 0 &&
         std::memcmp(&kept.statistic, &model.stat, sizeof model.stat) == 0 &&
         kept.textures == texture_bytes(model);
}

bool shareable(const mjModel &model) {
  return model.nmesh == 0 && model.nhfield == 0 && model.nskin == 0;
}

}  // namespace

RenderContext::RenderContext(const mjModel &model) {
  OffscreenContext::shared();
  std::vector<KeptContext> &kept = kept_contexts();
  if (shareable(model))
    for (KeptContext &entry : kept)
      if (!entry.lent && same_look(entry, model)) {
        entry.lent = true;
        context_ = entry.context.get();
        return;
      }
  auto context = std::make_unique<mjrContext>();
  {
    const DriverAllocations driver;
    mjr_defaultContext(context.get());
    mjr_makeContext(&model, context.get(), mjFONTSCALE_100);
  }
  context_ = context.get();
  if (!shareable(model)) {
    context.release();
    return;
  }
  kept.push_back({model.vis, model.stat, texture_bytes(model), std::move(context), true});
}

RenderContext::~RenderContext() {
  std::vector<KeptContext> &kept = kept_contexts();
  const auto entry = std::find_if(
      kept.begin(), kept.end(), [&](const KeptContext &k) { return k.context.get() == context_; });
  if (entry == kept.end()) {
    mjr_freeContext(context_);
    delete context_;
    return;
  }
  entry->lent = false;
  if (std::count_if(kept.begin(), kept.end(), [](const KeptContext &k) { return !k.lent; }) >
      static_cast<long>(most_kept_free)) {
    const auto oldest_free =
        std::find_if(kept.begin(), kept.end(), [](const KeptContext &k) { return !k.lent; });
    mjr_freeContext(oldest_free->context.get());
    kept.erase(oldest_free);
  }
}

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

void Renderer::render(const mjModel &model, mjData &data, mjrContext &context, mjvCamera &camera,
                      const mjrRect &viewport, const std::vector<bool> *shown) {
  mjv_updateScene(&model, &data, &options_, nullptr, &camera, mjCAT_ALL, &scene_);
  if (shown != nullptr) {
    // The software renderer transforms every vertex of every geom it is
    // given, seen or not: geoms out of view are most of a side view's cost.
    int kept = 0;
    for (int i = 0; i < scene_.ngeom; ++i) {
      const mjvGeom &geom = scene_.geoms[i];
      if (geom.objtype == mjOBJ_GEOM && geom.objid >= 0 &&
          static_cast<std::size_t>(geom.objid) < shown->size() &&
          !(*shown)[static_cast<std::size_t>(geom.objid)])
        continue;
      scene_.geoms[kept++] = geom;
    }
    scene_.ngeom = kept;
  }
  order_overlapping_discs();
  mjr_setBuffer(mjFB_OFFSCREEN, &context);
  mjr_render(viewport, &scene_, &context);
}

void Renderer::draw(const mjModel &model, mjData &data, mjrContext &context, mjvCamera &camera,
                    int width, int height, std::span<unsigned char> image,
                    const std::vector<bool> *shown) {
  const mjrRect viewport{0, 0, width, height};
  const DriverAllocations driver;
  render(model, data, context, camera, viewport, shown);
  const std::size_t row = static_cast<std::size_t>(width) * 3u;
  bottom_up_.resize(row * static_cast<std::size_t>(height));
  mjr_readPixels(bottom_up_.data(), nullptr, viewport, &context);
  // OpenGL's rows run bottom to top; images here run top to bottom.
  for (int y = 0; y < height; ++y)
    std::copy_n(
        bottom_up_.begin() + static_cast<long>(row * static_cast<std::size_t>(height - 1 - y)), row,
        image.begin() + static_cast<long>(row * static_cast<std::size_t>(y)));
}

void Renderer::draw_layer(const mjModel &model, mjData &data, mjrContext &context,
                          mjvCamera &camera, int width, int height, const std::vector<bool> &shown,
                          Layer &layer) {
  if (context.offSamples > 0)
    throw RunError("physics engine: a multisampled buffer cannot be read as a layer");
  const mjrRect viewport{0, 0, width, height};
  const DriverAllocations driver;
  render(model, data, context, camera, viewport, &shown);
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  layer.colour.resize(pixels * 4u);
  layer.depth.resize(pixels);
  // MuJoCo reads colour without coverage. The buffer is cleared to
  // transparent black, and read from where it was drawn: the models here
  // are made without multisampling, so there is no second buffer to resolve
  // into. Blue first is how the software renderer keeps its pixels: read
  // so, they are copied, not converted one by one.
  mjr_setBuffer(mjFB_OFFSCREEN, &context);
  glReadPixels(0, 0, width, height, GL_BGRA, GL_UNSIGNED_BYTE, layer.colour.data());
  glReadPixels(0, 0, width, height, GL_DEPTH_COMPONENT, GL_UNSIGNED_INT, layer.depth.data());
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
