#include "sim/simulator/replay.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "sim/core/errors.h"
#include "sim/core/live_window.h"
#include "sim/draw/plain_picture.h"
#include "sim/record/window_picture.h"
#include "sim/system/files.h"
#include "sim/system/signals.h"
#include "sim/world/engine_choice.h"

namespace sim {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Frames the window shows at most, a second.
constexpr double frame_rate = 60.0;

// One row of state.csv: the robot after a step.
struct Row {
  long step = 0;
  double time_s = 0.0;
  std::array<double, joint_count> joints{};
  TorsoPose torso;
};

// A run's state log grows with its steps: a long run's is far larger than
// the stand-in's other files, but one past this is not a run's.
constexpr std::uint64_t largest_replayed_file = std::uint64_t{1} << 30;  // bytes: 1 GiB

// A file of the run's folder, or nothing if it cannot be read. A FIFO or a
// device in its place is refused rather than waited on.
std::optional<std::string> text_of(const fs::path &path) {
  try {
    return read_file(path.string(), "a run's file", largest_replayed_file);
  } catch (const FileError &) {
    return std::nullopt;
  }
}

std::vector<std::string_view> fields_of(std::string_view line) {
  std::vector<std::string_view> fields;
  for (std::size_t start = 0;;) {
    const std::size_t comma = line.find(',', start);
    fields.push_back(line.substr(start, comma - start));
    if (comma == std::string_view::npos) return fields;
    start = comma + 1;
  }
}

// An empty field is a value the run did not have (a set-point never given,
// a torso on the kinematic engine): NaN, which pose() leaves alone.
double number_of(std::string_view field, const std::string &where) {
  if (field.empty()) return std::nan("");
  const std::string text(field);
  char *end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0')
    throw RunError(where + ": \"" + text + "\" is not a number");
  return value;
}

std::vector<Row> read_state(const fs::path &path) {
  const std::optional<std::string> text = text_of(path);
  if (!text) throw RunError(path.string() + ": cannot be read (the run's state log is needed)");
  std::istringstream lines(*text);
  std::string header;
  std::getline(lines, header);
  const std::vector<std::string_view> names = fields_of(header);
  const auto column = [&](std::string_view name) -> std::optional<std::size_t> {
    const auto found = std::find(names.begin(), names.end(), name);
    if (found == names.end()) return std::nullopt;
    return static_cast<std::size_t>(found - names.begin());
  };
  std::vector<std::size_t> joints;
  for (std::size_t i = 0; i < names.size(); ++i)
    if (names[i].ends_with("_position_rad")) joints.push_back(i);
  const std::optional<std::size_t> step = column("step");
  const std::optional<std::size_t> time = column("time_s");
  if (!step || !time || joints.size() != joint_count)
    throw RunError(path.string() + ": its header is not a state log's (step, time_s and " +
                   std::to_string(joint_count) + " joint positions)");
  const std::array<std::optional<std::size_t>, 6> torso{
      column("torso_x_m"),      column("torso_y_m"),       column("torso_z_m"),
      column("torso_roll_rad"), column("torso_pitch_rad"), column("torso_yaw_rad")};
  std::vector<Row> rows;
  long line_number = 1;
  for (std::string line; std::getline(lines, line);) {
    ++line_number;
    if (line.empty()) continue;
    const std::string where = path.string() + ", line " + std::to_string(line_number);
    const std::vector<std::string_view> fields = fields_of(line);
    if (fields.size() != names.size())
      throw RunError(where + ": " + std::to_string(fields.size()) + " fields, the header has " +
                     std::to_string(names.size()));
    Row row;
    row.step = std::lround(number_of(fields[*step], where));
    row.time_s = number_of(fields[*time], where);
    for (std::size_t j = 0; j < joint_count; ++j)
      row.joints[j] = number_of(fields[joints[j]], where);
    std::array<double, 6> pose{};
    for (std::size_t i = 0; i < pose.size(); ++i)
      pose[i] = torso[i] ? number_of(fields[*torso[i]], where) : std::nan("");
    row.torso.position = {pose[0], pose[1], pose[2]};
    row.torso.roll = pose[3];
    row.torso.pitch = pose[4];
    row.torso.yaw = pose[5];
    rows.push_back(row);
  }
  if (rows.empty()) throw RunError(path.string() + ": holds no step");
  return rows;
}

// A camera image the run saved, at the step it was fetched.
struct Frame {
  long step = 0;
  fs::path path;
};

std::vector<Frame> look_frames(const fs::path &folder) {
  std::vector<Frame> frames;
  const std::regex name("frame_([0-9]+)_(left|right|forward)_look\\.png");
  std::error_code error;
  for (const auto &entry : fs::directory_iterator(folder, error)) {
    std::smatch match;
    const std::string file = entry.path().filename().string();
    if (std::regex_match(file, match, name)) frames.push_back({std::stol(match[1]), entry.path()});
  }
  std::sort(frames.begin(), frames.end(),
            [](const Frame &a, const Frame &b) { return a.step < b.step; });
  return frames;
}

// A reach's marks on the floor, from the step they are known.
struct TimedMark {
  long from_step = 0;
  FloorMark mark;
};

Vec3 point_of(const nlohmann::json &list) {
  if (!list.is_array() || list.size() < 2 || !list[0].is_number() || !list[1].is_number())
    return {std::nan(""), std::nan(""), 0.0};
  return {list[0].get<double>(), list[1].get<double>(), 0.0};
}

// What report.json tells of the reaches; nothing when it cannot be read (a
// run cut off hard may have none), since the robot can be replayed without.
void read_reaches(const fs::path &path, long last_step, std::vector<TimedMark> &marks) {
  const std::optional<std::string> text = text_of(path);
  if (!text) return;
  const nlohmann::json report = nlohmann::json::parse(*text, nullptr, false);
  if (!report.is_object() || !report.contains("reaches") || !report["reaches"].is_array()) return;
  for (const nlohmann::json &reach : report["reaches"]) {
    if (!reach.is_object()) continue;
    const std::string outcome = reach.value("outcome", "");
    const auto step_of = [&](const char *key) {
      return reach.contains(key) && reach[key].is_number() ? reach[key].get<long>() : last_step;
    };
    if (outcome == "on_target" || outcome == "off_target") {
      const long at = step_of("step");
      marks.push_back({at, {FloorMark::Kind::aimed, point_of(reach["aimed"])}});
      marks.push_back(
          {at,
           {outcome == "on_target" ? FloorMark::Kind::on_target : FloorMark::Kind::off_target,
            point_of(reach["foot"])}});
    } else if (outcome == "no_contact") {
      marks.push_back(
          {step_of("end_step"), {FloorMark::Kind::no_contact, point_of(reach["aimed"])}});
    } else if (outcome == "unfinished" && reach.contains("end_foot")) {
      marks.push_back({last_step, {FloorMark::Kind::unfinished, point_of(reach["end_foot"])}});
    }
  }
}

std::string status_of(const Row &row, long last_step, const LiveWindow &window,
                      const std::string &folder) {
  char text[512];
  std::snprintf(text, sizeof text,
                "replay: step %ld of %ld   %.2f s   %s%s   F1: help\nthe run in %s   "
                "left arrow: back",
                row.step, last_step, row.time_s, window.paused() ? "PAUSED at " : "",
                window.speed_text().c_str(), folder.c_str());
  return text;
}

}  // namespace

