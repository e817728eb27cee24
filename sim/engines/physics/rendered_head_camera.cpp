#include "sim/engines/physics/rendered_head_camera.h"

#include <algorithm>
#include <cmath>

#include "sim/engines/physics/pinhole.h"
#include "sim/engines/physics/robot_model.h"

namespace sim {

namespace {
// The image size the camera was fitted for: its pixels see the ground the
// controller's tables give, whatever the world's camera size.
constexpr int calibrated_side = 160;  // pixels, both ways
constexpr double calibrated_centre = calibrated_side / 2.0;

std::size_t index(int i) { return static_cast<std::size_t>(i); }
}  // namespace

RenderedHeadCamera::RenderedHeadCamera(mjModel &model, Renderer &renderer, int width, int height,
                                       double floor_z, double unmoved)
    : model_(model),
      renderer_(renderer),
      look_(model),
      width_(width),
      height_(height),
      // MuJoCo's image centre is the centre of what it renders; a camera of
      // another size keeps the fitted centre by rendering the image that has
      // it in the middle and cutting the world's camera image out of it.
      rendered_width_(2 *
                      static_cast<int>(std::max(calibrated_centre, width_ - calibrated_centre))),
      rendered_height_(2 *
                       static_cast<int>(std::max(calibrated_centre, height_ - calibrated_centre))),
      crop_x_(rendered_width_ / 2 - static_cast<int>(calibrated_centre)),
      crop_y_(rendered_height_ / 2 - static_cast<int>(calibrated_centre)),
      eye_(id_of(&model, mjOBJ_CAMERA, "eye", "camera")),
      floor_z_(floor_z),
      unmoved_(unmoved) {
  // The camera's offscreen buffer is just its size: every frame clears the
  // whole buffer, and that is a large part of a small frame's cost.
  model.vis.global.offwidth = rendered_width_;
  model.vis.global.offheight = rendered_height_;
  // The same focal length in pixels over the taller rendered image.
  const double focal = physics::focal_pixels(model.cam_fovy[eye_], 2.0 * calibrated_centre);
  model.cam_fovy[eye_] = 360.0 / mjPI * std::atan(rendered_height_ / 2.0 / focal);
  context_ = std::make_unique<RenderContext>(model);
  mjv_defaultCamera(&camera_);
  camera_.type = mjCAMERA_FIXED;
  camera_.fixedcamid = eye_;
  rendered_.resize(static_cast<std::size_t>(rendered_width_) *
                   static_cast<std::size_t>(rendered_height_) * 3u);
  geom_poses_.resize(index(model.ngeom));
  geom_seen_.resize(index(model.ngeom));
  shown_.resize(index(model.ngeom));
}

RenderedHeadCamera::~RenderedHeadCamera() = default;

bool RenderedHeadCamera::render(mjData &data, std::span<unsigned char> image) {
  if (!view_changed(data)) return false;
  note_drawn(data);
  for (int g = 0; g < model_.ngeom; ++g)
    shown_[index(g)] = model_.geom_rbound[g] <= 0.0 || in_view(data, g);  // a plane has no bound
  {
    const CameraLook::Worn worn(look_, model_);
    renderer_.draw(model_, data, context_->get(), camera_, rendered_width_, rendered_height_,
                   rendered_, &shown_);
  }
  const std::size_t row = static_cast<std::size_t>(width_) * 3u;
  const std::size_t rendered_row = static_cast<std::size_t>(rendered_width_) * 3u;
  for (int y = 0; y < height_; ++y)
    std::copy_n(rendered_.begin() +
                    static_cast<long>(rendered_row * index(y + crop_y_) + 3u * index(crop_x_)),
                row, image.begin() + static_cast<long>(row * index(y)));
  return true;
}

bool RenderedHeadCamera::in_view(const mjData &data, int geom) const {
  const mjtNum *camera_at = data.cam_xpos + 3 * eye_;
  const mjtNum *axes = data.cam_xmat + 9 * eye_;  // columns: right, up, backwards
  const mjtNum *centre = data.geom_xpos + 3 * geom;
  mjtNum local[3];
  for (int i = 0; i < 3; ++i) {
    local[i] = 0.0;
    for (int k = 0; k < 3; ++k) local[i] += axes[3 * k + i] * (centre[k] - camera_at[k]);
  }
  const double radius = model_.geom_rbound[geom];
  const double depth = -local[2];
  if (depth < -radius) return false;  // wholly behind the camera
  // The bounding sphere against the four side planes of the view pyramid.
  const double focal = physics::focal_pixels(model_.cam_fovy[eye_], rendered_height_);
  const double tan_x = rendered_width_ / 2.0 / focal;
  const double tan_y = rendered_height_ / 2.0 / focal;
  return std::abs(local[0]) - depth * tan_x <= radius * std::sqrt(1.0 + tan_x * tan_x) &&
         std::abs(local[1]) - depth * tan_y <= radius * std::sqrt(1.0 + tan_y * tan_y);
}

namespace {
// Position and rotation matrix of thing i, from the data's arrays of them.
std::array<double, 12> pose_of(const mjtNum *positions, const mjtNum *rotations, int i) {
  std::array<double, 12> pose{};
  std::copy_n(positions + 3 * i, 3, pose.begin());
  std::copy_n(rotations + 9 * i, 9, pose.begin() + 3);
  return pose;
}
}  // namespace

bool RenderedHeadCamera::watched(int geom) const {
  // Only parts of the robot can move; the floor and the discs (the world
  // body's) and hidden geoms never change the image.
  return model_.geom_bodyid[geom] != 0 && model_.geom_group[geom] < 3;
}

bool RenderedHeadCamera::view_changed(const mjData &data) const {
  // Rendering is most of a step's cost, and between the head's motions the
  // camera looks at ground where nothing moves: a new image is drawn only
  // when the camera moved, or a part of the robot moved in or out of view or
  // within it. Moves far below a pixel's width leave the image as it is, so
  // a servo's last creep towards its set-point does not cost a frame per
  // step.
  const auto moved = [&](const std::array<double, 12> &now, const std::array<double, 12> &before) {
    for (std::size_t i = 0; i < before.size(); ++i)
      if (std::abs(now[i] - before[i]) > unmoved_) return true;
    return false;
  };
  if (!rendered_once_ || moved(pose_of(data.cam_xpos, data.cam_xmat, eye_), camera_pose_))
    return true;
  for (int g = 0; g < model_.ngeom; ++g) {
    if (!watched(g)) continue;
    if (moved(pose_of(data.geom_xpos, data.geom_xmat, g), geom_poses_[index(g)]) &&
        (geom_seen_[index(g)] || in_view(data, g)))
      return true;
  }
  return false;
}

void RenderedHeadCamera::note_drawn(const mjData &data) {
  camera_pose_ = pose_of(data.cam_xpos, data.cam_xmat, eye_);
  for (int g = 0; g < model_.ngeom; ++g) {
    if (!watched(g)) continue;
    geom_poses_[index(g)] = pose_of(data.geom_xpos, data.geom_xmat, g);
    geom_seen_[index(g)] = in_view(data, g);
  }
  rendered_once_ = true;
}

std::optional<Vec2> RenderedHeadCamera::ground_seen(const mjData &data, double u, double v) const {
  return physics::pixel_ground_point(camera_pose(data, eye_), model_.cam_fovy[eye_],
                                     rendered_width_, rendered_height_, u + crop_x_, v + crop_y_,
                                     floor_z_);
}

}  // namespace sim
