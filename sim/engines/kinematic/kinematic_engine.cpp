#include "sim/engines/kinematic/kinematic_engine.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "sim/core/legs.h"

namespace sim {

namespace {
void paint(std::vector<unsigned char> &image, std::size_t pixel,
           const std::array<std::uint8_t, 3> &color) {
  std::copy(color.begin(), color.end(), image.begin() + static_cast<long>(pixel * 3u));
}
}  // namespace

KinematicEngine::KinematicEngine(const WorldConfig &world)
    : width_(world.camera_width),
      height_(world.camera_height),
      targets_(world.targets),
      joints_(world.joint_speed) {
  update_feet(~0u);
}

void KinematicEngine::advance(const SetPoints &set_points) {
  moved_ = joints_.advance(set_points);
  update_feet(moved_);
}

void KinematicEngine::update_feet(unsigned moved) {
  // The legs' kinematics only when a leg moved: most steps move no leg.
  for (std::size_t i = 0; i < tips_.size(); ++i) {
    const int leg = reaching_legs[i];
    if ((moved & (7u << leg_joint(leg, 0))) == 0) continue;
    tips_[i] =
        foot_in_body(leg, joints_.position(leg_joint(leg, 0)), joints_.position(leg_joint(leg, 1)),
                     joints_.position(leg_joint(leg, 2)));
  }
}

bool KinematicEngine::render(std::span<unsigned char> image) {
  const View shown = view();
  if (rendered_ && shown == rendered_view_) return false;
  const std::vector<unsigned char> &source = view_image(shown);
  std::copy(source.begin(), source.end(), image.begin());
  rendered_ = true;
  rendered_view_ = shown;
  return true;
}

void KinematicEngine::target_moved(const std::vector<Target> &targets, std::size_t moved) {
  targets_.at(moved) = targets.at(moved);
  // Every view is drawn again when next shown.
  for (std::vector<unsigned char> &image : views_) image.clear();
  rendered_ = false;
}

Foot KinematicEngine::foot(int leg) const {
  const unsigned leg_joints = 7u << leg_joint(leg, 0);
  const Vec3 &tip = tips_[leg == 0 ? 0 : 1];
  return {tip, std::abs(tip.z - ground_z) <= on_ground, (moved_ & leg_joints) == 0, std::nullopt};
}

const std::vector<unsigned char> &KinematicEngine::view_image(View view) {
  std::vector<unsigned char> &image = views_[static_cast<std::size_t>(view)];
  if (!image.empty()) return image;
  image.resize(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 3u);
  const std::size_t count = image.size() / 3u;
  for (std::size_t pixel = 0; pixel < count; ++pixel) paint(image, pixel, floor_color);
  if (view == View::forward) return image;
  // Tile by tile: a disc is tested only against the tiles whose ground it
  // may touch, so the cost does not grow with discs out of view. The margin
  // keeps the cut from ever dropping a disc the exact test below would hit.
  constexpr int tile = 16;
  std::array<std::optional<Vec2>, tile * tile> grounds;
  std::vector<const Target *> near;
  for (int v0 = 0; v0 < height_; v0 += tile)
    for (int u0 = 0; u0 < width_; u0 += tile) {
      const int v1 = std::min(v0 + tile, height_);
      const int u1 = std::min(u0 + tile, width_);
      double low_x = HUGE_VAL, high_x = -HUGE_VAL, low_y = HUGE_VAL, high_y = -HUGE_VAL;
      for (int v = v0; v < v1; ++v)
        for (int u = u0; u < u1; ++u) {
          const std::optional<Vec2> ground = ground_point(view, u, v);
          grounds[static_cast<std::size_t>((v - v0) * tile + (u - u0))] = ground;
          if (!ground) continue;
          low_x = std::min(low_x, ground->x);
          high_x = std::max(high_x, ground->x);
          low_y = std::min(low_y, ground->y);
          high_y = std::max(high_y, ground->y);
        }
      near.clear();
      for (const Target &target : targets_) {
        const double reach = target.radius * (1.0 + 1e-9) + 1e-12;
        if (target.x + reach >= low_x && target.x - reach <= high_x && target.y + reach >= low_y &&
            target.y - reach <= high_y)
          near.push_back(&target);
      }
      for (int v = v0; v < v1; ++v)
        for (int u = u0; u < u1; ++u) {
          const std::size_t pixel = static_cast<std::size_t>(v) * static_cast<std::size_t>(width_) +
                                    static_cast<std::size_t>(u);
          const std::optional<Vec2> &ground =
              grounds[static_cast<std::size_t>((v - v0) * tile + (u - u0))];
          if (!ground) {
            paint(image, pixel, sky_color);
            continue;
          }
          // The first disc in file order wins where discs overlap.
          for (const Target *target : near) {
            const double dx = ground->x - target->x;
            const double dy = ground->y - target->y;
            if (dx * dx + dy * dy <= target->radius * target->radius) {
              paint(image, pixel, target->color);
              break;
            }
          }
        }
    }
  return image;
}

}  // namespace sim
