#include "sim/physics/engine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "sim/legs.h"
#include "sim/physics/pinhole.h"

namespace sim {

namespace {

// Joint j of the stand-in (sim/devices.h) is the model's joint and position
// actuator of this name.
constexpr std::array<const char *, joint_count> joint_names{
    "leg0_hip",  "leg0_roll", "leg0_knee", "leg1_hip",    "leg1_roll",
    "leg1_knee", "leg2_hip",  "leg2_roll", "leg2_knee",   "leg3_hip",
    "leg3_roll", "leg3_knee", "tete_coup", "tourne_tete", "coup_h"};
constexpr std::array<const char *, 2> foot_names{"leg0_foot", "leg2_foot"};

// Physics substeps are at most this long, and a controller step is a whole
// number of them.
constexpr double longest_substep = 0.002;  // s
// A foot whose centre moved less than this in a step is still: slow enough
// that a reach's last creep along the floor is over.
constexpr double still_foot = 5e-5;  // metres
// The image size the camera was fitted for: its pixels see the ground the
// controller's tables give, whatever the world's camera size.
constexpr int calibrated_side = 160;  // pixels, both ways
constexpr double calibrated_centre = calibrated_side / 2.0;

// The video's frames at most.
constexpr int largest_film = 1280;  // pixels, either way
// In the video, surfaces take light: a little of their own colour, the rest
// from a headlight, so the robot's shape shows.
constexpr float film_emission = 0.25f;
constexpr float film_robot_grey = 0.6f;

// Discs lie on the floor, each a little above the next in file order, so the
// first shows where they overlap, as in the kinematic world.
constexpr double disc_half_height = 0.00001;  // metres
constexpr double disc_layer = 0.00002;        // metres

std::size_t index(int i) { return static_cast<std::size_t>(i); }

// MuJoCo reports a fatal error through this hook and must not get control
// back; the exception carries it up to the call layer.
[[noreturn]] void physics_error(const char *message) {
  throw RunError(std::string("physics engine: ") + message);
}

// MuJoCo's own warnings would go to stdout, among the controller's console
// lines; they are the stand-in's messages.
void physics_warning(const char *message) {
  std::fprintf(stderr, "sim: warning: physics engine: %s\n", message);
}

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", value);
  return text;
}

// Red, green, blue bytes as MuJoCo's 0..1 colour, so a flat, unlit material
// renders back exactly these bytes.
std::string rgba(const std::array<std::uint8_t, 3> &color) {
  std::string out;
  for (const std::uint8_t channel : color) out += number(channel / 255.0) + " ";
  return out + "1";
}

int id_of(const mjModel *model, mjtObj type, const char *name, const char *what) {
  const int id = mj_name2id(model, type, name);
  if (id < 0) throw RunError(std::string("robot model: no ") + what + " named \"" + name + "\"");
  return id;
}

// The floor's top surface: its plane's height.
}  // namespace

std::string world_model_xml(const WorldConfig &world) {
  std::string xml = robot_model_xml;
  std::string assets;
  std::string discs;
  const std::size_t count = world.targets.size();
  for (std::size_t i = 0; i < count; ++i) {
    const Target &t = world.targets[i];
    const std::string name = "target" + std::to_string(i);
    assets += "    <material name=\"" + name + "\" rgba=\"" + rgba(t.color) +
              "\" emission=\"1\" specular=\"0\" shininess=\"0\" reflectance=\"0\"/>\n";
    const double lift = disc_half_height + disc_layer * static_cast<double>(count - 1 - i);
    discs += "    <geom name=\"" + name + "\" type=\"cylinder\" material=\"" + name + "\" size=\"" +
             number(t.radius) + " " + number(disc_half_height) + "\" pos=\"" + number(t.x) + " " +
             number(t.y) + " " + number(ground_z + lift) +
             "\" contype=\"0\" conaffinity=\"0\" group=\"1\"/>\n";
  }
  const std::size_t asset_end = xml.find("</asset>");
  const std::size_t world_end = xml.find("</worldbody>");
  if (asset_end == std::string::npos || world_end == std::string::npos)
    throw RunError("robot model: it has no <asset> or no <worldbody> section");
  xml.insert(world_end, discs);
  xml.insert(asset_end, assets);
  return xml;
}

ModelPointer compile_model(const std::string &xml) {
  // MuJoCo 2.2 compiles only files; its virtual file system holds the text.
  const std::unique_ptr<mjVFS> files = std::make_unique<mjVFS>();
  mj_defaultVFS(files.get());
  const char *name = "robot.xml";
  if (mj_makeEmptyFileVFS(files.get(), name, static_cast<int>(xml.size())) != 0)
    throw RunError("robot model: cannot be put into MuJoCo's file system");
  const int file = mj_findFileVFS(files.get(), name);
  std::copy(xml.begin(), xml.end(), static_cast<char *>(files->filedata[file]));
  char error[1000] = "";
  mjModel *model = mj_loadXML(name, files.get(), error, sizeof error);
  mj_deleteVFS(files.get());
  if (model == nullptr) throw RunError(std::string("robot model: ") + error);
  return ModelPointer(model);
}

