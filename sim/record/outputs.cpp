#include "sim/record/outputs.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <regex>

#include "sim/system/files.h"

namespace sim {

namespace {
bool is_camera_frame(std::string_view name) { return name.starts_with("frame_"); }

// "a, b and c"
std::string listed(const std::vector<std::string> &names, std::int64_t frames) {
  std::vector<std::string> items = names;
  if (frames > 0)
    items.push_back(std::to_string(frames) + (frames == 1 ? " camera frame" : " camera frames"));
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i)
    out += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
  return out.empty() ? "nothing" : out;
}

// The outputs of a list in the order of their worth; camera frames counted.
std::vector<std::string> by_rank(std::vector<std::string> names, std::int64_t &frames) {
  frames += std::count_if(names.begin(), names.end(), is_camera_frame);
  std::erase_if(names, is_camera_frame);
  std::stable_sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
    return output_rank(a) < output_rank(b);
  });
  return names;
}
}  // namespace

bool is_stand_in_output(std::string_view name) {
  static const std::regex ours(
      R"((trace\.jsonl|report\.json|state\.csv|run\.mp4|world\.xml|top_view\.png|joints\.png|)"
      R"(frame_\d{6}_(left|right|forward)(_look|_reach)?\.png))");
  return std::regex_match(OutputFolder::output_named(name), ours);
}

int output_rank(std::string_view name) {
  static constexpr std::string_view order[] = {"report.json", "trace.jsonl", "top_view.png",
                                               "joints.png",  "state.csv",   "world.xml"};
  for (std::size_t i = 0; i < std::size(order); ++i)
    if (name == order[i]) return static_cast<int>(i);
  if (is_camera_frame(name)) return static_cast<int>(std::size(order));
  return static_cast<int>(std::size(order)) + 1;  // the video
}

bool is_out_of_space(int error) { return error == ENOSPC || error == EDQUOT; }

OutputSink::~OutputSink() {
  for (const Open &open : open_) ::close(open.file);
}

int OutputSink::create(std::string_view name, int access) const {
  const int file = folder_.create(name, access);
  if (file < 0) return file;
  const int own = ::fcntl(file, F_DUPFD_CLOEXEC, 0);
  if (own >= 0) open_.push_back({std::string(name), own});
  return file;
}

void OutputSink::close_open(std::string_view name) const {
  const auto it =
      std::find_if(open_.begin(), open_.end(), [&](const Open &open) { return open.name == name; });
  if (it == open_.end()) return;
  ::close(it->file);
  open_.erase(it);
}

bool OutputSink::given_up(std::string_view name) const {
  return std::find(given_up_.begin(), given_up_.end(), name) != given_up_.end();
}

void OutputSink::lost(const std::string &name, const std::string &reason) const {
  lost_.push_back(name);
  failed_(name, reason);
}

bool OutputSink::make_room(std::string_view name, std::uint64_t needed) const {
  full_ = true;
  const int rank = output_rank(name);
  const auto least = std::max_element(open_.begin(), open_.end(), [](const Open &a, const Open &b) {
    return output_rank(a.name) < output_rank(b.name);
  });
  if (least != open_.end() && output_rank(least->name) > rank) {
    const std::string victim = least->name;
    // Emptied through a descriptor of its own: the space comes free now, even
    // while its writer (ffmpeg, for the video) still holds the file open.
    // Should that fail, removing the file frees it once its writer lets go.
    [[maybe_unused]] const int emptied = ::ftruncate(least->file, 0);
    folder_.discard(victim);
    close_open(victim);
    given_up_.push_back(victim);
    lost(victim, "No space left on device; given up to make room for " + std::string(name));
    return true;
  }
  // The state log is too large to take the place of finished outputs: it
  // could take them all and still not fit.
  if (rank >= output_rank("state.csv")) return false;
  // Finished outputs are not removed in vain.
  std::uint64_t could_free = folder_.free_bytes().value_or(0);
  for (const std::string &done : kept_)
    if (output_rank(done) > rank) could_free += folder_.size_of(done);
  if (could_free < needed) return false;
  // The last one kept of the least valuable.
  const auto kept = std::max_element(
      kept_.rbegin(), kept_.rend(),
      [](const std::string &a, const std::string &b) { return output_rank(a) < output_rank(b); });
  if (kept == kept_.rend() || output_rank(*kept) <= rank) return false;
  const std::string victim = *kept;
  if (!folder_.remove(victim).empty()) return false;
  kept_.erase(std::next(kept).base());
  lost(victim, "No space left on device; removed to make room for " + std::string(name));
  return true;
}

void OutputSink::discard(const std::string &name) const {
  close_open(name);
  folder_.discard(name);
}

void OutputSink::lose(const std::string &name, const std::string &reason) const {
  if (given_up(name)) return;
  close_open(name);
  folder_.discard(name);
  given_up_.push_back(name);
  lost(name, reason);
}

void OutputSink::complete(const std::string &name, std::string failure) const {
  close_open(name);
  if (given_up(name)) return;  // already told, and its file is gone
  if (failure.empty()) failure = folder_.commit(name);
  if (failure.empty()) {
    kept_.push_back(name);
    return;
  }
  folder_.discard(name);
  lost(name, failure);
}

void OutputSink::write(const std::string &name, std::string_view content) const {
  if (full_ && is_camera_frame(name)) {
    ++frames_not_saved_;
    return;
  }
  for (;;) {
    const int error = folder_.try_write(name, content);
    if (error == 0) {
      kept_.push_back(name);
      return;
    }
    if (is_out_of_space(error) && make_room(name, content.size())) continue;
    lost(name, system_reason(error));
    return;
  }
}

void OutputSink::write_picture(const std::string &name, std::string_view png) const {
  if (png.empty())
    lost(name, "the picture could not be drawn");
  else
    write(name, png);
}

std::string OutputSink::outcome() const {
  if (lost_.empty() && frames_not_saved_ == 0) return "";
  std::int64_t kept_frames = 0;
  std::int64_t lost_frames = frames_not_saved_;
  const std::vector<std::string> kept = by_rank(kept_, kept_frames);
  const std::vector<std::string> lost = by_rank(lost_, lost_frames);
  std::string out = "kept " + listed(kept, kept_frames) + "; lost " + listed(lost, lost_frames);
  if (frames_not_saved_ > 0)
    out += " (" + std::to_string(frames_not_saved_) +
           " camera frames not saved once the disk was full)";
  return out;
}

}  // namespace sim
