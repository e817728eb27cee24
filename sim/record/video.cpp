#include "sim/record/video.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "sim/core/errors.h"
#include "sim/draw/video_caption.h"
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

}  // namespace

VideoWriter::~VideoWriter() { close(); }

std::string VideoWriter::open(int output, int width, int height, double frames_per_second) {
  // ffmpeg opens the file as /dev/fd/3, the same file again (not the pipe's
  // kind of output, which an mp4 cannot be written to). Its number must not
  // be 3 already: dup2 onto itself would keep it closed on exec.
  const int inherited = ::fcntl(output, F_DUPFD_CLOEXEC, 10);
  ::close(output);
  if (inherited < 0) return "cannot pass the file on (" + system_reason(errno) + ")";
  int frames[2];
  int messages[2];
  if (::pipe2(frames, O_CLOEXEC) != 0) {
    ::close(inherited);
    return "cannot make a pipe (" + system_reason(errno) + ")";
  }
  if (::pipe2(messages, O_CLOEXEC) != 0) {
    for (const int fd : {inherited, frames[0], frames[1]}) ::close(fd);
    return "cannot make a pipe (" + system_reason(errno) + ")";
  }
  char size[32];
  std::snprintf(size, sizeof size, "%dx%d", width, height);
  char rate[32];
  std::snprintf(rate, sizeof rate, "%.6g", frames_per_second);
  // Deterministic, widely playable H.264: one encoder thread, yuv420p, no
  // metadata that changes from run to run.
  const std::vector<std::string> words = {
      "ffmpeg",   "-nostdin", "-nostats",  "-loglevel", "error",     "-y",      "-f",
      "rawvideo", "-pix_fmt", "rgb24",     "-s",        size,        "-r",      rate,
      "-i",       "pipe:0",   "-an",       "-c:v",      "libx264",   "-preset", "fast",
      "-crf",     "23",       "-threads",  "1",         "-pix_fmt",  "yuv420p", "-map_metadata",
      "-1",       "-fflags",  "+bitexact", "-flags:v",  "+bitexact", "-f",      "mp4",
      "/dev/fd/3"};
  std::vector<char *> argv;
  for (const std::string &word : words) argv.push_back(const_cast<char *>(word.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, frames[0], STDIN_FILENO);
  // ffmpeg's stdout would land among the controller's console lines; what it
  // says on stderr is read, and is part of why a video failed.
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, messages[1], STDERR_FILENO);
  posix_spawn_file_actions_adddup2(&actions, inherited, 3);
  // Its own process group: a Ctrl-C at the terminal is the run's to handle,
  // and the run then ends the video properly by closing the pipe.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  const int spawned = posix_spawnp(&ffmpeg_, "ffmpeg", &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  for (const int fd : {inherited, frames[0], messages[1]}) ::close(fd);
  if (spawned != 0) {
    ::close(frames[1]);
    ::close(messages[0]);
    ffmpeg_ = -1;
    if (spawned == ENOENT) return "the ffmpeg program is not installed (Debian: ffmpeg)";
    return "cannot start ffmpeg (" + system_reason(spawned) + ")";
  }
  // Never blocked on ffmpeg: a write waits only as long as its patience.
  ::fcntl(frames[1], F_SETFL, O_NONBLOCK);
  ::fcntl(messages[0], F_SETFL, O_NONBLOCK);
  pipe_ = frames[1];
  messages_ = messages[0];
  frames_ = 0;
  stopped_ = false;
  stop_asked_.reset();
  failure_.clear();
  said_.clear();
  return "";
}