PhysicsEngine::PhysicsEngine(const WorldConfig &world)
    : width_(world.camera_width),
      height_(world.camera_height),
      // MuJoCo's image centre is the centre of what it renders; a camera of
      // another size keeps the fitted centre by rendering the image that has
      // it in the middle and cutting the world's camera image out of it.
      rendered_width_(2 *
                      static_cast<int>(std::max(calibrated_centre, width_ - calibrated_centre))),
      rendered_height_(2 *
                       static_cast<int>(std::max(calibrated_centre, height_ - calibrated_centre))),
      crop_x_(rendered_width_ / 2 - static_cast<int>(calibrated_centre)),
      crop_y_(rendered_height_ / 2 - static_cast<int>(calibrated_centre)) {
  mju_user_error = physics_error;
  mju_user_warning = physics_warning;

  const double step_seconds = world.time_step_ms / 1000.0;
  substeps_ = std::max(1, static_cast<int>(std::ceil(step_seconds / longest_substep - 1e-9)));

  model_ = compile_model(world_model_xml(world));
  model_->opt.timestep = step_seconds / substeps_;
  // The camera's offscreen buffer is just its size: every frame clears the
  // whole buffer, and that is a large part of a small frame's cost.
  model_->vis.global.offwidth = rendered_width_;
  model_->vis.global.offheight = rendered_height_;

  for (int j = 0; j < joint_count; ++j) {
    const int joint = id_of(model_.get(), mjOBJ_JOINT, joint_names[index(j)], "joint");
    qpos_address_[index(j)] = model_->jnt_qposadr[joint];
    actuator_[index(j)] = id_of(model_.get(), mjOBJ_ACTUATOR, joint_names[index(j)], "actuator");
  }
  for (std::size_t i = 0; i < feet_.size(); ++i) {
    feet_[i].geom = id_of(model_.get(), mjOBJ_GEOM, foot_names[i], "geom");
    feet_[i].site = id_of(model_.get(), mjOBJ_SITE, foot_names[i], "site");
  }
  foot_floor_ = id_of(model_.get(), mjOBJ_GEOM, "foot_floor", "geom");
  head_camera_ = id_of(model_.get(), mjOBJ_CAMERA, "eye", "camera");
  // The same focal length in pixels over the taller rendered image.
  const double focal =
      physics::focal_pixels(model_->cam_fovy[head_camera_], 2.0 * calibrated_centre);
  model_->cam_fovy[head_camera_] = 360.0 / mjPI * std::atan(rendered_height_ / 2.0 / focal);

  // The robot starts in the pose its first set-points give (the model's
  // keyframe), not with straight legs pushed into the floor.
  data_.reset(mj_makeData(model_.get()));
  if (model_->nkey > 0) mj_resetDataKeyframe(model_.get(), data_.get(), 0);
  mj_forward(model_.get(), data_.get());
  for (int j = 0; j < joint_count; ++j) start_[index(j)] = data_->qpos[qpos_address_[index(j)]];
  for (std::size_t i = 0; i < feet_.size(); ++i) tips_before_[i] = tip(reaching_legs[i]);

  mjv_defaultOption(&options_);
  mjv_defaultScene(&scene_);
  mjv_makeScene(model_.get(), &scene_, 2000);
  mjr_defaultContext(&context_);
  mjr_makeContext(model_.get(), &context_, mjFONTSCALE_100);
  mjr_setBuffer(mjFB_OFFSCREEN, &context_);
  // Flat colours: what the camera sees is exactly each material's colour.
  for (const int flag : {mjRND_SHADOW, mjRND_WIREFRAME, mjRND_REFLECTION, mjRND_ADDITIVE,
                         mjRND_SKYBOX, mjRND_FOG, mjRND_HAZE})
    scene_.flags[flag] = 0;
  mjv_defaultCamera(&camera_);
  camera_.type = mjCAMERA_FIXED;
  camera_.fixedcamid = head_camera_;
  rendered_.resize(static_cast<std::size_t>(rendered_width_) *
                   static_cast<std::size_t>(rendered_height_) * 3u);
  flat_emission_.assign(model_->mat_emission, model_->mat_emission + model_->nmat);
  geom_poses_.resize(index(model_->ngeom));
  geom_seen_.resize(index(model_->ngeom));
  // From the front left and above, at the robot and the ground its front
  // legs reach.
  mjv_defaultCamera(&overview_);
  overview_.type = mjCAMERA_FREE;
  overview_.lookat[0] = -0.02;
  overview_.lookat[1] = 0.0;
  overview_.lookat[2] = -0.075;
  overview_.distance = 0.42;
  overview_.azimuth = 215.0;
  overview_.elevation = -30.0;
  // The robot's parts are near black for its own camera, where they must
  // never count as red; the video shows them light grey.
  for (const char *name : {"robot", "joint"})
    if (const int material = mj_name2id(model_.get(), mjOBJ_MATERIAL, name); material >= 0)
      robot_materials_.push_back(material);
}

