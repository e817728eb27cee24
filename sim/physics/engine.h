// The physics engine: our robot model in MuJoCo, with masses, position servos
// and contacts, and the head camera rendered offscreen with flat colours.
#pragma once

#include <mujoco/mujoco.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "sim/config.h"
#include "sim/engine.h"
#include "sim/physics/offscreen.h"

namespace sim {

// The robot model's MJCF text, built into the library so that a run needs no
// file: sim/physics/robot.xml.
extern const char *const robot_model_xml;

// The model text for a world: the robot, with the world's discs lying on its
// floor, the plane z = ground_z.
std::string world_model_xml(const WorldConfig &world);

struct ModelDeleter {
  void operator()(mjModel *m) const { mj_deleteModel(m); }
};
using ModelPointer = std::unique_ptr<mjModel, ModelDeleter>;

// Compiles MJCF text. Throws RunError with MuJoCo's message when it cannot.
ModelPointer compile_model(const std::string &xml);

class PhysicsEngine final : public Engine {
 public:
  // Compiles the model and makes the offscreen context. Throws RunError when
  // either cannot be done.
  explicit PhysicsEngine(const WorldConfig &world);
  ~PhysicsEngine() override;
  PhysicsEngine(const PhysicsEngine &) = delete;
  PhysicsEngine &operator=(const PhysicsEngine &) = delete;

  void advance(const SetPoints &set_points) override;
  double position(int joint) const override;
  View view() const override { return view_of_pan(position(head_pan_joint)); }
  bool render(std::span<unsigned char> image) override;
  std::optional<Vec2> ground_seen(double u, double v) const override;
  Foot foot(int leg) const override;
  bool films() const override { return true; }
  void film(int width, int height, std::span<unsigned char> frame) override;

  const mjModel &model() const { return *model_; }
  const mjData &data() const { return *data_; }

 private:
  struct DataDeleter {
    void operator()(mjData *d) const { mj_deleteData(d); }
  };
  struct FootIds {
    int geom = -1;  // the foot's sphere
    int site = -1;  // its tip, the point the leg's angles place
  };

  Vec3 tip(int leg) const;
  // Whether the head camera's image may have changed since it was last drawn.
  bool view_changed();
  // Whether a geom's bounding sphere reaches into the head camera's view.
  bool in_view(int geom) const;
  // Renders through a camera into image (rows top to bottom).
  void draw(mjrContext &context, mjvCamera &camera, int width, int height,
            std::span<unsigned char> image);

  int width_;  // the world's camera image
  int height_;
  int rendered_width_;  // what is rendered, the camera image cut out of it
  int rendered_height_;
  int crop_x_;
  int crop_y_;
  int substeps_;
  ModelPointer model_;
  std::unique_ptr<mjData, DataDeleter> data_;
  std::array<int, joint_count> qpos_address_{};
  std::array<int, joint_count> actuator_{};
  std::array<double, joint_count> start_{};  // where each joint starts, held until commanded
  std::array<FootIds, 2> feet_{};            // legs 0 and 2
  std::array<Vec3, 2> tips_before_{};        // feet tips a step ago
  int foot_floor_ = -1;                      // the plane the feet stand on
  int head_camera_ = -1;

  OffscreenContext gl_;
  mjvScene scene_{};
  mjrContext context_{};       // the head camera's
  mjrContext film_context_{};  // the video's, made at its first frame
  bool film_context_ready_ = false;
  mjvOption options_{};
  mjvCamera camera_{};
  mjvCamera overview_{};                  // the video's third-person camera
  std::vector<unsigned char> bottom_up_;  // what the renderer gives, before the flip
  std::vector<unsigned char> rendered_;   // the head camera's whole rendered image
  std::vector<float> flat_emission_;      // the materials' own emission, for the robot's camera
  std::vector<int> robot_materials_;      // the robot's parts, lightened in the video
  // What the head camera's last image was drawn from: its pose, and each
  // geom's pose and whether it was in view.
  bool rendered_once_ = false;
  std::array<double, 12> camera_pose_{};
  std::vector<std::array<double, 12>> geom_poses_;
  std::vector<bool> geom_seen_;
};

}  // namespace sim
