// The stand-in's world as the controller library's functions see it: the
// device table, the set-points, the camera buffer, an engine that moves the
// robot, and the records of the run (trace, report, pictures, state log,
// video).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "sim/camera.h"
#include "sim/config.h"
#include "sim/engine.h"
#include "sim/output_folder.h"
#include "sim/pictures.h"
#include "sim/progress.h"
#include "sim/reaches.h"
#include "sim/report.h"
#include "sim/state_log.h"
#include "sim/trace.h"
#include "sim/video.h"

namespace sim {

struct RunRecord;

class World {
 public:
  // output_folder empty: nothing is written. Throws RunError when the engine
  // or an output cannot be started.
  World(WorldConfig config, std::string output_folder);
  ~World();
  World(const World &) = delete;
  World &operator=(const World &) = delete;

  // The library's operations, one for one.
  void live(void (*init)());
  // Calls the step function until the world's steps are done (the process
  // then ends inside robot_step), a signal ends the run, or run_calls calls
  // were made. Returns when the run is over and robot_run should return.
  void run(int (*step_function)());
  // One step of the world. False once the run is over: outputs are written
  // and the caller ends the process with exit_status().
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

  // Ends the run: completes the trace, writes every other output and prints
  // the summary line. `interrupted` says the run ended before its steps were
  // done, and `reason` why it ended. Only the first call counts.
  void finish(const std::string &reason, bool interrupted);
  bool finished() const { return finished_; }
  // The process's exit status once the run is over: 0; 128 + the signal's
  // number when a signal ended it; 2 when an output or the console was lost
  // (each was reported on stderr).
  int exit_status() const;
  // The controller's console is already lost, e.g. stdout was closed at start.
  void console_lost(const std::string &reason);

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
  // What the controller's console lines say it decided: its counts after a
  // look, the window search of a reach, and the rest posture.
  void note_decision(std::string_view text);
  // Whether a camera frame of this view and kind is still to be written.
  bool saves_frame(View view, bool reach) const;
  void save_frame(View view, bool reach, const std::optional<Window> &window);
  void record_step();
  void write_outputs(const RunRecord &record);
  // Renames the output written under its temporary name into place, or
  // reports why it is missing: `failure`, or the rename's own reason.
  void complete(const std::string &name, std::string failure);
  void output_failed(const std::string &name, const std::string &reason);
  // Ends the run if a signal asked for it; true if it did.
  bool stopped_by_signal();

  WorldConfig config_;
  std::unique_ptr<OutputFolder> folder_;  // null: no outputs
  SetPoints set_points_;
  std::unique_ptr<Engine> engine_;
  Camera camera_;
  Trace trace_;
  StateLog state_;
  VideoWriter video_;
  std::vector<unsigned char> video_frame_;
  Progress progress_;
  std::int64_t steps_done_ = 0;
  std::int64_t idle_calls_ = 0;  // step-function calls in a row that took no step
  std::array<char, 1024> text_{};
  std::set<std::string> warned_;
  PlacementWatch watch_;
  ReachLog reaches_;
  JointHistory joints_;
  std::array<int, 6> frames_saved_{};  // per view and kind (look, reach)
  std::optional<std::string> console_lost_;
  bool outputs_written_ = true;
  int signal_ = 0;  // the signal that ended the run, if one did
  bool finished_ = false;
};

}  // namespace sim