PhysicsEngine::~PhysicsEngine() {
  mjr_freeContext(&context_);
  if (film_context_ready_) mjr_freeContext(&film_context_);
  mjv_freeScene(&scene_);
}

void PhysicsEngine::advance(const SetPoints &set_points) {
  for (int j = 0; j < joint_count; ++j)
    data_->ctrl[actuator_[index(j)]] = set_points.given(j) ? set_points.value(j) : start_[index(j)];
  for (std::size_t i = 0; i < feet_.size(); ++i) tips_before_[i] = tip(reaching_legs[i]);
  for (int s = 0; s < substeps_; ++s) mj_step(model_.get(), data_.get());
}

double PhysicsEngine::position(int joint) const { return data_->qpos[qpos_address_[index(joint)]]; }

bool PhysicsEngine::render(std::span<unsigned char> image) {
  if (!view_changed()) return false;
  draw(context_, camera_, rendered_width_, rendered_height_, rendered_);
  const std::size_t row = static_cast<std::size_t>(width_) * 3u;
  const std::size_t rendered_row = static_cast<std::size_t>(rendered_width_) * 3u;
  for (int y = 0; y < height_; ++y)
    std::copy_n(rendered_.begin() +
                    static_cast<long>(rendered_row * index(y + crop_y_) + 3u * index(crop_x_)),
                row, image.begin() + static_cast<long>(row * index(y)));
  return true;
}

bool PhysicsEngine::in_view(int geom) const {
  const mjtNum *camera_at = data_->cam_xpos + 3 * head_camera_;
  const mjtNum *axes = data_->cam_xmat + 9 * head_camera_;  // columns: right, up, backwards
  const mjtNum *centre = data_->geom_xpos + 3 * geom;
  mjtNum local[3];
  for (int i = 0; i < 3; ++i) {
    local[i] = 0.0;
    for (int k = 0; k < 3; ++k) local[i] += axes[3 * k + i] * (centre[k] - camera_at[k]);
  }
  const double radius = model_->geom_rbound[geom];
  const double depth = -local[2];
  if (depth < -radius) return false;  // wholly behind the camera
  // The bounding sphere against the four side planes of the view pyramid.
  const double focal = physics::focal_pixels(model_->cam_fovy[head_camera_], rendered_height_);
  const double tan_x = rendered_width_ / 2.0 / focal;
  const double tan_y = rendered_height_ / 2.0 / focal;
  return std::abs(local[0]) - depth * tan_x <= radius * std::sqrt(1.0 + tan_x * tan_x) &&
         std::abs(local[1]) - depth * tan_y <= radius * std::sqrt(1.0 + tan_y * tan_y);
}

bool PhysicsEngine::view_changed() {
  // Rendering is most of a step's cost, and between the head's motions the
  // camera looks at ground where nothing moves: a new image is drawn only
  // when the camera moved, or a part of the robot moved in or out of view or
  // within it. Moves far below a pixel's width (1e-6 m or rad: about a
  // thousandth of a pixel) leave the image as it is, so a servo's last
  // creep towards its set-point does not cost a frame per step.
  constexpr double unmoved = 1e-6;
  const auto moved = [&](const mjtNum *now, std::array<double, 12> &before) {
    bool changed = false;
    for (std::size_t i = 0; i < before.size(); ++i)
      changed = changed || std::abs(now[i] - before[i]) > unmoved;
    return changed;
  };
  // Position and rotation matrix of thing i, from the data's arrays of them.
  const auto pose_of = [](const mjtNum *positions, const mjtNum *rotations, int i) {
    std::array<double, 12> pose{};
    std::copy_n(positions + 3 * i, 3, pose.begin());
    std::copy_n(rotations + 9 * i, 9, pose.begin() + 3);
    return pose;
  };
  const std::array<double, 12> camera_now = pose_of(data_->cam_xpos, data_->cam_xmat, head_camera_);
  bool changed = !rendered_once_ || moved(camera_now.data(), camera_pose_);
  for (int g = 0; g < model_->ngeom && !changed; ++g) {
    if (model_->geom_bodyid[g] == 0 || model_->geom_group[g] >= 3) continue;  // static or hidden
    const std::array<double, 12> now = pose_of(data_->geom_xpos, data_->geom_xmat, g);
    changed = moved(now.data(), geom_poses_[index(g)]) && (geom_seen_[index(g)] || in_view(g));
  }
  if (!changed) return false;
  camera_pose_ = camera_now;
  for (int g = 0; g < model_->ngeom; ++g) {
    geom_poses_[index(g)] = pose_of(data_->geom_xpos, data_->geom_xmat, g);
    geom_seen_[index(g)] = in_view(g);
  }
  rendered_once_ = true;
  return true;
}

