#include "sim/world.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <utility>

#include "sim/devices.h"

namespace sim {

namespace {
// A step function that keeps returning without advancing time would hang the
// run forever; after this many such calls in a row the stand-in gives up.
constexpr std::int64_t max_idle_calls = 100'000;
// Camera frames saved per side view.
constexpr int max_frames_per_view = 6;
constexpr std::array<int, 3> head_joints{head_tilt_joint, head_pan_joint, head_roll_joint};
// The head is at rest when no head joint moved more than this in a step.
constexpr double head_at_rest = 1e-4;  // rad

const char *kind_name(DeviceKind kind) {
  switch (kind) {
    case DeviceKind::receiver:
      return "receiver";
    case DeviceKind::joint:
      return "joint";
    case DeviceKind::camera:
      return "camera";
    default:
      return "device";
  }
}
}  // namespace

World::World(WorldConfig config, std::string output_folder)
    : config_(std::move(config)),
      output_folder_(std::move(output_folder)),
      engine_(make_engine(config_)),
      camera_(config_),
      history_(config_.steps, config_.time_step_ms / 1000.0) {
  camera_.update(*engine_, set_points_);
  if (!output_folder_.empty()) {
    const std::string path = (std::filesystem::path(output_folder_) / "trace.jsonl").string();
    if (!trace_.open(path))
      throw RunError("SIM_OUTPUT: " + output_folder_ + ": cannot write trace.jsonl there");
  }
}

World::~World() { finish(); }

void World::warn(const std::string &message) {
  std::fprintf(stderr, "sim: warning: %s\n", message.c_str());
}

bool World::check(std::uint8_t tag, DeviceKind wanted, const char *op) {
  const std::optional<Device> device = device_of(tag);
  if (device && device->kind == wanted) return true;
  if (tag == 0) return false;
  const std::string key = std::string(op) + "#" + std::to_string(tag);
  if (warned_.insert(key).second) {
    if (!device)
      warn(std::string(op) + ": tag " + std::to_string(tag) + " is no device; call ignored");
    else
      warn(std::string(op) + ": tag " + std::to_string(tag) + " is the " + kind_name(device->kind) +
           " \"" + std::string(device->name) + "\", not a " + kind_name(wanted) + "; call ignored");
  }
  return false;
}

void World::live(void (*init)()) {
  trace_.call(steps_done_, "robot_live").end();
  if (init != nullptr) init();
}

void World::run(int (*step_function)()) {
  trace_.call(steps_done_, "robot_run").end();
  if (step_function == nullptr) {
    warn("robot_run: no step function; the run ends");
    finish();
    return;
  }
  for (std::int64_t calls = 0; config_.run_calls == 0 || calls < config_.run_calls; ++calls) {
    const std::int64_t before = steps_done_;
    const int result = step_function();
    trace_.call(steps_done_, "step_function").field("result", std::int64_t{result}).end();
    idle_calls_ = (steps_done_ == before) ? idle_calls_ + 1 : 0;
    if (idle_calls_ == max_idle_calls) {
      warn("the step function returned " + std::to_string(max_idle_calls) +
           " times in a row without a step; the run ends");
      finish();
      std::exit(exit_status());
    }
  }
}

bool World::step(std::int32_t ms) {
  if (finished_) return false;
  trace_.call(steps_done_, "robot_step").field("ms", std::int64_t{ms}).end();
  engine_->advance(set_points_);
  camera_.update(*engine_, set_points_);
  ++steps_done_;
  watch_.after_step(steps_done_, *engine_, config_.targets);
  if (!output_folder_.empty()) {
    JointHistory::Sample set{};
    JointHistory::Sample at{};
    for (std::size_t i = 0; i < plotted_joints.size(); ++i) {
      const int joint = plotted_joints[i];
      set[i] = set_points_.given(joint) ? static_cast<float>(set_points_.value(joint)) : NAN;
      at[i] = static_cast<float>(engine_->position(joint));
    }
    history_.add(steps_done_, set, at);
    watch_head();
  }
  if (steps_done_ < config_.steps) return true;
  finish();
  return false;
}

void World::watch_head() {
  bool moved = false;
  for (std::size_t i = 0; i < head_joints.size(); ++i) {
    const double now = engine_->position(head_joints[i]);
    moved = moved || std::abs(now - head_before_[i]) > head_at_rest;
    head_before_[i] = now;
  }
  if (moved) {
    head_still_ = false;
    return;
  }
  if (head_still_) return;
  head_still_ = true;
  const View view = camera_.shown();
  int &saved = frames_saved_[static_cast<std::size_t>(view)];
  if (view == View::forward || saved == max_frames_per_view) return;
  ++saved;
  char name[64];
  std::snprintf(name, sizeof name, "frame_%06lld_%s.png", static_cast<long long>(steps_done_),
                view_name(view));
  const std::string path = (std::filesystem::path(output_folder_) / name).string();
  const std::string title =
      "step " + std::to_string(steps_done_) + ", " + view_name(view) + " view";
  if (!write_camera_frame(path, camera_.width(), camera_.height(), camera_.image(), title,
                          std::nullopt))
    output_failed(name);
}

std::uint8_t World::get_device(const char *name) {
  const std::string_view wanted = name != nullptr ? name : "";
  const std::uint8_t tag = tag_of(wanted);
  trace_.call(steps_done_, "robot_get_device")
      .field("name", wanted)
      .field("tag", std::int64_t{tag})
      .end();
  if (tag == 0)
    warn("robot_get_device: unknown device name \"" + std::string(wanted) +
         "\"; it gets tag 0, and calls on tag 0 are ignored");
  return tag;
}

void World::set_position(std::uint8_t tag, float position) {
  trace_.call(steps_done_, "servo_set_position")
      .field("tag", std::int64_t{tag})
      .field("position", position)
      .end();
  if (!check(tag, DeviceKind::joint, "servo_set_position")) return;
  // A NaN set-point would make the joint's position NaN for the rest of the
  // run; infinities are fine, they drive the joint to its limit.
  if (std::isnan(position)) {
    if (warned_.insert("nan#" + std::to_string(tag)).second)
      warn("servo_set_position: tag " + std::to_string(tag) +
           " got a set-point that is not a number; call ignored");
    return;
  }
  set_points_.set(device_of(tag)->joint, static_cast<double>(position));
}

void World::enable_camera(std::uint8_t tag, std::int32_t ms) {
  trace_.call(steps_done_, "camera_enable")
      .field("tag", std::int64_t{tag})
      .field("ms", std::int64_t{ms})
      .end();
  check(tag, DeviceKind::camera, "camera_enable");
}

void World::enable_receiver(std::uint8_t tag, std::int32_t ms) {
  trace_.call(steps_done_, "receiver_enable")
      .field("tag", std::int64_t{tag})
      .field("ms", std::int64_t{ms})
      .end();
  check(tag, DeviceKind::receiver, "receiver_enable");
}

void World::enable_keyboard(std::int32_t ms) {
  trace_.call(steps_done_, "robot_keyboard_enable").field("ms", std::int64_t{ms}).end();
}

const unsigned char *World::camera_image(std::uint8_t tag) {
  trace_.call(steps_done_, "camera_get_image").field("tag", std::int64_t{tag}).end();
  if (!check(tag, DeviceKind::camera, "camera_get_image")) return nullptr;
  return config_.camera_image ? camera_.image() : nullptr;
}

std::uint16_t World::camera_width(std::uint8_t tag) {
  trace_.call(steps_done_, "camera_get_width").field("tag", std::int64_t{tag}).end();
  if (!check(tag, DeviceKind::camera, "camera_get_width")) return 0;
  return static_cast<std::uint16_t>(camera_.width());
}

std::uint16_t World::camera_height(std::uint8_t tag) {
  trace_.call(steps_done_, "camera_get_height").field("tag", std::int64_t{tag}).end();
  if (!check(tag, DeviceKind::camera, "camera_get_height")) return 0;
  return static_cast<std::uint16_t>(camera_.height());
}

char *World::text_buffer() {
  trace_.call(steps_done_, "robot_get_formated_string").end();
  return text_.data();
}

void World::console_print(const char *text) {
  if (text == nullptr) {
    trace_.call(steps_done_, "robot_console_print").end();
    warn("robot_console_print: no text; call ignored");
    return;
  }
  trace_.call(steps_done_, "robot_console_print").field("text", std::string_view(text)).end();
  // The controller announces each reach before it moves the leg in the next step.
  if (std::string_view(text).find("MODE KINE") != std::string_view::npos)
    history_.mark_reach(steps_done_ + 1);
  std::fputs(text, stdout);
}

void World::finish() {
  if (finished_) return;
  finished_ = true;
  trace_.call(steps_done_, "end").end();
  if (!trace_.close()) output_failed("trace.jsonl");
  std::fflush(stdout);
  if (!output_folder_.empty()) write_outputs();
  std::fprintf(stderr, "%s\n", summary_line(steps_done_, watch_.placements()).c_str());
}

void World::output_failed(const std::string &name) {
  outputs_written_ = false;
  std::fprintf(stderr, "sim: error: SIM_OUTPUT: %s: cannot write %s there\n",
               output_folder_.c_str(), name.c_str());
}

void World::write_outputs() {
  const std::filesystem::path folder(output_folder_);
  const std::string report = report_json(steps_done_, watch_.placements());
  std::FILE *file = std::fopen((folder / "report.json").string().c_str(), "wb");
  bool reported = file != nullptr;
  if (file != nullptr) {
    reported = std::fwrite(report.data(), 1, report.size(), file) == report.size();
    reported = std::fclose(file) == 0 && reported;
  }
  if (!reported) output_failed("report.json");

  if (!write_top_view((folder / "top_view.png").string(), config_, watch_.placements()))
    output_failed("top_view.png");
  if (!write_joint_plot((folder / "joints.png").string(), history_)) output_failed("joints.png");
}

namespace {
std::unique_ptr<World> world;

void finish_at_exit() {
  if (world) world->finish();
}

WorldConfig configured_world() {
  const char *path = std::getenv("SIM_WORLD");
  if (path != nullptr && *path != '\0') return load_world_file(path);
  return default_world();
}

std::unique_ptr<World> make_world() {
  const char *output = std::getenv("SIM_OUTPUT");
  std::string folder = output != nullptr ? output : "";
  if (!folder.empty()) {
    std::error_code failed;
    std::filesystem::create_directories(folder, failed);
    if (failed)
      throw RunError("SIM_OUTPUT: " + folder + ": cannot create the folder (" + failed.message() +
                     ")");
  }
  return std::make_unique<World>(configured_world(), std::move(folder));
}
}  // namespace

World &the_world() {
  if (!world) {
    // The one place a world that cannot start is reported: once, then exit 2.
    try {
      world = make_world();
    } catch (const WorldFileError &error) {
      std::fprintf(stderr, "sim: error: %s: %s: %s\n", error.file.c_str(), error.key.c_str(),
                   error.reason.c_str());
      std::exit(2);
    } catch (const RunError &error) {
      std::fprintf(stderr, "sim: error: %s\n", error.what());
      std::exit(2);
    }
    std::atexit(finish_at_exit);
  }
  return *world;
}

}  // namespace sim