int replay(const std::string &folder, bool paused) {
  const fs::path dir(folder);
  std::vector<Row> rows;
  std::unique_ptr<ReplayView> view;
  std::vector<TimedMark> marks;
  std::vector<Frame> frames;
  try {
    if (!fs::is_directory(dir)) throw RunError(folder + ": no such folder");
    rows = read_state(dir / "state.csv");
    const std::optional<std::string> xml = text_of(dir / "world.xml");
    if (!xml)
      throw RunError((dir / "world.xml").string() +
                     ": cannot be read; only a run on the physics engine writes it, and only "
                     "such a run can be replayed");
    read_reaches(dir / "report.json", rows.back().step, marks);
    frames = look_frames(dir);
    view = open_replay(*xml);
  } catch (const RunError &error) {
    std::fprintf(stderr, "sim: error: %s\n", error.what());
    return 2;
  }
  LiveWindow &window = view->window();
  if (paused) window.pause();
  // The folder's own name: its whole path may not fit on the status line.
  fs::path whole = fs::absolute(dir).lexically_normal();
  if (whole.filename().empty()) whole = whole.parent_path();
  const std::string run_name = whole.filename().string();
  const std::size_t last = rows.size() - 1;
  const double step_s = rows.size() > 1
                            ? (rows.back().time_s - rows.front().time_s) / static_cast<double>(last)
                            : 0.032;
  std::size_t at = 0;
  std::size_t anchor_at = 0;
  double anchor_speed = -1.0;
  Clock::time_point anchor_wall = Clock::now();
  std::optional<std::size_t> shown;  // the row last drawn
  std::optional<std::size_t> inset_frame;
  Clock::time_point last_frame = Clock::now();
  int pictures = 0;
  for (;;) {
    window.wait(0.0);
    if (window.closed() || stop_signal() != 0) break;
    // A replay moves nothing: a disc let go of goes back where the run had it.
    while (window.take_disc_move()) {
    }
    const long scrub = window.take_scrub();
    if (scrub != 0) {
      const long to = std::clamp(static_cast<long>(at) + scrub, 0L, static_cast<long>(last));
      at = static_cast<std::size_t>(to);
      if (!window.paused()) window.pause();
    } else if (window.paused()) {
      // Every press seen so far, before the frame that shows where they led.
      while (window.take_step())
        if (at < last) ++at;
      anchor_speed = -1.0;
    } else {
      const double speed = window.speed();
      if (speed != anchor_speed) {
        anchor_speed = speed;
        anchor_wall = Clock::now();
        anchor_at = at;
      }
      if (speed == 0.0) {
        at = std::min(at + 1, last);
      } else {
        const double seconds = std::chrono::duration<double>(Clock::now() - anchor_wall).count();
        at = std::min(last, anchor_at + static_cast<std::size_t>(seconds * speed / step_s));
      }
      // At the end it stays, paused, until scrubbed back.
      if (at == last) window.pause();
    }
    const bool frame_due =
        std::chrono::duration<double>(Clock::now() - last_frame).count() >= 1.0 / frame_rate;
    if (shown != at || frame_due) {
      const Row &row = rows[at];
      view->pose(row.joints, row.torso);
      std::vector<FloorMark> now;
      for (const TimedMark &mark : marks)
        if (mark.from_step <= row.step) now.push_back(mark.mark);
      window.set_floor_marks(std::move(now));
      // The last camera image the run saved by this step, if any.
      std::optional<std::size_t> frame;
      for (std::size_t i = 0; i < frames.size() && frames[i].step <= row.step; ++i) frame = i;
      if (frame != inset_frame) {
        inset_frame = frame;
        std::optional<PlainPicture> picture;
        if (frame) picture = read_plain_picture_png(frames[*frame].path.string());
        // A saved frame is a picture of its own, titled, with the window a
        // reach was decided on already outlined: shown as it is.
        if (picture)
          window.set_inset(picture->width, picture->height, picture->rgb, std::nullopt);
        else
          window.set_inset(0, 0, {}, std::nullopt);
      }
      window.show(status_of(row, rows.back().step, window, run_name));
      shown = at;
      last_frame = Clock::now();
      LiveWindow::Picture picture;
      if (window.take_picture(picture)) {
        char name[64];
        std::snprintf(name, sizeof name, "replay_%03d_step_%06ld.png", ++pictures, row.step);
        save_window_picture(picture, (dir / name).string());
      }
    }
    window.wait(1.0 / frame_rate);
  }
  return 0;
}

}  // namespace sim
