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
  long take_scrub() override { return std::exchange(scrub_, 0); }
  double speed() const override;
  bool take_picture(Picture &picture) override;
  void set_inset(int width, int height, std::span<const unsigned char> rgb,
                 std::optional<Outline> outline) override;
  void set_floor_marks(std::vector<FloorMark> marks) override { marks_ = std::move(marks); }
  std::optional<DiscMove> take_disc_move() override;
  bool dragging() const override { return held_.has_value(); }
  void pause() override { paused_ = true; }

 private:
  static void on_key(GLFWwindow *window, int key, int scancode, int action, int mods);
  static void on_button(GLFWwindow *window, int button, int action, int mods);
  static void on_move(GLFWwindow *window, double x, double y);
  static void on_scroll(GLFWwindow *window, double dx, double dy);
  void key(int key, int mods);
  void add_floor_marks();
  void draw_inset(const mjrRect &viewport);
  // The floor point under the window's point (x, y) (screen coordinates, from
  // the top left), as the last frame showed it; none above the horizon.
  std::optional<Vec2> floor_under(double x, double y) const;
  // Takes hold of the disc under the window's point (x, y), if any.
  void grab_disc(double x, double y);

  const mjModel &model_;
  const mjData &data_;
  GLFWwindow *window_ = nullptr;
  mjvScene scene_{};
  mjvOption options_{};
  mjvCamera camera_{};
  mjrContext context_{};
  bool paused_ = false;
  int steps_asked_ = 0;  // right arrows pressed while paused, not yet taken
  long scrub_ = 0;
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
  // The discs' geoms, in world-file order, and the floor they lie on.
  std::vector<int> disc_geoms_;
  double floor_z_ = 0.0;
  // The disc held (ctrl + left drag), where its centre is shown, and its
  // centre less the floor point it was grabbed at, so it does not jump.
  std::optional<std::size_t> held_;
  Vec2 held_at_;
  Vec2 grab_offset_;
  std::vector<DiscMove> let_go_;  // in order, until taken
};

}  // namespace sim
