#include "sim/core/factors.h"

#include <array>
#include <charconv>

namespace sim {

namespace {

// The ranges are what a robot like this one might meet, with room to show
// where the controller breaks: friction from ice-like to rubber on concrete,
// servos from a tenth to four times the model's, latency up to a second, a
// payload up to the robot's own mass, a camera turned up to 10 degrees and
// noise of up to a quarter of the levels.
constexpr std::array<FactorKey, 10> keys{{
    {"robot.friction", "", "friction coefficient of the paws and the floor", 0.05, 2.0,
     &Factors::friction, FactorScope::free_robot},
    {"robot.servo_strength", "", "leg servos' gains and torque limit, times the model's", 0.1, 4.0,
     &Factors::servo_strength, FactorScope::free_robot},
    {"robot.servo_latency_ms", "ms", "delay before a set-point takes effect", 0.0, 1000.0,
     &Factors::servo_latency_ms, FactorScope::free_robot},
    {"robot.payload_kg", "kg", "mass strapped to the middle of the back", 0.0, 2.0,
     &Factors::payload_kg, FactorScope::free_robot},
    {"camera.roll_error_deg", "deg", "camera turned about its view axis", -10.0, 10.0,
     &Factors::roll_error_deg, FactorScope::physics_camera},
    {"camera.pitch_error_deg", "deg", "camera turned up (+) or down", -10.0, 10.0,
     &Factors::pitch_error_deg, FactorScope::physics_camera},
    {"camera.yaw_error_deg", "deg", "camera turned left (+) or right", -10.0, 10.0,
     &Factors::yaw_error_deg, FactorScope::physics_camera},
    {"camera.fov_error_deg", "deg", "field of view wider (+) or narrower than calibrated", -10.0,
     10.0, &Factors::fov_error_deg, FactorScope::physics_camera},
    {"camera.noise", "levels", "sigma of the Gaussian noise on every level", 0.0, 64.0,
     &Factors::noise, FactorScope::any_camera},
    {"camera.gain", "", "factor on every level", 0.0, 4.0, &Factors::gain, FactorScope::any_camera},
}};

}  // namespace

std::span<const FactorKey> factor_keys() { return keys; }

const FactorKey *factor_key(std::string_view path) {
  for (const FactorKey &key : keys)
    if (key.path == path) return &key;
  return nullptr;
}

std::string factor_meaningless(const FactorKey &key, EngineKind engine, Torso torso) {
  if (key.scope == FactorScope::any_camera) return "";
  if (engine == EngineKind::kinematic)
    return key.scope == FactorScope::free_robot
               ? "means nothing to the kinematic engine, whose robot has no body, servos or "
                 "floor (only to engine = \"physics\")"
               : "means nothing to the kinematic engine, whose camera is the tables' "
                 "calibration rule itself, with no mount or lens to be off (only to engine = "
                 "\"physics\")";
  if (key.scope == FactorScope::free_robot && torso == Torso::fixed)
    return "means nothing to the robot on a stand (torso = \"fixed\"), kept as it was for "
           "comparison; only to the robot on its feet (torso = \"free\")";
  return "";
}

std::string factor_range_text(const FactorKey &key) {
  std::string text = exact_number(key.low) + " to " + exact_number(key.high);
  if (!key.unit.empty()) text += " " + std::string(key.unit);
  return text;
}

bool robot_is_the_model(const WorldConfig &world) {
  return world.factors == Factors{} && world.seed == 0;
}

std::string exact_number(double value) {
  char text[32];
  const std::to_chars_result end = std::to_chars(text, text + sizeof text, value);
  return std::string(text, end.ptr);
}

}  // namespace sim
