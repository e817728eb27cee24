#include "sim/engines/physics/window.h"

#include <EGL/egl.h>
#include <GLFW/glfw3.h>
#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "sim/core/errors.h"

namespace sim {

namespace {

constexpr std::array<double, 9> speeds{1.0 / 16, 1.0 / 8, 1.0 / 4, 1.0 / 2, 1.0,
                                       2.0,      4.0,     8.0,     16.0};
constexpr int real_time = 4;  // speeds[real_time] == 1
constexpr int as_fast_as_it_can = static_cast<int>(speeds.size());
// More steps than any run has: home and end go to its ends.
constexpr long scrub_to_an_end = 1'000'000'000'000L;
// The inset's longer side.
constexpr double inset_side = 200.0;  // pixels

// The last error GLFW reported, for messages.
std::string glfw_error;
void on_glfw_error(int, const char *description) { glfw_error = description; }

const char *const help_keys =
    "space\nright arrow\nleft, pg up/down, home/end\n+  -\nc\nmouse left\nmouse right\nwheel, "
    "middle\nctrl + mouse "
    "left\np\nF1";
const char *const help_what =
    "pause, go on\none step while paused\na replay: back 1, 100 back/on, to an end\nspeed 1/16x .. "
    "16x, as fast as it can\n"
    "contact forces\norbit (shift: about the vertical)\npan\nzoom\n"
    "drag a disc (the run waits while it is held)\na picture of the window\nthis help";

// The offscreen context current on this thread, put back when this ends.
class OffscreenKept {
 public:
  OffscreenKept()
      : display_(eglGetCurrentDisplay()),
        draw_(eglGetCurrentSurface(EGL_DRAW)),
        read_(eglGetCurrentSurface(EGL_READ)),
        context_(eglGetCurrentContext()) {
    if (display_ != EGL_NO_DISPLAY)
      eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  }
  ~OffscreenKept() {
    if (display_ != EGL_NO_DISPLAY) eglMakeCurrent(display_, draw_, read_, context_);
  }
  OffscreenKept(const OffscreenKept &) = delete;
  OffscreenKept &operator=(const OffscreenKept &) = delete;