void VideoWriter::read_messages() {
  // Its first words say why; a flood of them is cut short.
  constexpr std::size_t kept = 4096;
  char buffer[4096];
  while (messages_ >= 0) {
    const ssize_t got = ::read(messages_, buffer, sizeof buffer);
    if (got > 0) {
      said_.append(buffer,
                   std::min(static_cast<std::size_t>(got), kept - std::min(kept, said_.size())));
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    ::close(messages_);  // ffmpeg closed it: it has exited
    messages_ = -1;
  }
}

bool VideoWriter::wait(bool for_frames, Clock::time_point since) {
  for (;;) {
    read_messages();
    if (!for_frames && messages_ < 0) return true;
    const Clock::time_point now = Clock::now();
    Clock::time_point deadline = since + patience_;
    if (stop_signal() != 0) {
      if (!stop_asked_) stop_asked_ = now;
      deadline = std::min(deadline, *stop_asked_ + patience_once_stopped);
    }
    if (now >= deadline) return false;
    pollfd watched[2]{};
    nfds_t count = 0;
    if (for_frames) watched[count++] = {pipe_, POLLOUT, 0};
    if (messages_ >= 0) watched[count++] = {messages_, POLLIN, 0};
    // A signal that comes between the check above and poll is seen within a
    // quarter of a second.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    const int slice = static_cast<int>(std::min<std::int64_t>(left, 250));
    if (::poll(watched, count, slice) > 0 && for_frames && watched[0].revents != 0) return true;
  }
}

void VideoWriter::stop(const std::string &why) {
  if (failure_.empty()) failure_ = why;
  stopped_ = true;
  if (ffmpeg_ > 0) ::kill(-ffmpeg_, SIGKILL);
  if (pipe_ >= 0) ::close(pipe_);
  pipe_ = -1;
}

bool VideoWriter::add(std::span<const unsigned char> frame) {
  if (pipe_ < 0) return false;
  Clock::time_point progress = Clock::now();
  std::size_t done = 0;
  while (done < frame.size()) {
    const ssize_t wrote = write_forgetting_own_sigpipe(
        [&] { return ::write(pipe_, frame.data() + done, frame.size() - done); });
    if (wrote > 0) {
      done += static_cast<std::size_t>(wrote);
      progress = Clock::now();
      continue;
    }
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (wait(true, progress)) continue;
      const auto waited = std::chrono::duration<double>(Clock::now() - progress).count();
      char why[128];
      std::snprintf(why, sizeof why,
                    "ffmpeg took no frame data for %.0f s at frame %lld, so it was stopped", waited,
                    static_cast<long long>(frames_ + 1));
      stop(why);
      return false;
    }
    failure_ = "ffmpeg stopped taking frames at frame " + std::to_string(frames_ + 1) + " (" +
               system_reason(errno) + ")";
    ::close(pipe_);
    pipe_ = -1;
    return false;
  }
  ++frames_;
  return true;
}

std::string VideoWriter::reap(Clock::time_point deadline) {
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(ffmpeg_, &status, WNOHANG);
    if (done == ffmpeg_) break;
    if (done < 0 && errno != EINTR) {
      ffmpeg_ = -1;
      return "ffmpeg's end could not be seen (" + system_reason(errno) + ")";
    }
    if (Clock::now() >= deadline) {
      ::kill(-ffmpeg_, SIGKILL);
      while (::waitpid(ffmpeg_, &status, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    ::usleep(10'000);
  }
  ffmpeg_ = -1;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
  if (WIFEXITED(status)) return "ffmpeg exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status))
    return "ffmpeg was ended by signal " + std::to_string(WTERMSIG(status)) + " (" +
           strsignal(WTERMSIG(status)) + ")";
  return "ffmpeg ended abnormally";
}

std::string VideoWriter::close() {
  if (ffmpeg_ <= 0) return failure_;
  if (pipe_ >= 0) ::close(pipe_);
  pipe_ = -1;
  // Once its input ends, ffmpeg finishes the file and exits, which closes its
  // standard error.
  if (!wait(false, Clock::now()))
    stop("ffmpeg did not finish the video in time after its last frame, so it was stopped");
  std::vector<std::string> why;
  if (!failure_.empty()) why.push_back(failure_);
  const std::string end = reap(Clock::now() + std::chrono::seconds(1));
  if (!end.empty() && !stopped_) why.push_back(end);
  read_messages();
  if (messages_ >= 0) ::close(messages_);
  messages_ = -1;
  // At -loglevel error, anything ffmpeg says is an error, even when it
  // exits 0 (as it does when the disk fills while it ends the file).
  // It knows the file only by the name it was handed.
  for (std::size_t at; (at = said_.find("/dev/fd/3")) != std::string::npos;)
    said_.replace(at, 9, "the output file");
  std::string said;
  for (std::size_t at = 0; at < said_.size();) {
    std::size_t line_end = said_.find('\n', at);
    if (line_end == std::string::npos) line_end = said_.size();
    if (line_end > at) said += (said.empty() ? "" : "; ") + said_.substr(at, line_end - at);
    at = line_end + 1;
  }
  if (!said.empty()) why.push_back("ffmpeg said: " + said);
  failure_.clear();
  for (const std::string &part : why) failure_ += (failure_.empty() ? "" : "; ") + part;
  return failure_;
}

VideoRecorder::VideoRecorder(const OutputSink &outputs, ThirdPersonView &view, double time_step_ms)
    : outputs_(outputs), view_(view), steps_per_frame_(steps_per_frame(time_step_ms)) {
  const double seconds_per_frame = steps_per_frame_ * time_step_ms / 1000.0;
  const int output = outputs_.create("run.mp4", O_RDWR);
  const std::string failed =
      output < 0 ? system_reason(errno)
                 : video_.open(output, video_width, video_height, 1.0 / seconds_per_frame);
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
  caption_video_frame(
      frame_, video_width, video_height,
      video_caption_lines(step.step, step.seconds, step.legs[0], step.legs[1], step.camera.view));
  video_.add(frame_);
}

void VideoRecorder::on_end(const RunRecord & /*run*/) {
  // A video whose ffmpeg failed on the way is no longer open, and its loss is
  // still to be told.
  outputs_.complete("run.mp4", video_.close());
}

}  // namespace sim
