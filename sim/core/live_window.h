// A window on the run as it goes, for people: the engine draws the robot in
// it, and the keys and mouse it takes pace the run (pause, one step, speed)
// or only change what is shown. It never changes the simulation itself: the
// run loop asks it how fast to go and when to hold, nothing more.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/core/engine.h"
#include "sim/core/geometry.h"
#include "sim/core/joints.h"

namespace sim {

// A mark on the floor, in the top view's colours and shapes: where a reach
// aimed, and where its foot came down (or hung, or was when the run ended).
struct FloorMark {
  enum class Kind { aimed, on_target, off_target, no_contact, unfinished };
  Kind kind = Kind::aimed;
  Vec3 at;  // world frame, metres; drawn on the floor below
};

class LiveWindow {
 public:
  virtual ~LiveWindow() = default;
  // Draws the run as it is now, with `status` along the bottom.
  virtual void show(const std::string &status) = 0;
  // Handles what the keys and mouse did, waiting up to `seconds` for them.
  virtual void wait(double seconds) = 0;
  // The window was closed: the run should end as on an interrupt.
  virtual bool closed() const = 0;
  virtual bool paused() const = 0;
  // Holds the run, as space does: for a run that starts paused.
  virtual void pause() = 0;
  // Whether a step was asked for while paused (the right arrow): each press
  // is one step, and each ask taken is used up.
  virtual bool take_step() = 0;
  // Steps a replay was asked to go back (negative) or forward by, beyond
  // take_step: the left arrow one back, page up and down a hundred, home and
  // end to either end; used up. A live run cannot go back and ignores it.
  virtual long take_scrub() = 0;
  // Times real time the run goes at; 0: as fast as it can.
  virtual double speed() const = 0;
  // The speed as a status line says it: "as fast as it can", "1/4x", "8x".
  std::string speed_text() const {
    const double times = speed();
    char text[32];
    if (times == 0.0)
      std::snprintf(text, sizeof text, "as fast as it can");
    else if (times < 1.0)
      std::snprintf(text, sizeof text, "1/%gx", 1.0 / times);
    else
      std::snprintf(text, sizeof text, "%gx", times);
    return text;
  }
  // A picture of the window was asked for (its key): taken at the last
  // show(), rows top to bottom, three bytes a pixel; used up.
  struct Picture {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;
  };
  virtual bool take_picture(Picture &picture) = 0;
  // The head camera's image as the controller last read it, shown in a
  // corner, with the target window a reach was decided on outlined (its
  // top-left pixel; side pixels a side).
  struct Outline {
    int x = 0;
    int y = 0;
    int side = 0;
  };
  virtual void set_inset(int width, int height, std::span<const unsigned char> rgb,
                         std::optional<Outline> outline) = 0;
  virtual void set_floor_marks(std::vector<FloorMark> marks) = 0;
  // A disc a person dragged across the floor and let go of: which one (in
  // world-file order) and where its centre now lies (world frame, metres).
  struct DiscMove {
    std::size_t disc = 0;
    Vec2 to;
  };
  // The last disc let go of since the last ask, if any; used up.
  virtual std::optional<DiscMove> take_disc_move() = 0;
  // A disc is held: the run waits until it is let go of, so that the robot
  // never sees a disc half way.
  virtual bool dragging() const = 0;
};

// A finished run's robot in the model it ran in, posed by whoever replays
// it, in a window.
class ReplayView {
 public:
  virtual ~ReplayView() = default;
  // Every joint's position (rad, joint order) and the torso's pose.
  virtual void pose(const std::array<double, joint_count> &joints, const TorsoPose &torso) = 0;
  virtual LiveWindow &window() = 0;
};

}  // namespace sim
