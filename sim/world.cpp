#include "sim/world.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "sim/devices.h"
#include "sim/run_report.h"
#include "sim/signals.h"

namespace sim {

namespace {
// A step function that keeps returning without advancing time would hang the
// run forever; after this many such calls in a row the stand-in gives up.
constexpr std::int64_t max_idle_calls = 100'000;
// Camera frames saved per side view and kind (look, reach).
constexpr int max_frames = 10;
// The video: a third-person view with the robot's own image as an inset, in
// real time: one frame every other step of 32 ms.
constexpr int video_width = 640;
constexpr int video_height = 480;

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

const char *signal_name(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGPIPE:
      return "SIGPIPE";
    default:
      return "a signal";
  }
}

int reaching_leg_of(View view) { return view == View::right ? 2 : 0; }

// Why the last write failed, as far as the system says.
std::string last_reason() { return errno != 0 ? system_reason(errno) : "write error"; }

// The robot's own image in the top-left corner of a video frame, framed in white.
void paste_inset(std::vector<unsigned char> &frame, int frame_width, int frame_height,
                 const Camera &camera) {
  const int w = std::min(camera.width(), frame_width - 4);
  const int h = std::min(camera.height(), frame_height - 4);
  for (int y = 0; y < h + 4; ++y)
    for (int x = 0; x < w + 4; ++x) {
      unsigned char *out =
          &frame[(static_cast<std::size_t>(y) * static_cast<std::size_t>(frame_width) +
                  static_cast<std::size_t>(x)) *
                 3u];
      if (x < 2 || y < 2 || x >= w + 2 || y >= h + 2) {
        out[0] = out[1] = out[2] = 255;
        continue;
      }
      const unsigned char *in = camera.image() + (static_cast<std::size_t>(y - 2) *
                                                      static_cast<std::size_t>(camera.width()) +
                                                  static_cast<std::size_t>(x - 2)) *
                                                     3u;
      std::copy_n(in, 3, out);
    }
}

std::size_t frame_slot(View view, bool reach) {
  return static_cast<std::size_t>(view) * 2u + (reach ? 1u : 0u);
}

int count_red(const unsigned char *rgb, int width, int height) {
  int count = 0;
  for (int i = 0; i < width * height; ++i) count += rgb[3 * i] > 25 ? 1 : 0;
  return count;
}

// Steps between video frames: as many as make about 30 frames a second or fewer.
int steps_per_frame(double time_step_ms) {
  return std::max(1, static_cast<int>(std::ceil((1000.0 / 30.0) / time_step_ms - 1e-9)));
}
}  // namespace

World::World(WorldConfig config, std::string output_folder)
    : config_(std::move(config)),
      engine_(make_engine(config_)),
      camera_(config_),
      progress_(config_.steps),
      joints_(config_.steps, config_.time_step_ms / 1000.0) {
  camera_.update(*engine_, set_points_);
  for (std::size_t i = 0; i < config_.targets.size(); ++i) {
    const Target &t = config_.targets[i];
    if (disc_in_view(View::left, {t.x, t.y}, t.radius, camera_.width(), camera_.height()) ||
        disc_in_view(View::right, {t.x, t.y}, t.radius, camera_.width(), camera_.height()))
      continue;
    char where[96];
    std::snprintf(where, sizeof where, " at (%.3f, %.3f) m", t.x, t.y);
    warn("target[" + std::to_string(i) + "]" + where +
         " lies where neither camera view can see it; the controller will never find it");
  }
  if (output_folder.empty()) return;
  folder_ = std::make_unique<OutputFolder>(std::move(output_folder));
  const std::string &path = folder_->path();
  if (config_.write_trace && !trace_.open(folder_->partial("trace.jsonl")))
    throw RunError("SIM_OUTPUT: " + path + ": cannot write trace.jsonl there (" + last_reason() +
                   ")");
  if (config_.write_state && !state_.open(folder_->partial("state.csv")))
    throw RunError("SIM_OUTPUT: " + path + ": cannot write state.csv there (" + last_reason() +
                   ")");
  if (config_.write_video && engine_->films()) {
    const double seconds_per_frame =
        steps_per_frame(config_.time_step_ms) * config_.time_step_ms / 1000.0;
    const std::string failed = video_.open(folder_->partial("run.mp4"), video_width, video_height,
                                           1.0 / seconds_per_frame);
    if (!failed.empty())
      throw RunError("SIM_OUTPUT: " + path + ": cannot write run.mp4: " + failed);
    video_frame_.resize(static_cast<std::size_t>(video_width) * video_height * 3u);
  }
}