 private:
  EGLDisplay display_;
  EGLSurface draw_;
  EGLSurface read_;
  EGLContext context_;
};

std::string no_display_message(const std::string &why) {
  return "no window can be opened: " + why +
         ". Run on a desktop, under xvfb-run, or headless: without --view and with SIM_VIEW "
         "unset (the outputs are the same)";
}

// The OpenGL driver's libraries the window loaded stay loaded until the
// process ends, as they do where the offscreen context holds them too:
// closing the display would otherwise unload them with the allocations they
// never free, and a leak checker could no longer tell those were theirs.
void keep_drivers_loaded() {
  dl_iterate_phdr(
      [](dl_phdr_info *info, std::size_t, void *) {
        const std::string_view name = info->dlpi_name != nullptr ? info->dlpi_name : "";
        if (name.find("_dri.so") != std::string_view::npos ||
            name.find("libGLX_mesa") != std::string_view::npos)
          dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
        return 0;
      },
      nullptr);
}

}  // namespace

std::optional<std::string> window_unavailable() {
  const char *display = std::getenv("DISPLAY");
  const char *wayland = std::getenv("WAYLAND_DISPLAY");
  if ((display == nullptr || *display == '\0') && (wayland == nullptr || *wayland == '\0'))
    return no_display_message("DISPLAY is not set");
  glfwSetErrorCallback(on_glfw_error);
  if (glfwInit() != GLFW_TRUE)
    return no_display_message("the display DISPLAY=" + std::string(display ? display : "") +
                              " cannot be opened (" + glfw_error + ")");
  // Left open for the window: an X server whose last client leaves resets,
  // and refuses the next connection while it does.
  return std::nullopt;
}

PhysicsWindow::PhysicsWindow(const mjModel &model, const mjData &data)
    : model_(model), data_(data), speed_index_(real_time) {
  if (const std::optional<std::string> why = window_unavailable()) throw RunError(*why);
  glfwSetErrorCallback(on_glfw_error);
  if (glfwInit() != GLFW_TRUE) throw RunError(no_display_message(glfw_error));
  const OffscreenKept kept;
  window_ = glfwCreateWindow(1024, 640, "reacher-sim", nullptr, nullptr);
  if (window_ == nullptr) {
    glfwTerminate();
    throw RunError("the window cannot be opened (" + glfw_error + ")");
  }
  glfwMakeContextCurrent(window_);
  keep_drivers_loaded();
  glfwSwapInterval(0);
  mjv_defaultOption(&options_);
  mjv_defaultScene(&scene_);
  mjv_makeScene(&model, &scene_, 2000);
  mjr_defaultContext(&context_);
  mjr_makeContext(&model, &context_, mjFONTSCALE_150);
  // Where the video looks from, at first.
  mjv_defaultCamera(&camera_);
  camera_.type = mjCAMERA_FREE;
  camera_.lookat[0] = -0.02;
  camera_.lookat[1] = 0.0;
  camera_.lookat[2] = -0.075;
  camera_.distance = 0.55;
  camera_.azimuth = 215.0;
  camera_.elevation = -30.0;
  glfwMakeContextCurrent(nullptr);
  for (int i = 0;; ++i) {
    const std::string name = "target" + std::to_string(i);
    const int geom = mj_name2id(&model, mjOBJ_GEOM, name.c_str());
    if (geom < 0) break;
    disc_geoms_.push_back(geom);
  }
  const int floor = mj_name2id(&model, mjOBJ_GEOM, "floor");
  floor_z_ = floor >= 0 ? model.geom_pos[3 * floor + 2] : 0.0;
  glfwSetWindowUserPointer(window_, this);
  glfwSetKeyCallback(window_, on_key);
  glfwSetMouseButtonCallback(window_, on_button);
  glfwSetCursorPosCallback(window_, on_move);
  glfwSetScrollCallback(window_, on_scroll);
}

PhysicsWindow::~PhysicsWindow() {
  {
    const OffscreenKept kept;
    glfwMakeContextCurrent(window_);
    mjr_freeContext(&context_);
    mjv_freeScene(&scene_);
    glfwMakeContextCurrent(nullptr);
    glfwDestroyWindow(window_);
  }
  glfwTerminate();
}

void PhysicsWindow::show(const std::string &status) {
  const OffscreenKept kept;
  glfwMakeContextCurrent(window_);
  mjrRect viewport{0, 0, 0, 0};
  glfwGetFramebufferSize(window_, &viewport.width, &viewport.height);
  mjv_updateScene(&model_, const_cast<mjData *>(&data_), &options_, nullptr, &camera_, mjCAT_ALL,
                  &scene_);
  mjr_setBuffer(mjFB_WINDOW, &context_);
  // A held disc is shown where it is being dragged; the world has it where
  // it was until it is let go of.
  if (held_)
    for (int i = 0; i < scene_.ngeom; ++i) {
      mjvGeom &geom = scene_.geoms[i];
      if (geom.objtype != mjOBJ_GEOM || geom.objid != disc_geoms_[*held_]) continue;
      geom.pos[0] = static_cast<float>(held_at_.x);
      geom.pos[1] = static_cast<float>(held_at_.y);
    }
  add_floor_marks();
  mjr_render(viewport, &scene_, &context_);
  draw_inset(viewport);
  mjr_overlay(mjFONT_NORMAL, mjGRID_BOTTOMLEFT, viewport, status.c_str(), nullptr, &context_);
  if (help_) mjr_overlay(mjFONT_NORMAL, mjGRID_TOPLEFT, viewport, help_keys, help_what, &context_);
  if (picture_asked_) {
    picture_asked_ = false;
    Picture picture{viewport.width, viewport.height, {}};
    const std::size_t row = static_cast<std::size_t>(viewport.width) * 3u;
    std::vector<unsigned char> bottom_up(row * static_cast<std::size_t>(viewport.height));
    picture.rgb.resize(bottom_up.size());
    mjr_readPixels(bottom_up.data(), nullptr, viewport, &context_);
    for (int y = 0; y < viewport.height; ++y)
      std::memcpy(picture.rgb.data() + static_cast<std::size_t>(y) * row,
                  bottom_up.data() + static_cast<std::size_t>(viewport.height - 1 - y) * row, row);
    picture_ = std::move(picture);
  }
  glfwSwapBuffers(window_);
  glfwMakeContextCurrent(nullptr);
}

void PhysicsWindow::wait(double seconds) {
  if (seconds <= 0.0)
    glfwPollEvents();
  else
    glfwWaitEventsTimeout(seconds);
}

bool PhysicsWindow::closed() const { return glfwWindowShouldClose(window_) != 0; }

bool PhysicsWindow::take_step() {
  if (steps_asked_ == 0) return false;
  --steps_asked_;
  return true;
}

double PhysicsWindow::speed() const {
  return speed_index_ == as_fast_as_it_can ? 0.0 : speeds[static_cast<std::size_t>(speed_index_)];
}

std::optional<LiveWindow::DiscMove> PhysicsWindow::take_disc_move() {
  if (let_go_.empty()) return std::nullopt;
  const DiscMove move = let_go_.front();
  let_go_.erase(let_go_.begin());
  return move;
}

std::optional<Vec2> PhysicsWindow::floor_under(double x, double y) const {
  int width = 0;
  int height = 0;
  glfwGetWindowSize(window_, &width, &height);
  if (width < 1 || height < 1) return std::nullopt;
  // The ray from the eye through the point, in the frustum the last frame
  // was drawn with: its left and right edges match the window's aspect.
  const mjvGLCamera eye = mjv_averageCamera(&scene_.camera[0], &scene_.camera[1]);
  const double across = x / width - 0.5;
  const double up = 1.0 - y / height;
  const double tall = eye.frustum_top - eye.frustum_bottom;
  const double aspect = static_cast<double>(width) / height;
  const double right[3] = {eye.forward[1] * eye.up[2] - eye.forward[2] * eye.up[1],
                           eye.forward[2] * eye.up[0] - eye.forward[0] * eye.up[2],
                           eye.forward[0] * eye.up[1] - eye.forward[1] * eye.up[0]};
  const double sideways = eye.frustum_center + across * aspect * tall;
  const double upwards = eye.frustum_bottom + up * tall;
  double ray[3];
  for (int i = 0; i < 3; ++i)
    ray[i] = eye.forward[i] * eye.frustum_near + eye.up[i] * upwards + right[i] * sideways;
  // Where it meets the floor, in front of the eye.
  if (std::abs(ray[2]) < 1e-12) return std::nullopt;
  const double along = (floor_z_ - eye.pos[2]) / ray[2];
  if (!(along > 0.0)) return std::nullopt;
  return Vec2{eye.pos[0] + along * ray[0], eye.pos[1] + along * ray[1]};
}

void PhysicsWindow::grab_disc(double x, double y) {
  const std::optional<Vec2> at = floor_under(x, y);
  if (!at) return;
  // A small disc is hard to hit: one is taken up to a few millimetres beyond
  // its rim. Of several, the one whose rim is nearest, or on which the point
  // lies deepest; of equals, the first in the file, the one drawn on top.
  constexpr double beyond_rim = 0.003;  // metres
  std::optional<double> best;
  for (std::size_t i = 0; i < disc_geoms_.size(); ++i) {
    const int geom = disc_geoms_[i];
    const Vec2 centre{model_.geom_pos[3 * geom], model_.geom_pos[3 * geom + 1]};
    const double outside =
        std::hypot(at->x - centre.x, at->y - centre.y) - model_.geom_size[3 * geom];
    if (outside > beyond_rim || (best && outside >= *best)) continue;
    best = outside;
    held_ = i;
    held_at_ = centre;
    grab_offset_ = {centre.x - at->x, centre.y - at->y};
  }
}

bool PhysicsWindow::take_picture(Picture &picture) {
  if (!picture_) return false;
  picture = std::move(*picture_);
  picture_.reset();
  return true;
}

void PhysicsWindow::set_inset(int width, int height, std::span<const unsigned char> rgb,
                              std::optional<Outline> outline) {
  if (width < 1 || height < 1 ||
      rgb.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3u) {
    inset_.clear();
    return;
  }
  // A quarter of the window's height or so, whatever the camera's size.
  const double scale = inset_side / std::max(width, height);
  inset_width_ = std::max(1, static_cast<int>(width * scale));
  inset_height_ = std::max(1, static_cast<int>(height * scale));
  inset_.resize(static_cast<std::size_t>(inset_width_) * static_cast<std::size_t>(inset_height_) *
                3u);
  for (int y = 0; y < inset_height_; ++y) {
    const int from_y = std::min(height - 1, static_cast<int>(y / scale));
    for (int x = 0; x < inset_width_; ++x) {
      const int from_x = std::min(width - 1, static_cast<int>(x / scale));
      const std::size_t from = (static_cast<std::size_t>(from_y) * static_cast<std::size_t>(width) +
                                static_cast<std::size_t>(from_x)) *
                               3u;
      const std::size_t to = (static_cast<std::size_t>(inset_height_ - 1 - y) *
                                  static_cast<std::size_t>(inset_width_) +
                              static_cast<std::size_t>(x)) *
                             3u;
      std::memcpy(inset_.data() + to, rgb.data() + from, 3);
    }
  }
  outline_.reset();
  if (outline)
    outline_ = Outline{static_cast<int>(outline->x * scale), static_cast<int>(outline->y * scale),
                       std::max(3, static_cast<int>(outline->side * scale))};
}

void PhysicsWindow::draw_inset(const mjrRect &viewport) {
  if (inset_.empty()) return;
  const int left = viewport.width - inset_width_ - 12;
  const int bottom = viewport.height - inset_height_ - 12;
  if (left < 0 || bottom < 0) return;
  const float frame[4] = {1.0f, 1.0f, 1.0f, 1.0f};
  mjr_rectangle({left - 2, bottom - 2, inset_width_ + 4, inset_height_ + 4}, frame[0], frame[1],
                frame[2], frame[3]);
  mjr_drawPixels(inset_.data(), nullptr, {left, bottom, inset_width_, inset_height_}, &context_);
  if (!outline_) return;
  // The window outlined in yellow, 2 pixels thick, clipped to the inset.
  const int x0 = std::clamp(left + outline_->x - 2, left, left + inset_width_);
  const int x1 = std::clamp(left + outline_->x + outline_->side + 2, left, left + inset_width_);
  const int top = bottom + inset_height_;
  const int y1 = std::clamp(top - outline_->y + 2, bottom, top);
  const int y0 = std::clamp(top - outline_->y - outline_->side - 2, bottom, top);
  if (x1 - x0 < 2 || y1 - y0 < 2) return;
  for (const mjrRect edge : {mjrRect{x0, y0, x1 - x0, 2}, mjrRect{x0, y1 - 2, x1 - x0, 2},
                             mjrRect{x0, y0, 2, y1 - y0}, mjrRect{x1 - 2, y0, 2, y1 - y0}})
    mjr_rectangle(edge, 1.0f, 0.85f, 0.0f, 1.0f);
}

void PhysicsWindow::add_floor_marks() {
  const auto add = [&](int type, std::array<mjtNum, 3> size, const Vec3 &at, double turn,
                       std::array<float, 4> rgba) {
    if (scene_.ngeom >= scene_.maxgeom) return;
    mjvGeom *geom = scene_.geoms + scene_.ngeom;
    const mjtNum c = std::cos(turn);
    const mjtNum s = std::sin(turn);
    const mjtNum turned[9] = {c, -s, 0.0, s, c, 0.0, 0.0, 0.0, 1.0};
    const mjtNum where[3] = {at.x, at.y, at.z};
    mjv_initGeom(geom, type, size.data(), where, turned, rgba.data());
    geom->category = mjCAT_DECOR;
    geom->emission = 0.6f;
    ++scene_.ngeom;
  };
  // The top view's inks: green on a disc, black off every disc, purple hung
  // in the air, orange cut off by the run's end; aimed points small and white.
  constexpr double quarter = 0.78539816339744831;
  // On the floor the robot stands on, just above a disc's top.
  const int floor = mj_name2id(&model_, mjOBJ_GEOM, "floor");
  const double floor_z = floor >= 0 ? model_.geom_pos[3 * floor + 2] : 0.0;
  for (const FloorMark &mark : marks_) {
    Vec3 at = mark.at;
    at.z = floor_z + 0.0012;
    switch (mark.kind) {
      case FloorMark::Kind::aimed:
        add(mjGEOM_SPHERE, {0.0015, 0.0015, 0.0015}, at, 0.0, {1.0f, 1.0f, 1.0f, 1.0f});
        break;
      case FloorMark::Kind::on_target:
        add(mjGEOM_CYLINDER, {0.0035, 0.0005, 0.0}, at, 0.0, {0.05f, 0.6f, 0.25f, 1.0f});
        break;
      case FloorMark::Kind::off_target:
        for (const double turn : {quarter, -quarter})
          add(mjGEOM_BOX, {0.005, 0.0008, 0.0005}, at, turn, {0.05f, 0.05f, 0.05f, 1.0f});
        break;
      case FloorMark::Kind::no_contact:
        add(mjGEOM_SPHERE, {0.003, 0.003, 0.003}, at, 0.0, {0.55f, 0.15f, 0.65f, 1.0f});
        break;
      case FloorMark::Kind::unfinished:
        add(mjGEOM_BOX, {0.003, 0.003, 0.0005}, at, quarter, {0.85f, 0.45f, 0.0f, 1.0f});
        break;
    }
  }
}

void PhysicsWindow::key(int key, int mods) {
  switch (key) {
    case GLFW_KEY_SPACE:
      paused_ = !paused_;
      steps_asked_ = 0;
      break;
    case GLFW_KEY_RIGHT:
      if (paused_) ++steps_asked_;
      break;
    case GLFW_KEY_LEFT:
      scrub_ -= 1;
      break;
    case GLFW_KEY_PAGE_UP:
      scrub_ -= 100;
      break;
    case GLFW_KEY_PAGE_DOWN:
      scrub_ += 100;
      break;
    case GLFW_KEY_HOME:
      scrub_ = -scrub_to_an_end;
      break;
    case GLFW_KEY_END:
      scrub_ = scrub_to_an_end;
      break;
    case GLFW_KEY_EQUAL:  // '+' is shift and '=' on most keyboards
    case GLFW_KEY_KP_ADD:
      if (key == GLFW_KEY_EQUAL && (mods & GLFW_MOD_SHIFT) == 0) break;
      speed_index_ = std::min(speed_index_ + 1, as_fast_as_it_can);
      break;
    case GLFW_KEY_MINUS:
    case GLFW_KEY_KP_SUBTRACT:
      speed_index_ = std::max(speed_index_ - 1, 0);
      break;
    case GLFW_KEY_C:
      options_.flags[mjVIS_CONTACTFORCE] = !options_.flags[mjVIS_CONTACTFORCE];
      options_.flags[mjVIS_CONTACTPOINT] = options_.flags[mjVIS_CONTACTFORCE];
      break;
    case GLFW_KEY_P:
      picture_asked_ = true;
      break;
    case GLFW_KEY_F1:
      help_ = !help_;
      break;
    default:
      break;
  }
}

void PhysicsWindow::on_key(GLFWwindow *window, int key, int, int action, int mods) {
  if (action == GLFW_RELEASE) return;
  auto *self = static_cast<PhysicsWindow *>(glfwGetWindowUserPointer(window));
  // Held down, only the steps repeat.
  if (action == GLFW_REPEAT && key != GLFW_KEY_RIGHT && key != GLFW_KEY_LEFT) return;
  self->key(key, mods);
}

void PhysicsWindow::on_button(GLFWwindow *window, int button, int action, int mods) {
  auto *self = static_cast<PhysicsWindow *>(glfwGetWindowUserPointer(window));
  if (button == GLFW_MOUSE_BUTTON_LEFT) {
    if (action == GLFW_PRESS && (mods & GLFW_MOD_CONTROL) != 0) {
      double x = 0.0;
      double y = 0.0;
      glfwGetCursorPos(window, &x, &y);
      self->grab_disc(x, y);
    } else if (action == GLFW_RELEASE && self->held_) {
      self->let_go_.push_back({*self->held_, self->held_at_});
      self->held_.reset();
    }
  }
  // A held disc is dragged; the view stays as it is meanwhile.
  self->left_ = !self->held_ && glfwGetMouseButton(window, GLFW_MOUSE_BUTTON_LEFT) == GLFW_PRESS;
  self->right_ = glfwGetMouseButton(window, GLFW_MOUSE_BUTTON_RIGHT) == GLFW_PRESS;
  self->middle_ = glfwGetMouseButton(window, GLFW_MOUSE_BUTTON_MIDDLE) == GLFW_PRESS;
  glfwGetCursorPos(window, &self->last_x_, &self->last_y_);
}

void PhysicsWindow::on_move(GLFWwindow *window, double x, double y) {
  auto *self = static_cast<PhysicsWindow *>(glfwGetWindowUserPointer(window));
  const double dx = x - self->last_x_;
  const double dy = y - self->last_y_;
  self->last_x_ = x;
  self->last_y_ = y;
  if (self->held_) {
    if (const std::optional<Vec2> at = self->floor_under(x, y))
      self->held_at_ = {at->x + self->grab_offset_.x, at->y + self->grab_offset_.y};
    return;
  }
  if (!self->left_ && !self->right_ && !self->middle_) return;
  int width = 0;
  int height = 0;
  glfwGetWindowSize(window, &width, &height);
  if (height < 1) return;
  const bool shift = glfwGetKey(window, GLFW_KEY_LEFT_SHIFT) == GLFW_PRESS ||
                     glfwGetKey(window, GLFW_KEY_RIGHT_SHIFT) == GLFW_PRESS;
  mjtMouse action = mjMOUSE_ZOOM;
  if (self->right_)
    action = shift ? mjMOUSE_MOVE_H : mjMOUSE_MOVE_V;
  else if (self->left_)
    action = shift ? mjMOUSE_ROTATE_H : mjMOUSE_ROTATE_V;
  mjv_moveCamera(&self->model_, action, dx / height, dy / height, &self->scene_, &self->camera_);
}

void PhysicsWindow::on_scroll(GLFWwindow *window, double, double dy) {
  auto *self = static_cast<PhysicsWindow *>(glfwGetWindowUserPointer(window));
  mjv_moveCamera(&self->model_, mjMOUSE_ZOOM, 0.0, -0.05 * dy, &self->scene_, &self->camera_);
}

}  // namespace sim
