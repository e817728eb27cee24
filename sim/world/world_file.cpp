#include "sim/world/world_file.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <optional>
#include <set>
#include <sstream>
#include <vector>

#include "sim/core/factors.h"
#include "sim/system/files.h"
#include "sim/world/spelling.h"
#include "sim/world/toml_depth.h"

namespace sim {

WorldFileError::WorldFileError(const std::string &file_, const std::string &key_,
                               const std::string &reason_)
    : std::runtime_error(file_ + ": " + key_ + ": " + reason_),
      file(file_),
      key(key_),
      reason(reason_) {}

namespace {

constexpr int max_camera_side = 1024;  // pixels
// Levels of nesting a world file may have (see nested_deeper_than); the
// deepest a world needs is 3, a target's colour.
constexpr std::size_t max_nesting = 32;
constexpr std::int64_t max_steps = 100'000'000;
// A joint slower than this would need over 400,000 steps for the smallest
// head turn the controller makes (0.4 rad): nothing would visibly move.
constexpr double min_joint_speed = 1e-6;  // rad per step
// Every disc is drawn in every frame of the physics engine's camera, whose
// scene holds 2000 objects, the robot's 18 among them.
constexpr std::size_t max_physics_targets = 1000;
// The kinematic engine tests each disc against the pixels of both side views,
// and every disc is listed in report.json and drawn on the top view: the same
// bound keeps a world's cost bounded.
constexpr std::size_t max_kinematic_targets = 1000;
// A world of the most discs takes some 100 kB; a file of many megabytes is a
// mistake, and the TOML parser would take seconds over it, deaf to a signal.
constexpr std::uint64_t max_world_file_bytes = std::uint64_t{1} << 20;
constexpr double min_physics_step_ms = 0.1;
// A step of more than a second is nothing a controller's loop meets, and
// longer ones take a run's time (steps x step) past what a double counts.
constexpr double max_step_ms = 1000.0;
constexpr double max_stuck_after_s = 86400.0;  // a day: longer is no limit at all

std::string number_text(double value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

// A key as a reader can find it in the file: bare when TOML allows it bare,
// quoted otherwise, so an empty key shows as "" and not as nothing.
std::string shown_key(const std::string &key) {
  const bool bare = !key.empty() && std::all_of(key.begin(), key.end(), [](char ch) {
    return std::isalnum(static_cast<unsigned char>(ch)) || ch == '_' || ch == '-';
  });
  if (bare) return key;
  std::string quoted = "\"";
  for (const char ch : key) {
    if (ch == '"' || ch == '\\') quoted += '\\';
    if (static_cast<unsigned char>(ch) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(ch));
      quoted += escaped;
      continue;
    }
    quoted += ch;
  }
  return quoted + "\"";
}

// The keys each part of a world file may hold: the top level (its tables
// among them), then each table's. docs/world-files.md lists the same keys, as
// world_file_keys() names them, and a test holds the two equal.
const std::set<std::string> top_level_keys{
    "engine",        "steps", "time_step_ms", "joint_speed", "run_calls", "stop_after_reaches",
    "stuck_after_s", "seed",  "camera",       "output",      "robot",     "target",
    "block"};
const std::set<std::string> robot_keys{"torso", "friction", "servo_strength", "servo_latency_ms",
                                       "payload_kg"};
const std::set<std::string> camera_keys{"width",          "height",          "image",
                                        "roll_error_deg", "pitch_error_deg", "yaw_error_deg",
                                        "fov_error_deg",  "noise",           "gain"};
const std::set<std::string> output_keys{"trace", "state", "video", "pictures", "model"};
const std::set<std::string> target_keys{"x", "y", "radius", "color"};
const std::set<std::string> block_keys{"view", "x", "y", "width", "height", "color"};

// The world's sections as a file writes them.
std::string written(const std::string &key) {
  if (key == "camera" || key == "output" || key == "robot") return "[" + key + "]";
  if (key == "target" || key == "block") return "[[" + key + "]]";
  return key;
}

class Reader {
 public:
  explicit Reader(std::string file) : file_(std::move(file)) {}

  [[noreturn]] void fail(const std::string &key, const std::string &reason) const {
    throw WorldFileError(file_, key, reason);
  }

  // Refuses a key that is not allowed, suggesting the allowed one it is
  // closest to when a slip of a letter or two explains it.
  void only_keys(const toml::table &table, const std::string &prefix,
                 const std::set<std::string> &allowed) const {
    for (const auto &[key, node] : table) {
      const std::string name(key.str());
      if (allowed.contains(name)) continue;
      const std::optional<std::string> nearest =
          nearest_word(name, std::vector<std::string>(allowed.begin(), allowed.end()));
      std::string reason = "unknown key";
      if (nearest)
        reason +=
            "; did you mean " + (prefix.empty() ? written(*nearest) : prefix + *nearest) + "?";
      fail(prefix + shown_key(name), reason);
    }
  }