World::~World() {
  if (!finished_) finish("the world was closed", steps_done_ < config_.steps);
}

void World::warn(const std::string &message) {
  progress_.clear();
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

bool World::stopped_by_signal() {
  if (finished_) return true;
  const int signal = stop_signal();
  if (signal == 0) return false;
  signal_ = signal;
  finish(std::string("interrupted by ") + signal_name(signal), true);
  return true;
}

void World::live(void (*init)()) {
  trace_.call(steps_done_, "robot_live").end();
  if (init != nullptr) init();
}

void World::run(int (*step_function)()) {
  trace_.call(steps_done_, "robot_run").end();
  if (step_function == nullptr) {
    warn("robot_run: no step function; the run ends");
    finish("robot_run was given no step function", true);
    return;
  }
  for (std::int64_t calls = 0; config_.run_calls == 0 || calls < config_.run_calls; ++calls) {
    const std::int64_t before = steps_done_;
    const int result = step_function();
    trace_.call(steps_done_, "step_function").field("result", std::int64_t{result}).end();
    if (stopped_by_signal()) return;
    idle_calls_ = (steps_done_ == before) ? idle_calls_ + 1 : 0;
    if (idle_calls_ == max_idle_calls) {
      warn("the step function returned " + std::to_string(max_idle_calls) +
           " times in a row without a step; the run ends");
      finish("the step function stopped stepping", true);
      return;
    }
  }
  finish("robot_run returned after " + std::to_string(config_.run_calls) + " step-function calls",
         steps_done_ < config_.steps);
}

bool World::step(std::int32_t ms) {
  if (stopped_by_signal()) return false;
  trace_.call(steps_done_, "robot_step").field("ms", std::int64_t{ms}).end();
  engine_->advance(set_points_);
  camera_.update(*engine_, set_points_);
  ++steps_done_;
  const std::size_t placed = watch_.placements().size();
  watch_.after_step(steps_done_, *engine_, config_.targets);
  if (watch_.placements().size() > placed) reaches_.placed(watch_.placements().back());
  record_step();
  progress_.step(steps_done_);
  if (config_.stop_after_reaches > 0 && reaches_.finished_count() >= config_.stop_after_reaches) {
    finish("the world's reaches are done", false);
    return false;
  }
  if (steps_done_ < config_.steps) return !stopped_by_signal();
  finish("the world's steps are done", false);
  return false;
}

void World::record_step() {
  std::array<float, plotted_joints.size()> commanded{};
  std::array<float, plotted_joints.size()> at{};
  for (std::size_t i = 0; i < plotted_joints.size(); ++i) {
    const int joint = plotted_joints[i];
    commanded[i] = set_points_.given(joint) ? static_cast<float>(set_points_.value(joint)) : NAN;
    at[i] = static_cast<float>(engine_->position(joint));
  }
  joints_.add(steps_done_, commanded, at);
  if (state_.is_open())
    state_.add(steps_done_, static_cast<double>(steps_done_) * config_.time_step_ms / 1000.0,
               *engine_, set_points_, camera_.shown());
  if (video_.is_open() && steps_done_ % steps_per_frame(config_.time_step_ms) == 0) {
    engine_->film(video_width, video_height, video_frame_);
    paste_inset(video_frame_, video_width, video_height, camera_);
    video_.add(video_frame_);
  }
}

void World::note_decision(std::string_view text) {
  if (text.starts_with("MODE INIT")) {
    reaches_.rest_posture();
    return;
  }
  const auto window_in_image = [&] {
    return find_target_level_window(camera_.image(), camera_.width(), camera_.height());
  };
  for (const View side : {View::left, View::right}) {
    const bool counted = text.starts_with(side == View::left ? "red left = " : "red right = ");
    if (counted && saves_frame(side, false)) return save_frame(side, false, window_in_image());
    if (counted) return;
  }
  if (!text.starts_with("nb_red = ")) return;
  // The reach's window search: the image is the one it just searched.
  const View view = camera_.shown();
  const std::optional<Window> window = window_in_image();
  std::optional<Vec2> aimed;
  if (window) aimed = engine_->ground_seen(window->x + 3, window->y + 3);
  if (view != View::forward) reaches_.search(steps_done_, reaching_leg_of(view), window, aimed);
  joints_.mark_reach(steps_done_);
  save_frame(view, true, window);
}

bool World::saves_frame(View view, bool reach) const {
  return folder_ && config_.write_pictures && view != View::forward &&
         frames_saved_[frame_slot(view, reach)] < max_frames;
}

void World::save_frame(View view, bool reach, const std::optional<Window> &window) {
  if (!saves_frame(view, reach)) return;
  ++frames_saved_[frame_slot(view, reach)];
  char name[64];
  std::snprintf(name, sizeof name, "frame_%06lld_%s_%s.png", static_cast<long long>(steps_done_),
                view_name(view), reach ? "reach" : "look");
  char title[160];
  if (reach)
    std::snprintf(title, sizeof title, "step %lld, %s view: the reach searched it for its window",
                  static_cast<long long>(steps_done_), view_name(view));
  else
    std::snprintf(title, sizeof title, "step %lld, %s view: the search counted %d red pixels",
                  static_cast<long long>(steps_done_), view_name(view),
                  count_red(camera_.image(), camera_.width(), camera_.height()));
  const bool written = write_camera_frame(folder_->partial(name), camera_.width(), camera_.height(),
                                          camera_.image(), title, window);
  complete(name, written ? std::string() : last_reason());
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

void World::console_lost(const std::string &reason) {
  if (!console_lost_)
    console_lost_ = "at step " + std::to_string(steps_done_) + " (" + reason + ")";
}

void World::console_print(const char *text) {
  if (text == nullptr) {
    trace_.call(steps_done_, "robot_console_print").end();
    warn("robot_console_print: no text; call ignored");
    return;
  }
  trace_.call(steps_done_, "robot_console_print").field("text", std::string_view(text)).end();
  note_decision(text);
  if (console_lost_) return;
  errno = 0;
  const bool failed = write_forgetting_own_sigpipe(
      [&] { return std::fputs(text, stdout) < 0 || std::ferror(stdout) != 0; });
  if (failed) console_lost(last_reason());
}

void World::finish(const std::string &reason, bool interrupted) {
  if (finished_) return;
  finished_ = true;
  progress_.clear();
  if (!console_lost_) {
    errno = 0;
    if (write_forgetting_own_sigpipe([] { return std::fflush(stdout) != 0; }))
      console_lost(last_reason());
  }
  trace_.call(steps_done_, "end").field("reason", reason).end();
  const std::vector<Reach> reaches = reaches_.reaches();
  const RunRecord record{config_, steps_done_, interrupted, watch_.placements(), reaches};
  if (folder_) {
    errno = 0;
    if (trace_.is_open()) {
      const bool closed = trace_.close();
      complete("trace.jsonl", closed ? std::string() : last_reason());
    }
    if (state_.is_open()) {
      const bool closed = state_.close();
      complete("state.csv", closed ? std::string() : last_reason());
    }
    if (video_.is_open()) complete("run.mp4", video_.close());
    write_outputs(record);
  }
  if (console_lost_)
    std::fprintf(stderr,
                 "sim: error: the controller's console on stdout was lost %s; its lines from "
                 "then on are missing\n",
                 console_lost_->c_str());
  std::fprintf(stderr, "%s\n", summary_line(record).c_str());
  if (interrupted) std::fprintf(stderr, "sim: the run ended early: %s\n", reason.c_str());
}

int World::exit_status() const {
  if (signal_ != 0) return 128 + signal_;
  return outputs_written_ && !console_lost_ ? 0 : 2;
}

void World::output_failed(const std::string &name, const std::string &reason) {
  outputs_written_ = false;
  progress_.clear();
  std::fprintf(stderr, "sim: error: SIM_OUTPUT: %s: cannot write %s there (%s)\n",
               folder_->path().c_str(), name.c_str(), reason.c_str());
}

void World::complete(const std::string &name, std::string failure) {
  if (failure.empty()) failure = folder_->commit(name);
  if (!failure.empty()) output_failed(name, failure);
}

void World::write_outputs(const RunRecord &record) {
  if (const std::string failed = folder_->write("report.json", report_json(record));
      !failed.empty())
    output_failed("report.json", failed);
  if (!config_.write_pictures) return;
  const bool top_view =
      write_top_view(folder_->partial("top_view.png"), config_, watch_.placements());
  complete("top_view.png", top_view ? std::string() : last_reason());
  const bool joints = write_joint_plot(folder_->partial("joints.png"), joints_);
  complete("joints.png", joints ? std::string() : last_reason());
}

}  // namespace sim
