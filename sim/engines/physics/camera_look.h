// The head camera's look: exact flat colours. The model's own look is for
// people (lit, shaded, a checker floor); while the head camera renders, every
// material emits its camera colour and takes no light, so the image holds
// exactly the colours the controller's tables were made for.
#pragma once

#include <mujoco/mujoco.h>

#include <vector>

namespace sim {

class CameraLook {
 public:
  // Each material's camera colour is the model's numeric "camera_rgb_<name>"
  // (red, green, blue bytes); a material without one shows its own rgba.
  explicit CameraLook(const mjModel &model);

  // The model in the camera's look for as long as this lives; its own look
  // comes back after.
  class Worn {
   public:
    Worn(const CameraLook &look, mjModel &model);
    ~Worn();
    Worn(const Worn &) = delete;
    Worn &operator=(const Worn &) = delete;

   private:
    const CameraLook &look_;
    mjModel &model_;
  };

 private:
  // Per material: rgba, emission, specular, shininess, reflectance, texture.
  struct Materials {
    std::vector<float> rgba, emission, specular, shininess, reflectance;
    std::vector<int> texture;
    void read(const mjModel &model);
    void write(mjModel &model) const;
  };
  Materials flat_;
  Materials own_;
  mjVisual own_visual_{};
  std::vector<mjtByte> own_lights_;
};

}  // namespace sim