  const toml::table *table(const toml::table &parent, const std::string &key,
                           const std::string &path) const {
    const toml::node *node = parent.get(key);
    if (node == nullptr) return nullptr;
    if (!node->is_table()) fail(path, "must be a table");
    return node->as_table();
  }

  std::int64_t integer(const toml::table &t, const std::string &key, const std::string &path,
                       std::int64_t fallback, std::int64_t low, std::int64_t high) const {
    const toml::node *node = t.get(key);
    if (node == nullptr) return fallback;
    if (!node->is_integer()) fail(path, "must be an integer");
    const std::int64_t value = node->as_integer()->get();
    if (value < low || value > high)
      fail(path, "must be between " + std::to_string(low) + " and " + std::to_string(high) +
                     ", not " + std::to_string(value));
    return value;
  }

  // Integers are accepted where a real number is wanted: `radius = 1` is fine.
  double number(const toml::table &t, const std::string &key, const std::string &path,
                double fallback) const {
    const toml::node *node = t.get(key);
    if (node == nullptr) return fallback;
    double value = 0.0;
    if (node->is_floating_point())
      value = node->as_floating_point()->get();
    else if (node->is_integer())
      value = static_cast<double>(node->as_integer()->get());
    else
      fail(path, "must be a number");
    if (!std::isfinite(value)) fail(path, "must be a finite number");
    return value;
  }

  double positive(const toml::table &t, const std::string &key, const std::string &path,
                  double fallback) const {
    const double value = number(t, key, path, fallback);
    if (!(value > 0.0)) fail(path, "must be positive");
    return value;
  }

  bool boolean(const toml::table &t, const std::string &key, const std::string &path,
               bool fallback) const {
    const toml::node *node = t.get(key);
    if (node == nullptr) return fallback;
    if (!node->is_boolean()) fail(path, "must be true or false");
    return node->as_boolean()->get();
  }

  std::array<std::uint8_t, 3> color(const toml::table &t, const std::string &path,
                                    std::array<std::uint8_t, 3> fallback) const {
    const toml::node *node = t.get("color");
    if (node == nullptr) return fallback;
    const toml::array *rgb = node->as_array();
    if (rgb == nullptr || rgb->size() != 3)
      fail(path, "must be an array of three integers [red, green, blue]");
    static constexpr const char *channel_names[3] = {"red", "green", "blue"};
    std::array<std::uint8_t, 3> out{};
    for (std::size_t i = 0; i < 3; ++i) {
      const toml::node &channel = *rgb->get(i);
      if (!channel.is_integer())
        fail(path,
             std::string("channel ") + channel_names[i] + " must be an integer between 0 and 255");
      const std::int64_t v = channel.as_integer()->get();
      if (v < 0 || v > 255)
        fail(path, std::string("channel ") + channel_names[i] + " must be between 0 and 255, not " +
                       std::to_string(v));
      out[i] = static_cast<std::uint8_t>(v);
    }
    return out;
  }

  // A factor of a real robot, if the table gives it: a number within the
  // factor's range, on a world it means something to.
  void factor(const toml::table &t, const FactorKey &key, WorldConfig &world) const {
    const std::string name(key.name());
    if (!t.contains(name)) return;
    const std::string path(key.path);
    if (const std::string why = factor_meaningless(key, world.engine, world.torso); !why.empty())
      fail(path, why);
    const double value = number(t, name, path, key.model());
    if (!(value >= key.low && value <= key.high))
      fail(path, "must be from " + factor_range_text(key) + " (" + std::string(key.what) +
                     "), not " + exact_number(value));
    world.factors.*key.field = value;
  }

  // Each element of an array of tables, e.g. [[target]].
  template <typename Each>
  void each_table(const toml::table &root, const std::string &key, Each each) const {
    const toml::node *node = root.get(key);
    if (node == nullptr) return;
    const toml::array *items = node->as_array();
    if (items == nullptr) fail(key, "must be an array of tables ([[" + key + "]])");
    for (std::size_t i = 0; i < items->size(); ++i) {
      const std::string path = key + "[" + std::to_string(i) + "]";
      const toml::table *item = items->get(i)->as_table();
      if (item == nullptr) fail(path, "must be a table");
      each(*item, path + ".");
    }
  }

