// The run loop: the world as the controller library's functions see it. It
// keeps the device table, the set-points and the camera buffer, steps the
// engine, watches where the feet come to rest, what each reach did and which
// targets the fetched images showed, and tells the run's recorders what
// happened. It learns all of it from the library calls and the robot, never
// from the console, and it never writes a file itself.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/core/world_config.h"
#include "sim/observe/placements.h"
#include "sim/observe/reaches.h"
#include "sim/observe/target_sightings.h"
#include "sim/record/outputs.h"
#include "sim/record/recorder.h"
#include "sim/system/output_folder.h"
#include "sim/world/camera_device.h"
#include "sim/world/devices.h"
#include "sim/world/engine_choice.h"
#include "sim/world/progress.h"

namespace sim {

class World {
 public:
  // output_folder empty: nothing is written. image_memory, if given, is where
  // the camera's image lives (width x height x 3 bytes): a buffer another
  // process reads. Throws RunError when the engine or an output cannot be
  // started.
  World(WorldConfig config, std::string output_folder, std::span<unsigned char> image_memory = {});
  ~World();
  World(const World &) = delete;
  World &operator=(const World &) = delete;

  // The library's operations, one for one.
  void live(void (*init)());
  // Calls the step function until the world's steps are done (the process
  // then ends inside robot_step), a signal ends the run, or run_calls calls
  // were made. Returns when the run is over and robot_run should return.
  void run(int (*step_function)());
  // The same two for a controller in another process, which calls init and
  // its step function itself: robot_live and robot_run were called, and a
  // call of the step function returned. False once the run is over.
  void lived();
  bool run_begins(bool has_step_function);
  bool step_function_returned(int result);
  // ceil(ms / time_step_ms) steps of the world, at least one. False once the
  // run is over: outputs are written and the caller ends the process with
  // exit_status().
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
  // Whether the controller's reads of the camera image are seen (a library
  // watching its pages); then image_read() tells of each first read of an
  // image, and the looks the records show are the images read. Otherwise a
  // look is each camera_get_image, the image then. Watched reads let the
  // camera draw its image only when it is read (draw_camera()), or a record
  // wants it, exact to that moment; otherwise it is drawn after every step.
  void watch_reads(bool watched);
  void image_read();
  // Brings the camera's image up to date.
  void draw_camera();
  // The controller's console is already lost, e.g. stdout was closed at start.
  void console_lost(const std::string &reason);
  // The controller's process ended: a run still under way ends here, early,
  // saying how.
  void controller_ended(const ControllerEnd &end);
  // Ends the run if a stop signal asked for it; true if the run is over.
  bool stopped_by_signal();
  // The stop signal that ended the run, 0 if none did.
  int stopped_by() const { return signal_; }

  std::int64_t steps_done() const { return steps_done_; }
  const Engine &engine() const { return *engine_.engine; }
  const SetPoints &set_points() const { return set_points_; }
  const CameraDevice &camera() const { return camera_; }
  const WorldConfig &config() const { return config_; }
  const std::vector<Placement> &placements() const { return watch_.placements(); }
  const ReachWatch &reaches() const { return reaches_; }
  // A person moved disc `index` (world-file order) so that its centre lies
  // at `to` (world frame, metres), between two steps: the camera sees it
  // there from the next step, reaches are judged against it there, and the
  // move is recorded. Ignored once the run is over, or for no such disc.
  void move_target(std::size_t index, Vec2 to);
  const std::vector<TargetMove> &target_moves() const { return target_moves_; }
  // A live window on the run; throws RunError when none can be opened.
  std::unique_ptr<LiveWindow> open_window();

 private:
  // Before the first step: warns when the outputs projected from the world
  // will not fit in the folder's free space, and throws RunError when not
  // even report.json would.
  void check_room();
  // The recorders of a run with an output folder, in the order their outputs
  // are completed at the end.
  void make_recorders();
  // Tells every recorder of a library call.
  void record_call(std::string_view op, std::initializer_list<CallField> fields = {});
  // The device behind tag if it is of the wanted kind; otherwise warns once
  // per operation and tag and says no.
  bool check(std::uint8_t tag, DeviceKind wanted, const char *op);
  void warn(const std::string &message);
  // Warns the first time `what` happens and counts every time, so that a
  // controller that errs at every step gets one line, and the count at the
  // end. True the first time.
  bool warn_once(const std::string &what, const std::string &message);
  // One step of the world's time. False once the run is over.
  bool advance();
  // The controller fetched the camera's image, or read it.
  void fetched(bool read);
  // Tells the recorders of the reaches that ended since `finished` were.
  void reaches_ended(std::int64_t finished);
  CameraImage image() const;
  void output_failed(const std::string &name, const std::string &reason);
  WorldConfig config_;
  SetPoints set_points_;
  ChosenEngine engine_;
  CameraDevice camera_;
  Progress progress_;
  std::unique_ptr<OutputFolder> folder_;  // null: no outputs
  std::unique_ptr<OutputSink> outputs_;
  std::vector<std::unique_ptr<Recorder>> recorders_;
  std::int64_t steps_done_ = 0;
  std::int64_t idle_calls_ = 0;  // step-function calls in a row that took no step
  std::int64_t step_function_calls_ = 0;
  std::int64_t steps_before_call_ = 0;  // steps done when the step function was last called
  std::optional<ControllerEnd> controller_end_;
  bool reads_watched_ = false;
  std::array<char, 1024> text_{};
  std::vector<std::pair<std::string, std::int64_t>> warnings_;  // what, how often
  PlacementWatch watch_;
  ReachWatch reaches_;
  TargetSightings sightings_;
  std::optional<Fetch> last_fetch_;       // the image the controller fetched last
  std::uint64_t fetched_generation_ = 0;  // the camera image it was
  std::optional<std::string> console_lost_;
  std::int64_t console_lines_ = 0;  // console lines written
  bool outputs_written_ = true;
  int signal_ = 0;  // the signal that ended the run, if one did
  std::vector<TargetMove> target_moves_;
  bool finished_ = false;
};

}  // namespace sim
