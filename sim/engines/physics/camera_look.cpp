#include "sim/engines/physics/camera_look.h"

#include <algorithm>
#include <string>

namespace sim {

void CameraLook::Materials::read(const mjModel &model) {
  const auto count = static_cast<std::size_t>(model.nmat);
  rgba.assign(model.mat_rgba, model.mat_rgba + 4 * count);
  emission.assign(model.mat_emission, model.mat_emission + count);
  specular.assign(model.mat_specular, model.mat_specular + count);
  shininess.assign(model.mat_shininess, model.mat_shininess + count);
  reflectance.assign(model.mat_reflectance, model.mat_reflectance + count);
  texture.assign(model.mat_texid, model.mat_texid + count);
}

void CameraLook::Materials::write(mjModel &model) const {
  std::copy(rgba.begin(), rgba.end(), model.mat_rgba);
  std::copy(emission.begin(), emission.end(), model.mat_emission);
  std::copy(specular.begin(), specular.end(), model.mat_specular);
  std::copy(shininess.begin(), shininess.end(), model.mat_shininess);
  std::copy(reflectance.begin(), reflectance.end(), model.mat_reflectance);
  std::copy(texture.begin(), texture.end(), model.mat_texid);
}

CameraLook::CameraLook(const mjModel &model)
    : own_visual_(model.vis), own_lights_(model.light_active, model.light_active + model.nlight) {
  own_.read(model);
  flat_ = own_;
  for (int m = 0; m < model.nmat; ++m) {
    const auto i = static_cast<std::size_t>(m);
    const char *name = mj_id2name(&model, mjOBJ_MATERIAL, m);
    const int colour = name == nullptr ? -1
                                       : mj_name2id(&model, mjOBJ_NUMERIC,
                                                    ("camera_rgb_" + std::string(name)).c_str());
    if (colour >= 0 && model.numeric_size[colour] == 3)
      for (std::size_t c = 0; c < 3; ++c)
        flat_.rgba[4 * i + c] = static_cast<float>(
            model.numeric_data[model.numeric_adr[colour] + static_cast<int>(c)] / 255.0);
    // Emitted whole, with no light and no texture: the colour is exactly rgba.
    flat_.emission[i] = 1.0f;
    flat_.specular[i] = 0.0f;
    flat_.shininess[i] = 0.0f;
    flat_.reflectance[i] = 0.0f;
    flat_.texture[i] = -1;
  }
}

CameraLook::Worn::Worn(const CameraLook &look, mjModel &model) : look_(look), model_(model) {
  look.flat_.write(model);
  for (float *light :
       {model.vis.headlight.ambient, model.vis.headlight.diffuse, model.vis.headlight.specular})
    std::fill_n(light, 3, 0.0f);
  std::fill_n(model.light_active, model.nlight, mjtByte{0});
}

CameraLook::Worn::~Worn() {
  look_.own_.write(model_);
  model_.vis.headlight = look_.own_visual_.headlight;
  std::copy(look_.own_lights_.begin(), look_.own_lights_.end(), model_.light_active);
}

}  // namespace sim