 private:
  std::string file_;
};

}  // namespace

WorldConfig parse_world(std::string_view text, const std::string &file_name) {
  Reader in(file_name);
  if (const std::optional<TooDeep> deep = nested_deeper_than(text, max_nesting))
    in.fail("(syntax)", "line " + std::to_string(deep->line) + ": nests deeper than " +
                            std::to_string(max_nesting) +
                            " levels (tables, the parts of dotted keys, arrays, inline tables); "
                            "a world needs 3 at most");
  toml::table root;
  try {
    root = toml::parse(text, file_name);
  } catch (const toml::parse_error &error) {
    const auto &where = error.source().begin;
    in.fail("(syntax)", "line " + std::to_string(where.line) + ", column " +
                            std::to_string(where.column) + ": " + std::string(error.description()));
  }

  WorldConfig world;
  world.file = file_name;
  in.only_keys(root, "", top_level_keys);
  if (const toml::node *engine = root.get("engine")) {
    const std::optional<EngineKind> kind = engine_named(engine->value_or(std::string_view()));
    if (!kind) in.fail("engine", "must be \"physics\" or \"kinematic\"");
    world.engine = *kind;
  }
  // The physics engine's joints are servos with their own dynamics: a ramp
  // speed would be silently ignored there.
  if (world.engine == EngineKind::physics && root.contains("joint_speed"))
    in.fail("joint_speed", "means nothing to the physics engine (only to engine = \"kinematic\")");
  // The run's length is the one thing a world must say: a file that forgot it
  // would otherwise run for a length nobody chose.
  if (!root.contains("steps")) in.fail("steps", "is required (the number of simulation steps)");
  world.steps = in.integer(root, "steps", "steps", world.steps, 1, max_steps);
  world.time_step_ms = in.positive(root, "time_step_ms", "time_step_ms", world.time_step_ms);
  // The physics engine splits a step into substeps of at most 2 ms: a step of
  // more than a second would be thousands of them, and a step far below its
  // 0.1 ms solver scale is a run that never gets anywhere.
  if (world.engine == EngineKind::physics &&
      (world.time_step_ms < min_physics_step_ms || world.time_step_ms > max_step_ms))
    in.fail("time_step_ms", "must be between 0.1 and 1000 for the physics engine, not " +
                                number_text(world.time_step_ms));
  if (world.time_step_ms > max_step_ms)
    in.fail("time_step_ms", "must be at most 1000, not " + number_text(world.time_step_ms));
  world.joint_speed = in.positive(root, "joint_speed", "joint_speed", world.joint_speed);
  if (world.joint_speed < min_joint_speed)
    in.fail("joint_speed", "must be at least 1e-06 rad a step: at " +
                               number_text(world.joint_speed) + " no joint would visibly move");
  world.run_calls = in.integer(root, "run_calls", "run_calls", 0, 0, 100'000'000);
  world.stop_after_reaches =
      in.integer(root, "stop_after_reaches", "stop_after_reaches", 0, 0, 100'000'000);
  world.stuck_after_s = in.number(root, "stuck_after_s", "stuck_after_s", 0.0);
  if (!(world.stuck_after_s >= 0.0 && world.stuck_after_s <= max_stuck_after_s))
    in.fail("stuck_after_s",
            "must be between 0 (never) and 86400 seconds, not " + number_text(world.stuck_after_s));
  world.seed = in.integer(root, "seed", "seed", 0, 0, std::numeric_limits<std::int64_t>::max());

  if (const toml::table *robot = in.table(root, "robot", "robot")) {
    // The kinematic robot has joints and feet but no body to hold or free.
    if (world.engine == EngineKind::kinematic) {
      for (const FactorKey &key : factor_keys())
        if (key.table() == "robot" && robot->contains(std::string(key.name())))
          in.fail(std::string(key.path), factor_meaningless(key, world.engine, world.torso));
      in.fail("robot", "means nothing to the kinematic engine (only to engine = \"physics\")");
    }
    in.only_keys(*robot, "robot.", robot_keys);
    if (const toml::node *torso = robot->get("torso")) {
      const std::optional<Torso> mount = torso_named(torso->value_or(std::string_view{}));
      if (!mount)
        in.fail("robot.torso", "must be \"free\" (standing on its feet) or \"fixed\" (on a stand)");
      world.torso = *mount;
    }
    for (const FactorKey &key : factor_keys())
      if (key.table() == "robot") in.factor(*robot, key, world);
  }

  if (const toml::table *camera = in.table(root, "camera", "camera")) {
    in.only_keys(*camera, "camera.", camera_keys);
    world.camera_width = static_cast<int>(
        in.integer(*camera, "width", "camera.width", world.camera_width, 1, max_camera_side));
    world.camera_height = static_cast<int>(
        in.integer(*camera, "height", "camera.height", world.camera_height, 1, max_camera_side));
    world.camera_image = in.boolean(*camera, "image", "camera.image", true);
    for (const FactorKey &key : factor_keys())
      if (key.table() == "camera") in.factor(*camera, key, world);
  }

  if (const toml::table *output = in.table(root, "output", "output")) {
    in.only_keys(*output, "output.", output_keys);
    world.write_trace = in.boolean(*output, "trace", "output.trace", true);
    world.write_state = in.boolean(*output, "state", "output.state", true);
    world.write_pictures = in.boolean(*output, "pictures", "output.pictures", true);
    if (world.engine == EngineKind::kinematic && output->contains("video"))
      in.fail("output.video", "means nothing to the kinematic engine, which writes no video");
    if (world.engine == EngineKind::kinematic && output->contains("model"))
      in.fail("output.model", "means nothing to the kinematic engine, which has no model file");
    world.write_video = in.boolean(*output, "video", "output.video", true);
    world.write_model = in.boolean(*output, "model", "output.model", true);
  }
  if (world.engine == EngineKind::kinematic) world.write_video = world.write_model = false;

  in.each_table(root, "target", [&](const toml::table &t, const std::string &path) {
    in.only_keys(t, path, target_keys);
    Target target;
    target.x = in.number(t, "x", path + "x", 0.0);
    target.y = in.number(t, "y", path + "y", 0.0);
    target.radius = in.positive(t, "radius", path + "radius", 0.006);
    target.color = in.color(t, path + "color", target.color);
    world.targets.push_back(target);
  });
  if (world.engine == EngineKind::physics && world.targets.size() > max_physics_targets)
    in.fail("target", "holds " + std::to_string(world.targets.size()) +
                          " discs; the physics engine draws at most " +
                          std::to_string(max_physics_targets));
  if (world.engine == EngineKind::kinematic && world.targets.size() > max_kinematic_targets)
    in.fail("target", "holds " + std::to_string(world.targets.size()) +
                          " discs; the kinematic engine takes at most " +
                          std::to_string(max_kinematic_targets));

  in.each_table(root, "block", [&](const toml::table &t, const std::string &path) {
    in.only_keys(t, path, block_keys);
    Block block;
    const toml::node *view = t.get("view");
    if (view == nullptr) in.fail(path + "view", "is required (\"left\" or \"right\")");
    const std::optional<std::string_view> side = view->value<std::string_view>();
    if (!side || (*side != "left" && *side != "right"))
      in.fail(path + "view", "must be \"left\" or \"right\"");
    block.left = *side == "left";
    block.x = static_cast<int>(in.integer(t, "x", path + "x", 0, 0, max_camera_side));
    block.y = static_cast<int>(in.integer(t, "y", path + "y", 0, 0, max_camera_side));
    block.width = static_cast<int>(in.integer(t, "width", path + "width", 7, 1, max_camera_side));
    block.height =
        static_cast<int>(in.integer(t, "height", path + "height", 7, 1, max_camera_side));
    block.color = in.color(t, path + "color", block.color);
    // A block that cannot show is a test fixture that tests nothing.
    if (block.x >= world.camera_width || block.y >= world.camera_height)
      in.fail(path + "x", "the block at column " + std::to_string(block.x) + ", row " +
                              std::to_string(block.y) + " lies wholly outside the " +
                              std::to_string(world.camera_width) + " x " +
                              std::to_string(world.camera_height) + " image");
    world.blocks.push_back(block);
  });
  return world;
}

WorldConfig load_world_file(const std::string &path) {
  try {
    return parse_world(read_file(path, "a world file", max_world_file_bytes), path);
  } catch (const FileError &error) {
    throw WorldFileError(path, "(file)", error.reason);
  }
}

WorldConfig default_world() { return parse_world(default_world_text, "(default world)"); }

std::vector<std::string> world_file_keys() {
  std::vector<std::string> keys;
  for (const std::string &key : top_level_keys)
    if (written(key) == key) keys.push_back(key);
  for (const auto &[table, names] :
       {std::pair{"robot", &robot_keys}, std::pair{"camera", &camera_keys},
        std::pair{"output", &output_keys}, std::pair{"target", &target_keys},
        std::pair{"block", &block_keys}})
    for (const std::string &key : *names) keys.push_back(written(table) + " " + key);
  return keys;
}

}  // namespace sim
