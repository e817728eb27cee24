// The robot's own camera in the physics engine: the image the controller
// reads, drawn with flat colours (the camera's look) through the model's
// "eye", and redrawn only when something it shows moved.
#pragma once

#include <mujoco/mujoco.h>

#include <array>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "sim/core/geometry.h"
#include "sim/engines/physics/camera_look.h"
#include "sim/engines/physics/renderer.h"

namespace sim {

class RenderedHeadCamera {
 public:
  // A width x height image through the model's camera "eye". Widens the
  // model's field of view and sizes its offscreen buffer for what is
  // rendered, so call it before any other context is made from the model.
  // `floor_z` is the height of the floor it sees the ground on, and a move
  // below `unmoved` (m or rad) of the camera or of what it sees leaves its
  // image as it was.
  RenderedHeadCamera(mjModel &model, Renderer &renderer, int width, int height, double floor_z,
                     double unmoved);
  ~RenderedHeadCamera();
  RenderedHeadCamera(const RenderedHeadCamera &) = delete;
  RenderedHeadCamera &operator=(const RenderedHeadCamera &) = delete;

  // Brings image (width x height x 3 bytes) up to date with the data's last
  // kinematics; false when nothing it shows moved since it was last drawn.
  bool render(mjData &data, std::span<unsigned char> image);
  // Whether render() would draw a new image now.
  bool outdated(const mjData &data) const { return view_changed(data); }
  // From now on every move, however small, counts.
  void draw_exactly() { unmoved_ = 0.0; }
  // Something it does not watch changed (a disc was moved): the next
  // render() draws a new image whatever moved.
  void scene_changed() { rendered_once_ = false; }
  // The ground point (body frame) that pixel column u, row v sees.
  std::optional<Vec2> ground_seen(const mjData &data, double u, double v) const;

 private:
  // Whether the camera's image may have changed since it was last drawn.
  bool view_changed(const mjData &data) const;
  // Keeps what the image is drawn from now, for view_changed.
  void note_drawn(const mjData &data);
  // Whether a geom can move (a part of the robot that is drawn).
  bool watched(int geom) const;
  // Whether a geom's bounding sphere reaches into the camera's view.
  bool in_view(const mjData &data, int geom) const;

  mjModel &model_;  // in its own look but while the camera renders
  Renderer &renderer_;
  CameraLook look_;
  int width_;  // the world's camera image
  int height_;
  int rendered_width_;  // what is rendered, the camera image cut out of it
  int rendered_height_;
  int crop_x_;
  int crop_y_;
  int eye_ = -1;
  double floor_z_;
  double unmoved_;
  std::unique_ptr<RenderContext> context_;
  mjvCamera camera_{};
  std::vector<unsigned char> rendered_;  // the whole rendered image
  // What the last image was drawn from: the camera's pose, and each geom's
  // pose and whether it was in view.
  bool rendered_once_ = false;
  std::array<double, 12> camera_pose_{};
  std::vector<std::array<double, 12>> geom_poses_;
  std::vector<bool> geom_seen_;
  std::vector<bool> shown_;  // the geoms that can be in view now, by id
};

}  // namespace sim
