// What the run loop tells the run's recorders, and what a recorder is. The
// loop never writes a file or draws: each output (the trace, the state log,
// the video, the camera frames, the report, the pictures, the model file) is
// one recorder, fed the same events, and a new output is a new recorder.
// Console lines reach recorders only as library calls: nothing reads them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "sim/core/engine.h"
#include "sim/core/geometry.h"
#include "sim/core/world_config.h"
#include "sim/observe/placements.h"
#include "sim/observe/reaches.h"
#include "sim/observe/target_sightings.h"
#include "sim/observe/target_window.h"

namespace sim {

// An argument or a result of a library call, as the trace shows it.
struct CallField {
  std::string_view key;
  std::variant<std::int64_t, float, std::string_view> value;
};

// A library call, in the order the controller made it; the run's end comes
// last as the call "end", with its reason.
struct CallEvent {
  std::int64_t step = 0;  // steps done when it came
  std::string_view op;
  std::span<const CallField> fields;
};

// The camera image as the controller reads it.
struct CameraImage {
  const unsigned char *pixels = nullptr;  // width x height x 3 bytes, red first, rows top down
  int width = 0;
  int height = 0;
  View view = View::forward;  // the side it shows
};

// The world after a step.
struct StepEvent {
  std::int64_t step = 0;  // steps done, this one included
  double seconds = 0.0;   // simulated time since the start
  const Engine &engine;
  const SetPoints &set_points;
  CameraImage camera;
  std::array<LegState, 2> legs{};  // what front legs 0 and 2 are doing
  // The reach under way of legs 0 and 2, if any.
  std::array<const Reach *, 2> reaches{};
};

// The controller fetched the camera's image (camera_get_image), or, where its
// reads are watched, read an image for the first time.
struct FetchEvent {
  const Fetch &fetch;
  CameraImage camera;  // the image as it was then
  bool read = false;   // read, rather than fetched
};

// A person moved a disc across the floor (the live window's drag), between
// two steps: which disc, in world-file order, and from where to where
// (world frame, metres).
struct TargetMove {
  std::int64_t step = 0;  // steps done when it was moved
  std::size_t target = 0;
  Vec2 from;
  Vec2 to;
};

// How the controller's process ended, when its end ended the run.
struct ControllerEnd {
  enum class How { exited, killed, vanished } how = How::exited;
  int code = 0;           // the exit status, or the signal's number
  std::int64_t step = 0;  // steps done when it ended
};
std::string describe(const ControllerEnd &end);

// The run is over: what it did.
struct RunRecord {
  const WorldConfig &world;
  std::int64_t steps_done = 0;
  bool interrupted = false;  // ended before its steps were done
  const std::vector<Placement> &placements;
  const std::vector<Reach> &reaches;                      // in the order they began
  const std::vector<std::optional<Sighting>> &sightings;  // per target
  const std::vector<Vec2> &torso_footprint;  // where the torso ended, if the engine has one
  // Set when the controller's process ended before its run did.
  std::optional<ControllerEnd> controller_end = std::nullopt;
  // Discs moved by a person, in order; `world`'s targets lie where the last
  // moves left them.
  std::span<const TargetMove> target_moves = {};
};

class Recorder {
 public:
  virtual ~Recorder() = default;
  virtual void on_call(const CallEvent & /*call*/) {}
  virtual void on_step(const StepEvent & /*step*/) {}
  // Whether on_step of this step (steps done, this one included) looks at
  // the camera's pixels: a camera drawn on demand is drawn for it.
  virtual bool wants_camera_image(std::int64_t /*step*/) const { return false; }
  virtual void on_fetch(const FetchEvent & /*fetch*/) {}
  // A reach began (its step not yet taken), or ended.
  virtual void on_reach_start(const Reach & /*reach*/) {}
  virtual void on_reach_end(const Reach & /*reach*/) {}
  virtual void on_target_move(const TargetMove & /*move*/) {}
  // Completes the recorder's outputs.
  virtual void on_end(const RunRecord & /*run*/) {}
};

}  // namespace sim
