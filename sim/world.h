// The stand-in's world: the robot's joints, legs and camera, the clock, and
// the records of everything the controller asked of the library and of where
// its feet came to rest.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "sim/camera.h"
#include "sim/config.h"
#include "sim/engine.h"
#include "sim/pictures.h"
#include "sim/report.h"
#include "sim/trace.h"

namespace sim {

class World {
 public:
  // output_folder empty: no trace, report or pictures are written. An output
  // folder where the trace cannot be written ends the process with status 2.
  World(WorldConfig config, std::string output_folder);
  ~World();
  World(const World &) = delete;
  World &operator=(const World &) = delete;

  // The library's operations, one for one.
  void live(void (*init)());
  void run(int (*step_function)());
  // One step of the world. False once the world's steps are done: the run
  // is then finished (outputs written) and the caller ends the process.
  bool step(std::int32_t ms);
  std::uint8_t get_device(const char *name);
  void set_position(std::uint8_t tag, float position);
  void enable_camera(std::uint8_t tag, std::int32_t ms);
  void enable_receiver(std::uint8_t tag, std::int32_t ms);
  void enable_keyboard(std::int32_t ms);
  const unsigned char *camera_image(std::uint8_t tag);
  std::uint16_t camera_width(std::uint8_t tag);
  std::uint16_t camera_height(std::uint8_t tag);
  char *text_buffer();
  void console_print(const char *text);

  // Ends the run: completes the trace, writes the report and the pictures,
  // and prints the summary line. Idempotent.
  void finish();
  // The process's exit status once the run is finished: 0, or 2 if an output
  // could not be written (each failure was reported on stderr).
  int exit_status() const { return outputs_written_ ? 0 : 2; }

  std::int64_t steps_done() const { return steps_done_; }
  const Engine &engine() const { return *engine_; }
  const SetPoints &set_points() const { return set_points_; }
  const Camera &camera() const { return camera_; }
  const WorldConfig &config() const { return config_; }
  const std::vector<Placement> &placements() const { return watch_.placements(); }

 private:
  // The device behind tag if it is of the wanted kind; otherwise warns once
  // per operation and tag (tag 0 was warned about at its look-up) and says no.
  bool check(std::uint8_t tag, DeviceKind wanted, const char *op);
  void warn(const std::string &message);
  // Saves the camera image once the head has come to rest in a new pose.
  void watch_head();
  void write_outputs();
  void output_failed(const std::string &name);

  WorldConfig config_;
  std::string output_folder_;
  SetPoints set_points_;
  std::unique_ptr<Engine> engine_;
  Camera camera_;
  Trace trace_;
  std::int64_t steps_done_ = 0;
  std::int64_t idle_calls_ = 0;  // step-function calls in a row that took no step
  std::array<char, 1024> text_{};
  std::set<std::string> warned_;
  PlacementWatch watch_;
  JointHistory history_;  // only kept when there is an output folder
  bool head_still_ = false;
  std::array<double, 3> head_before_{};  // head joints' positions a step ago
  std::array<int, 3> frames_saved_{};    // per View
  bool outputs_written_ = true;
  bool finished_ = false;
};

// The world of this process, created at the first call from SIM_WORLD and
// SIM_OUTPUT. A world file it cannot use ends the process with status 2.
World &the_world();

}  // namespace sim