void PhysicsEngine::draw(mjrContext &context, mjvCamera &camera, int width, int height,
                         std::span<unsigned char> image) {
  const mjrRect viewport{0, 0, width, height};
  mjv_updateScene(model_.get(), data_.get(), &options_, nullptr, &camera, mjCAT_ALL, &scene_);
  mjr_setBuffer(mjFB_OFFSCREEN, &context);
  mjr_render(viewport, &scene_, &context);
  const std::size_t row = static_cast<std::size_t>(width) * 3u;
  bottom_up_.resize(row * index(height));
  mjr_readPixels(bottom_up_.data(), nullptr, viewport, &context);
  // OpenGL's rows run bottom to top; images here run top to bottom.
  for (int y = 0; y < height; ++y)
    std::copy_n(bottom_up_.begin() + static_cast<long>(row * index(height - 1 - y)), row,
                image.begin() + static_cast<long>(row * index(y)));
}

void PhysicsEngine::film(int width, int height, std::span<unsigned char> frame) {
  width = std::min(width, largest_film);
  height = std::min(height, largest_film);
  if (!film_context_ready_) {
    // A buffer of its own, so the camera's stays small.
    const int camera_width = model_->vis.global.offwidth;
    const int camera_height = model_->vis.global.offheight;
    model_->vis.global.offwidth = largest_film;
    model_->vis.global.offheight = largest_film;
    mjr_defaultContext(&film_context_);
    mjr_makeContext(model_.get(), &film_context_, mjFONTSCALE_100);
    model_->vis.global.offwidth = camera_width;
    model_->vis.global.offheight = camera_height;
    film_context_ready_ = true;
  }
  mjVisual &visual = model_->vis;
  const mjVisual flat = visual;
  const std::vector<float> flat_rgba(model_->mat_rgba, model_->mat_rgba + 4 * model_->nmat);
  for (int m = 0; m < model_->nmat; ++m) model_->mat_emission[m] = film_emission;
  for (const int m : robot_materials_)
    for (int c = 0; c < 3; ++c) model_->mat_rgba[4 * m + c] = film_robot_grey;
  for (int c = 0; c < 3; ++c) {
    visual.headlight.ambient[c] = 0.25f;
    visual.headlight.diffuse[c] = 0.6f;
    visual.headlight.specular[c] = 0.1f;
  }
  draw(film_context_, overview_, width, height, frame);
  // Back to the flat colours the robot's camera must see.
  visual = flat;
  std::copy(flat_emission_.begin(), flat_emission_.end(), model_->mat_emission);
  std::copy(flat_rgba.begin(), flat_rgba.end(), model_->mat_rgba);
}

std::optional<Vec2> PhysicsEngine::ground_seen(double u, double v) const {
  return physics::pixel_ground_point(physics::camera_pose(*data_, head_camera_),
                                     model_->cam_fovy[head_camera_], rendered_width_,
                                     rendered_height_, u + crop_x_, v + crop_y_);
}

Vec3 PhysicsEngine::tip(int leg) const {
  const mjtNum *at = data_->site_xpos + 3 * feet_[leg == 0 ? 0 : 1].site;
  return {at[0], at[1], at[2]};
}

Foot PhysicsEngine::foot(int leg) const {
  const std::size_t i = leg == 0 ? 0 : 1;
  const Vec3 now = tip(leg);
  const Vec3 &before = tips_before_[i];
  Foot result{now, false,
              std::hypot(now.x - before.x, now.y - before.y, now.z - before.z) < still_foot};
  for (int c = 0; c < data_->ncon; ++c) {
    const mjContact &contact = data_->contact[c];
    const bool foot_and_floor = (contact.geom1 == feet_[i].geom && contact.geom2 == foot_floor_) ||
                                (contact.geom2 == feet_[i].geom && contact.geom1 == foot_floor_);
    if (!foot_and_floor) continue;
    // The foot's sphere stands on a plane one radius below the visible floor,
    // so its centre is where it touches the floor people see.
    result.on_ground = true;
    break;
  }
  return result;
}

}  // namespace sim
