#include "sim/world/world.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "sim/core/calibration_rule.h"
#include "sim/core/errors.h"
#include "sim/observe/target_window.h"
#include "sim/record/frames_recorder.h"
#include "sim/record/model_file.h"
#include "sim/record/output_sizes.h"
#include "sim/record/run_pictures.h"
#include "sim/record/run_report.h"
#include "sim/record/state_log.h"
#include "sim/record/trace.h"
#include "sim/record/video.h"
#include "sim/system/files.h"
#include "sim/system/signals.h"

namespace sim {

namespace {
// A step function that keeps returning without advancing time would hang the
// run forever; after this many such calls in a row the stand-in gives up.
constexpr std::int64_t max_idle_calls = 100'000;

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

// A run that would film with no ffmpeg to film with stops before anything
// is made: no engine started, no output begun, no earlier output removed.
WorldConfig ready_to_film(WorldConfig config, const std::string &output_folder) {
  if (!output_folder.empty() && config.write_video && config.engine == EngineKind::physics)
    VideoRecorder::check_ffmpeg(output_folder);
  return config;
}

}  // namespace

World::World(WorldConfig config, std::string output_folder, std::span<unsigned char> image_memory)
    : config_(ready_to_film(std::move(config), output_folder)),
      engine_(make_engine(config_)),
      camera_(config_, image_memory),
      progress_(config_.steps),
      sightings_(config_.targets) {
  camera_.update(*engine_.engine, set_points_);
  // A few are named, the rest counted.
  constexpr std::size_t named_targets = 5;
  std::size_t unseeable = 0;
  for (std::size_t i = 0; i < config_.targets.size(); ++i) {
    const Target &t = config_.targets[i];
    if (disc_in_view(View::left, {t.x, t.y}, t.radius, camera_.width(), camera_.height()) ||
        disc_in_view(View::right, {t.x, t.y}, t.radius, camera_.width(), camera_.height()))
      continue;
    if (++unseeable > named_targets) continue;
    char where[96];
    std::snprintf(where, sizeof where, " at (%.3f, %.3f) m", t.x, t.y);
    warn("target[" + std::to_string(i) + "]" + where +
         " lies where neither camera view can see it; the controller will never find it");
  }
  if (unseeable > named_targets)
    warn("and " + std::to_string(unseeable - named_targets) +
         " more targets lie where neither camera view can see them");
  if (output_folder.empty()) return;
  folder_ = std::make_unique<OutputFolder>(std::move(output_folder), is_stand_in_output);
  check_room();
  outputs_ = std::make_unique<OutputSink>(
      *folder_,
      [this](const std::string &name, const std::string &reason) { output_failed(name, reason); });
  make_recorders();
}

void World::check_room() {
  const std::optional<std::uint64_t> free = folder_->free_bytes();
  if (!free) return;
  const std::string where = "SIM_OUTPUT: " + folder_->path() + ": ";
  if (*free < least_output_bytes(config_))
    throw RunError(where + "only " + size_text(*free) + " free there; not even report.json (" +
                   size_text(least_output_bytes(config_)) + ") could be written");
  const std::vector<ProjectedOutput> outputs = projected_outputs(config_);
  std::uint64_t total = 0;
  for (const ProjectedOutput &output : outputs) total += output.bytes;
  if (total <= *free) return;
  std::string sizes;
  for (std::size_t i = 0; i < outputs.size(); ++i)
    sizes += std::string(i == 0                    ? ""
                         : i + 1 == outputs.size() ? " and "
                                                   : ", ") +
             size_text(outputs[i].bytes) + " of " + outputs[i].name +
             (outputs[i].switch_off.empty() ? "" : " (" + outputs[i].switch_off + ")");
  warn(where + "this run's outputs may not fit in the " + size_text(*free) + " free there: its " +
       std::to_string(config_.steps) + " steps make about " + sizes +
       "; the settings in parentheses turn those outputs off");
}

void World::make_recorders() {
  const OutputSink &out = *outputs_;
  // The video's ffmpeg starts first: should it fail to start, no other output
  // is begun.
  std::unique_ptr<VideoRecorder> video;
  if (config_.write_video && engine_.view != nullptr)
    video = std::make_unique<VideoRecorder>(out, *engine_.view, config_.time_step_ms);
  // The most valuable first: on a disk that fills up, report.json and then
  // the trace's end are written while there is still room (see OutputSink).
  recorders_.push_back(std::make_unique<ReportRecorder>(out));
  if (config_.write_trace) recorders_.push_back(std::make_unique<TraceRecorder>(out));
  if (config_.write_pictures) {
    recorders_.push_back(std::make_unique<TopViewRecorder>(out));
    JointHistory::Ranges ranges;
    for (std::size_t i = 0; i < plotted_joints.size(); ++i)
      ranges[i] = engine_.engine->range(plotted_joints[i]);
    recorders_.push_back(std::make_unique<JointPlotRecorder>(
        out, config_.steps, config_.time_step_ms / 1000.0, ranges));
  }
  if (config_.write_state) recorders_.push_back(std::make_unique<StateRecorder>(out));
  if (video) recorders_.push_back(std::move(video));
  if (config_.write_pictures) recorders_.push_back(std::make_unique<FramesRecorder>(out));
  if (config_.write_model && !engine_.model_xml.empty())
    recorders_.push_back(std::make_unique<ModelFileRecorder>(out, engine_.model_xml));
}

void World::record_call(std::string_view op, std::initializer_list<CallField> fields) {
  if (recorders_.empty()) return;
  const CallEvent call{steps_done_, op, std::span(fields.begin(), fields.size())};
  for (const auto &recorder : recorders_) recorder->on_call(call);
}

CameraImage World::image() const {
  return {camera_.image(), camera_.width(), camera_.height(), camera_.shown()};
}

World::~World() {
  if (!finished_) finish("the world was closed", steps_done_ < config_.steps);
}

void World::warn(const std::string &message) {
  progress_.clear();
  std::fprintf(stderr, "sim: warning: %s\n", message.c_str());
}

bool World::warn_once(const std::string &what, const std::string &message) {
  auto seen = std::find_if(warnings_.begin(), warnings_.end(),
                           [&](const auto &warning) { return warning.first == what; });
  if (seen != warnings_.end()) {
    ++seen->second;
    return false;
  }
  warnings_.emplace_back(what, 1);
  warn(message);
  return true;
}

bool World::check(std::uint8_t tag, DeviceKind wanted, const char *op) {
  const std::optional<Device> device = device_of(tag);
  if (device && device->kind == wanted) return true;
  const std::string what = std::string(op) + " on tag " + std::to_string(tag);
  if (tag == 0)
    warn_once(what, std::string(op) +
                        ": tag 0 is no device (robot_get_device gives it for an "
                        "unknown name); call ignored");
  else if (!device)
    warn_once(what,
              std::string(op) + ": tag " + std::to_string(tag) + " is no device; call ignored");
  else
    warn_once(what, std::string(op) + ": tag " + std::to_string(tag) + " is the " +
                        kind_name(device->kind) + " \"" + std::string(device->name) + "\", not a " +
                        kind_name(wanted) + "; call ignored");
  return false;
}

std::unique_ptr<LiveWindow> World::open_window() {
  if (!engine_.open_window) throw RunError(*window_unavailable(config_));
  return engine_.open_window();
}

void World::move_target(std::size_t index, Vec2 to) {
  if (finished_ || index >= config_.targets.size() || !std::isfinite(to.x) || !std::isfinite(to.y))
    return;
  Target &target = config_.targets[index];
  const TargetMove move{steps_done_, index, {target.x, target.y}, to};
  target.x = to.x;
  target.y = to.y;
  engine_.engine->target_moved(config_.targets, index);
  sightings_.moved(index, to);
  target_moves_.push_back(move);
  for (const auto &recorder : recorders_) recorder->on_target_move(move);
}

bool World::stopped_by_signal() {
  if (finished_) return true;
  const int signal = stop_signal();
  if (signal == 0) return false;
  signal_ = signal;
  finish("interrupted by " + signal_name(signal), true);
  return true;
}

void World::live(void (*init)()) {
  lived();
  if (init != nullptr) init();
}

void World::run(int (*step_function)()) {
  if (!run_begins(step_function != nullptr)) return;
  do {
    steps_before_call_ = steps_done_;
  } while (step_function_returned(step_function()));
}

void World::lived() { record_call("robot_live"); }

bool World::run_begins(bool has_step_function) {
  record_call("robot_run");
  if (finished_) return false;
  if (!has_step_function) {
    warn("robot_run: no step function; the run ends");
    finish("robot_run was given no step function", true);
    return false;
  }
  steps_before_call_ = steps_done_;
  return true;
}

bool World::step_function_returned(int result) {
  record_call("step_function", {{"result", std::int64_t{result}}});
  if (stopped_by_signal()) return false;
  idle_calls_ = (steps_done_ == steps_before_call_) ? idle_calls_ + 1 : 0;
  steps_before_call_ = steps_done_;
  if (idle_calls_ == max_idle_calls) {
    warn("the step function returned " + std::to_string(max_idle_calls) +
         " times in a row without a step; the run ends");
    finish("the step function stopped stepping", true);
    return false;
  }
  ++step_function_calls_;
  if (config_.run_calls != 0 && step_function_calls_ >= config_.run_calls) {
    finish("robot_run returned after " + std::to_string(config_.run_calls) + " step-function calls",
           steps_done_ < config_.steps);
    return false;
  }
  return true;
}

void World::controller_ended(const ControllerEnd &end) {
  if (finished_) return;
  controller_end_ = end;
  finish(describe(end), true);
}

bool World::step(std::int32_t ms) {
  if (stopped_by_signal()) return false;
  record_call("robot_step", {{"ms", std::int64_t{ms}}});
  // A step is time_step_ms long: a call takes as many as cover its ms. A
  // length that is no length at all still takes one, as the controller
  // must get on.
  double steps = 1.0;
  if (ms > 0) {
    steps = std::ceil(ms / config_.time_step_ms - 1e-9);
  } else {
    char length[32];
    std::snprintf(length, sizeof length, "%g", config_.time_step_ms);
    warn_once("robot_step with no length of time",
              "robot_step: " + std::to_string(ms) +
                  " ms is no length of time; it takes one step (" + length + " ms)");
  }
  const auto left = static_cast<double>(config_.steps - steps_done_);
  const std::int64_t count = static_cast<std::int64_t>(std::clamp(steps, 1.0, left));
  for (std::int64_t i = 0; i < count; ++i)
    if (!advance()) return false;
  return true;
}

bool World::advance() {
  const std::int64_t finished = reaches_.finished_count();
  const std::vector<const Reach *> began =
      reaches_.before_step(steps_done_, set_points_, last_fetch_);
  reaches_ended(finished);
  for (const Reach *reach : began)
    for (const auto &recorder : recorders_) recorder->on_reach_start(*reach);
  engine_.engine->advance(set_points_);
  camera_.update(*engine_.engine, set_points_);
  ++steps_done_;
  reaches_.after_step(*engine_.engine);
  const std::size_t placed = watch_.placements().size();
  watch_.after_step(steps_done_, *engine_.engine, config_.targets);
  for (std::size_t i = placed; i < watch_.placements().size(); ++i)
    reaches_.placed(watch_.placements()[i]);
  if (!recorders_.empty()) {
    if (camera_.outdated() &&
        std::any_of(recorders_.begin(), recorders_.end(), [&](const auto &recorder) {
          return recorder->wants_camera_image(steps_done_);
        }))
      draw_camera();
    const StepEvent event{steps_done_,
                          static_cast<double>(steps_done_) * config_.time_step_ms / 1000.0,
                          *engine_.engine,
                          set_points_,
                          image(),
                          {reaches_.state(0), reaches_.state(2)},
                          {reaches_.out(0), reaches_.out(2)}};
    for (const auto &recorder : recorders_) recorder->on_step(event);
  }
  progress_.step(steps_done_);
  if (config_.stop_after_reaches > 0 && reaches_.finished_count() >= config_.stop_after_reaches) {
    finish("the world's reaches are done", false);
    return false;
  }
  if (steps_done_ < config_.steps) return !stopped_by_signal();
  finish("the world's steps are done", false);
  return false;
}

void World::reaches_ended(std::int64_t finished) {
  const std::vector<Reach> &done = reaches_.finished();
  for (auto i = static_cast<std::size_t>(finished); i < done.size(); ++i)
    for (const auto &recorder : recorders_) recorder->on_reach_end(done[i]);
}

void World::watch_reads(bool watched) {
  reads_watched_ = watched;
  camera_.draw_on_demand(*engine_.engine, watched);
}

void World::draw_camera() { camera_.draw(*engine_.engine); }

void World::image_read() {
  if (reads_watched_ && !finished_) fetched(true);
}

void World::fetched(bool read) {
  const CameraImage now = image();
  // An image unchanged since the last fetch holds what it held then.
  if (!last_fetch_ || camera_.generation() != fetched_generation_) {
    const double pan = engine_.engine->position(head_pan_joint);
    Fetch fetch;
    // A read image is named for the view it shows; a fetched one, which may
    // be read only later, for the way the head pointed then.
    fetch.side = read        ? camera_.shown()
                 : pan > 0.0 ? View::left
                 : pan < 0.0 ? View::right
                             : View::forward;
    fetch.window = find_target_level_window(now.pixels, now.width, now.height);
    if (fetch.window)
      fetch.window_ground = engine_.engine->ground_seen(fetch.window->x + window_side / 2,
                                                        fetch.window->y + window_side / 2);
    // Whether the image showed a disc is the scene's to say: a sensor's noise
    // or gain changes its colour, not what the camera looked at.
    sightings_.fetched(steps_done_, fetch.side, camera_.scene(), now.width, now.height,
                       *engine_.engine);
    last_fetch_ = fetch;
    fetched_generation_ = camera_.generation();
  }
  last_fetch_->step = steps_done_;
  const FetchEvent event{*last_fetch_, now, read};
  for (const auto &recorder : recorders_) recorder->on_fetch(event);
}

std::uint8_t World::get_device(const char *name) {
  const std::string_view wanted = name != nullptr ? name : "";
  const std::uint8_t tag = tag_of(wanted);
  record_call("robot_get_device", {{"name", wanted}, {"tag", std::int64_t{tag}}});
  if (tag == 0)
    warn_once("robot_get_device(\"" + std::string(wanted) + "\")",
              "robot_get_device: unknown device name \"" + std::string(wanted) +
                  "\"; it gets tag 0, and calls on tag 0 are ignored");
  return tag;
}

void World::set_position(std::uint8_t tag, float position) {
  record_call("servo_set_position", {{"tag", std::int64_t{tag}}, {"position", position}});
  if (!check(tag, DeviceKind::joint, "servo_set_position")) return;
  // A NaN set-point would make the joint's position NaN for the rest of the
  // run; infinities are fine, they drive the joint to its limit.
  if (std::isnan(position)) {
    warn_once("servo_set_position of a NaN on tag " + std::to_string(tag),
              "servo_set_position: tag " + std::to_string(tag) +
                  " got a set-point that is not a number; call ignored");
    return;
  }
  set_points_.set(device_of(tag)->joint, static_cast<double>(position));
}

void World::enable_camera(std::uint8_t tag, std::int32_t ms) {
  record_call("camera_enable", {{"tag", std::int64_t{tag}}, {"ms", std::int64_t{ms}}});
  check(tag, DeviceKind::camera, "camera_enable");
}

void World::enable_receiver(std::uint8_t tag, std::int32_t ms) {
  record_call("receiver_enable", {{"tag", std::int64_t{tag}}, {"ms", std::int64_t{ms}}});
  check(tag, DeviceKind::receiver, "receiver_enable");
}

void World::enable_keyboard(std::int32_t ms) {
  record_call("robot_keyboard_enable", {{"ms", std::int64_t{ms}}});
}

const unsigned char *World::camera_image(std::uint8_t tag) {
  record_call("camera_get_image", {{"tag", std::int64_t{tag}}});
  if (!check(tag, DeviceKind::camera, "camera_get_image")) return nullptr;
  if (!config_.camera_image) return nullptr;
  if (!reads_watched_) fetched(false);
  return camera_.image();
}

std::uint16_t World::camera_width(std::uint8_t tag) {
  record_call("camera_get_width", {{"tag", std::int64_t{tag}}});
  if (!check(tag, DeviceKind::camera, "camera_get_width")) return 0;
  return static_cast<std::uint16_t>(camera_.width());
}

std::uint16_t World::camera_height(std::uint8_t tag) {
  record_call("camera_get_height", {{"tag", std::int64_t{tag}}});
  if (!check(tag, DeviceKind::camera, "camera_get_height")) return 0;
  return static_cast<std::uint16_t>(camera_.height());
}

char *World::text_buffer() {
  record_call("robot_get_formated_string");
  return text_.data();
}

void World::console_lost(const std::string &reason) {
  if (!console_lost_)
    console_lost_ =
        std::string(console_lines_ == 0 ? "before any of its lines was written, " : "") +
        "at step " + std::to_string(steps_done_) + " (" + reason + ")";
}

void World::console_print(const char *text) {
  if (text == nullptr) {
    record_call("robot_console_print");
    warn("robot_console_print: no text; call ignored");
    return;
  }
  // Passed through and traced, never read.
  record_call("robot_console_print", {{"text", std::string_view(text)}});
  if (console_lost_) return;
  errno = 0;
  // Each line is flushed, so a loss is seen at the line that was lost, not
  // whenever the buffer next filled.
  const bool failed = write_forgetting_own_sigpipe([&] {
    return std::fputs(text, stdout) < 0 || std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
  });
  if (failed)
    console_lost(last_system_reason());
  else
    ++console_lines_;
}

void World::finish(const std::string &reason, bool interrupted) {
  if (finished_) return;
  finished_ = true;
  progress_.clear();
  if (!console_lost_) {
    errno = 0;
    if (write_forgetting_own_sigpipe([] { return std::fflush(stdout) != 0; }))
      console_lost(last_system_reason());
  }
  record_call("end", {{"reason", std::string_view(reason)}});
  const std::vector<Reach> reaches = reaches_.reaches();
  const std::vector<Vec2> footprint = engine_.engine->torso_footprint();
  const RunRecord record{config_,      steps_done_,        interrupted, watch_.placements(),
                         reaches,      sightings_.first(), footprint,   controller_end_,
                         target_moves_};
  for (const auto &recorder : recorders_) recorder->on_end(record);
  // The outputs are complete: a controller that goes on calling after its
  // run has ended is no longer recorded.
  recorders_.clear();
  if (outputs_)
    if (const std::string outcome = outputs_->outcome(); !outcome.empty())
      std::fprintf(stderr, "sim: error: SIM_OUTPUT: %s: not every output could be written: %s\n",
                   folder_->path().c_str(), outcome.c_str());
  std::string repeated;
  for (const auto &[what, count] : warnings_)
    if (count > 1)
      repeated += (repeated.empty() ? "" : ", ") + what + " " + std::to_string(count) + " times";
  if (!repeated.empty()) warn("warned about once each, and counted to the end: " + repeated);
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

}  // namespace sim
