// A window on the run as it goes, for people: the engine draws the robot in
// it, and the keys and mouse it takes pace the run (pause, one step, speed)
// or only change what is shown. It never changes the simulation itself: the
// run loop asks it how fast to go and when to hold, nothing more.
#pragma once

#include <string>
#include <vector>

namespace sim {

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
  // Whether one step was asked for while paused (the right arrow); the ask
  // is used up.
  virtual bool take_step() = 0;
  // Times real time the run goes at; 0: as fast as it can.
  virtual double speed() const = 0;
  // A picture of the window was asked for (its key): taken at the last
  // show(), rows top to bottom, three bytes a pixel; used up.
  struct Picture {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;
  };
  virtual bool take_picture(Picture &picture) = 0;
};

}  // namespace sim
