#include "sim/record/video.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "sim/draw/video_caption.h"
#include "sim/model/errors.h"
#include "sim/system/files.h"
#include "sim/system/signals.h"

extern char **environ;

namespace sim {

namespace {
// The video: a third-person view with the robot's own image as an inset, in
// real time: one frame every other step of 32 ms.
constexpr int video_width = 640;
constexpr int video_height = 480;

// Steps between video frames: as many as make about 30 frames a second or fewer.
int steps_per_frame(double time_step_ms) {
  return std::max(1, static_cast<int>(std::ceil((1000.0 / 30.0) / time_step_ms - 1e-9)));
}

// The robot's own image in the top-left corner of a video frame, framed in
// white, with the window a reach under way was decided on outlined.
void paste_inset(std::vector<unsigned char> &frame, int frame_width, int frame_height,
                 const CameraImage &camera, const std::optional<Window> &window) {
  const int w = std::min(camera.width, frame_width - 4);
  const int h = std::min(camera.height, frame_height - 4);
  const auto out_at = [&](int x, int y) {
    return &frame[(static_cast<std::size_t>(y) * static_cast<std::size_t>(frame_width) +
                   static_cast<std::size_t>(x)) *
                  3u];
  };
  for (int y = 0; y < h + 4; ++y)
    for (int x = 0; x < w + 4; ++x) {
      unsigned char *out = out_at(x, y);
      if (x < 2 || y < 2 || x >= w + 2 || y >= h + 2) {
        out[0] = out[1] = out[2] = 255;
        continue;
      }
      const unsigned char *in = camera.pixels + (static_cast<std::size_t>(y - 2) *
                                                     static_cast<std::size_t>(camera.width) +
                                                 static_cast<std::size_t>(x - 2)) *
                                                    3u;
      std::copy_n(in, 3, out);
    }
  if (!window) return;
  // One pixel around the window's 7 x 7, in the camera frames' cyan.
  const int left = window->x + 1, top = window->y + 1;
  const int right = window->x + window_side + 2, bottom = window->y + window_side + 2;
  for (int y = top; y <= bottom; ++y)
    for (int x = left; x <= right; ++x) {
      const bool edge = x == left || x == right || y == top || y == bottom;
      if (!edge || x < 2 || y < 2 || x >= w + 2 || y >= h + 2) continue;
      unsigned char *out = out_at(x, y);
      out[0] = 51, out[1] = 242, out[2] = 255;
    }
}

std::string leg_line(const char *name, LegState state) {
  return std::string(name) + " leg: " + leg_state_name(state);
}
}  // namespace

VideoWriter::~VideoWriter() { close(); }

std::string VideoWriter::open(const std::string &path, int width, int height,
                              double frames_per_second) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return "cannot make a pipe (" + system_reason(errno) + ")";
  char size[32];
  std::snprintf(size, sizeof size, "%dx%d", width, height);
  char rate[32];
  std::snprintf(rate, sizeof rate, "%.6g", frames_per_second);
  // Deterministic, widely playable H.264: one encoder thread, yuv420p, no
  // metadata that changes from run to run.
  const std::vector<std::string> words = {"ffmpeg",   "-nostdin",  "-loglevel",
                                          "error",    "-y",        "-f",
                                          "rawvideo", "-pix_fmt",  "rgb24",
                                          "-s",       size,        "-r",
                                          rate,       "-i",        "pipe:0",
                                          "-an",      "-c:v",      "libx264",
                                          "-preset",  "fast",      "-crf",
                                          "23",       "-threads",  "1",
                                          "-pix_fmt", "yuv420p",   "-map_metadata",
                                          "-1",       "-fflags",   "+bitexact",
                                          "-flags:v", "+bitexact", "-f",
                                          "mp4",      path};
  std::vector<char *> argv;
  for (const std::string &word : words) argv.push_back(const_cast<char *>(word.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[0], STDIN_FILENO);
  // ffmpeg's stdout would land among the controller's console lines.
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  // Its own process group: a Ctrl-C at the terminal is the run's to handle,
  // and the run then ends the video properly by closing the pipe.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  const int spawned = posix_spawnp(&ffmpeg_, "ffmpeg", &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(ends[0]);
  if (spawned != 0) {
    ::close(ends[1]);
    ffmpeg_ = -1;
    if (spawned == ENOENT) return "the ffmpeg program is not installed (Debian: ffmpeg)";
    return "cannot start ffmpeg (" + system_reason(spawned) + ")";
  }
  pipe_ = ends[1];
  failure_.clear();
  return "";
}

bool VideoWriter::add(std::span<const unsigned char> frame) {
  if (pipe_ < 0) return false;
  std::size_t done = 0;
  while (done < frame.size()) {
    const ssize_t wrote = write_forgetting_own_sigpipe(
        [&] { return ::write(pipe_, frame.data() + done, frame.size() - done); });
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      failure_ = "ffmpeg stopped taking frames (" + system_reason(errno) + ")";
      ::close(pipe_);
      pipe_ = -1;
      return false;
    }
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

std::string VideoWriter::close() {
  if (pipe_ >= 0) {
    ::close(pipe_);
    pipe_ = -1;
  }
  if (ffmpeg_ > 0) {
    int status = 0;
    while (::waitpid(ffmpeg_, &status, 0) < 0 && errno == EINTR) {
    }
    ffmpeg_ = -1;
    if (failure_.empty() && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
      failure_ = "ffmpeg failed (see its message above)";
  }
  return failure_;
}

VideoRecorder::VideoRecorder(const OutputSink &outputs, ThirdPersonView &view, double time_step_ms)
    : outputs_(outputs), view_(view), steps_per_frame_(steps_per_frame(time_step_ms)) {
  const double seconds_per_frame = steps_per_frame_ * time_step_ms / 1000.0;
  const std::string failed =
      video_.open(outputs_.partial("run.mp4"), video_width, video_height, 1.0 / seconds_per_frame);
  if (!failed.empty())
    throw RunError("SIM_OUTPUT: " + outputs_.path() + ": cannot write run.mp4: " + failed);
  frame_.resize(static_cast<std::size_t>(video_width) * video_height * 3u);
}

void VideoRecorder::on_step(const StepEvent &step) {
  if (!video_.is_open() || step.step % steps_per_frame_ != 0) return;
  view_.film(video_width, video_height, frame_);
  std::optional<Window> window;
  for (const Reach *reach : step.reaches)
    if (reach != nullptr && reach->decided_on && reach->decided_on->window)
      window = reach->decided_on->window;
  paste_inset(frame_, video_width, video_height, step.camera, window);
  char time[64];
  std::snprintf(time, sizeof time, "step %lld, %.2f s", static_cast<long long>(step.step),
                step.seconds);
  caption_video_frame(
      frame_, video_width, video_height,
      {time, leg_line("left", step.legs[0]) + "     " + leg_line("right", step.legs[1])});
  video_.add(frame_);
}

void VideoRecorder::on_end(const RunRecord & /*run*/) {
  if (video_.is_open()) outputs_.complete("run.mp4", video_.close());
}

}  // namespace sim
