// The physics engine's live window: GLFW, drawn by MuJoCo's own renderer in
// the model's own look (lit, shaded, the checker floor), with the mouse
// orbiting, panning and zooming a free camera. Its OpenGL context is current
// only while it draws; the offscreen one the head camera draws with is put
// back after.
#pragma once

#include <mujoco/mujoco.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/core/live_window.h"

struct GLFWwindow;

namespace sim {

// Why no window can be opened here (no display, or one that cannot be
// reached), or nothing when one can.
std::optional<std::string> window_unavailable();

class PhysicsWindow final : public LiveWindow {
 public:
  // Throws RunError when the window cannot be opened.
  PhysicsWindow(const mjModel &model, const mjData &data);
  ~PhysicsWindow() override;
  PhysicsWindow(const PhysicsWindow &) = delete;
  PhysicsWindow &operator=(const PhysicsWindow &) = delete;

  void show(const std::string &status) override;
  void wait(double seconds) override;
  bool closed() const override;
  bool paused() const override { return paused_; }
  bool take_step() override;
  double speed() const override;
  bool take_picture(Picture &picture) override;
  void set_inset(int width, int height, std::span<const unsigned char> rgb,
                 std::optional<Outline> outline) override;
  void set_floor_marks(std::vector<FloorMark> marks) override { marks_ = std::move(marks); }

 private:
  static void on_key(GLFWwindow *window, int key, int scancode, int action, int mods);
  static void on_button(GLFWwindow *window, int button, int action, int mods);
  static void on_move(GLFWwindow *window, double x, double y);
  static void on_scroll(GLFWwindow *window, double dx, double dy);
  void key(int key, int mods);
  void add_floor_marks();
  void draw_inset(const mjrRect &viewport);

  const mjModel &model_;
  const mjData &data_;
  GLFWwindow *window_ = nullptr;
  mjvScene scene_{};
  mjvOption options_{};
  mjvCamera camera_{};
  mjrContext context_{};
  bool paused_ = false;
  bool step_asked_ = false;
  int speed_index_;  // into the speeds; one past the last: as fast as it can
  bool help_ = false;
  bool picture_asked_ = false;
  std::optional<Picture> picture_;
  std::vector<FloorMark> marks_;
  // The inset as drawn: rows bottom to top, scaled.
  std::vector<unsigned char> inset_;
  int inset_width_ = 0;
  int inset_height_ = 0;
  std::optional<Outline> outline_;  // in the inset's pixels, rows top to bottom
  // The mouse: which buttons are down, and where it was.
  bool left_ = false;
  bool right_ = false;
  bool middle_ = false;
  double last_x_ = 0.0;
  double last_y_ = 0.0;
};

}  // namespace sim
