// A world's settings as a value: what a world file says, and all the stand-in
// is configured by.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// A disc lying on the ground, in the body frame (metres).
struct Target {
  double x = 0.0;
  double y = 0.0;
  double radius = 0.0;
  std::array<std::uint8_t, 3> color{214, 30, 30};
};

// A scripted rectangle of colour at fixed image position, shown in the view the
// head is turned to; a fixture for tests that want an exact image.
struct Block {
  bool left = true;  // view: "left" or "right"
  int x = 0;         // left image column
  int y = 0;         // top image row
  int width = 7;
  int height = 7;
  std::array<std::uint8_t, 3> color{214, 30, 30};
};

// What moves the robot: a physics simulation, or the exact kinematic world.
enum class EngineKind { physics, kinematic };
const char *engine_name(EngineKind kind);
// The engine called `name` ("physics" or "kinematic"), if there is one.
std::optional<EngineKind> engine_named(std::string_view name);

// How the physics engine's robot is held: standing on its own feet, or with
// its torso fixed in space, on a stand.
enum class Torso { free, fixed };
const char *torso_name(Torso torso);
// The torso a name stands for, if any.
std::optional<Torso> torso_named(std::string_view name);

// How a world's robot departs from the model the controller was made for:
// what a real robot varies. Each default is the model's own value (see
// sim/core/factors.h for the keys, ranges and units).
struct Factors {
  // The physics engine's robot standing on its feet.
  double friction = 0.4;          // the paws' and the floor's friction coefficient
  double servo_strength = 1.0;    // scales every leg servo's gains and torque limit
  double servo_latency_ms = 0.0;  // a set-point takes effect this much later
  double payload_kg = 0.0;        // a mass strapped to the middle of the back
  // The physics engine's camera, turned from its calibrated mount in its own
  // frame, and its field of view off its calibrated value (degrees).
  double roll_error_deg = 0.0;
  double pitch_error_deg = 0.0;
  double yaw_error_deg = 0.0;
  double fov_error_deg = 0.0;
  // Either engine's camera: every level scaled by gain, plus Gaussian noise
  // of this sigma, rounded and clipped to 0..255.
  double noise = 0.0;  // levels
  double gain = 1.0;
  bool operator==(const Factors &) const = default;
};

struct WorldConfig {
  std::string file;  // where it came from, for messages
  EngineKind engine = EngineKind::physics;
  Torso torso = Torso::free;  // physics engine only
  std::int64_t steps = 600;   // the run ends after this many steps; a world file must say
  double time_step_ms = 32.0;
  int camera_width = 160;
  int camera_height = 160;
  bool camera_image = true;    // false: the camera hands out a null image pointer
  double joint_speed = 0.25;   // rad per step; kinematic engine only
  std::int64_t run_calls = 0;  // >0: robot_run returns after this many step-function calls
  // Outputs that can be turned off, for long runs; the video is the physics
  // engine's alone.
  bool write_trace = true;
  bool write_state = true;
  bool write_video = true;
  bool write_model = true;     // world.xml; the physics engine's alone
  bool write_pictures = true;  // top view, joint plot and camera frames
  // >0: the run ends once this many reaches are over (for maps of many short runs).
  std::int64_t stop_after_reaches = 0;
  // >0: seconds of wall-clock time the controller may go without calling the
  // library before its run is ended as stuck; 0: it may take as long as it likes.
  double stuck_after_s = 0.0;
  std::vector<Target> targets;
  std::vector<Block> blocks;
  Factors factors;
  std::int64_t seed = 0;  // seeds every random factor: same seed, same run
};

}  // namespace sim
