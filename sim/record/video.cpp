#include "sim/record/video.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "sim/core/errors.h"
#include "sim/draw/video_caption.h"
#include "sim/record/mp4_check.h"
#include "sim/record/yuv_frame.h"
#include "sim/system/files.h"

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

// Deterministic, widely playable H.264 from raw YUV frames: one encoder
// thread, yuv420p, no metadata that changes from run to run. "ultrafast"
// makes each frame in half the processor time of "veryfast", and the same
// quality (-crf) in a file about three times larger: a default run's video
// is still under a megabyte.
std::vector<std::string> encoding(int width, int height, double frames_per_second) {
  char size[32];
  std::snprintf(size, sizeof size, "%dx%d", width, height);
  char rate[32];
  std::snprintf(rate, sizeof rate, "%.6g", frames_per_second);
  std::vector<std::string> words{"-nostdin", "-nostats", "-loglevel", "error", "-y"};
  // In: raw YUV frames on standard input.
  for (const char *word : std::initializer_list<const char *>{
           "-f", "rawvideo", "-pix_fmt", "yuv420p", "-s", size, "-r", rate, "-i", "pipe:0", "-an"})
    words.emplace_back(word);
  // Out: H.264 in an MP4 file, the same bytes for the same frames.
  for (const char *word :
       {"-c:v", "libx264", "-preset", "ultrafast", "-crf", "23", "-threads", "1", "-map_metadata",
        "-1", "-fflags", "+bitexact", "-flags:v", "+bitexact", "-f", "mp4"})
    words.emplace_back(word);
  return words;
}

std::string cannot_write(const std::string &folder, const std::string &why) {
  return "SIM_OUTPUT: " + folder + ": cannot write run.mp4: " + why;
}
}  // namespace

void VideoRecorder::check_ffmpeg(const std::string &folder) {
  if (const std::string missing = FfmpegPipe::missing(); !missing.empty())
    throw RunError(cannot_write(folder, missing + "; install it, or leave the video out with "
                                                  "video = false under [output]"));
}

VideoRecorder::VideoRecorder(const OutputSink &outputs, ThirdPersonView &view, double time_step_ms)
    : outputs_(outputs), view_(view), steps_per_frame_(steps_per_frame(time_step_ms)) {
  const double seconds_per_frame = steps_per_frame_ * time_step_ms / 1000.0;
  output_ = outputs_.create("run.mp4", O_RDWR);
  if (output_ < 0) throw RunError(cannot_write(outputs_.path(), system_reason(errno)));
  const std::string failed =
      ffmpeg_.start(output_, encoding(video_width, video_height, 1.0 / seconds_per_frame));
  if (!failed.empty()) {
    ::close(output_);
    output_ = -1;
    outputs_.discard("run.mp4");
    throw RunError(cannot_write(outputs_.path(), failed));
  }
  frame_.resize(static_cast<std::size_t>(video_width) * video_height * 3u);
}

bool VideoRecorder::wants_camera_image(std::int64_t step) const {
  return ffmpeg_.is_open() && step % steps_per_frame_ == 0;
}

VideoRecorder::~VideoRecorder() {
  // Gone before the run's end (a run that could not start): the video is
  // no output, and leaves no file.
  if (output_ < 0) return;
  ffmpeg_.finish();
  ::close(output_);
  outputs_.discard("run.mp4");
}

void VideoRecorder::on_step(const StepEvent &step) {
  if (!ffmpeg_.is_open() || step.step % steps_per_frame_ != 0) return;
  view_.film(video_width, video_height, frame_);
  std::optional<Window> window;
  for (const Reach *reach : step.reaches)
    if (reach != nullptr && reach->decided_on && reach->decided_on->window)
      window = reach->decided_on->window;
  paste_inset(frame_, video_width, video_height, step.camera, window);
  caption_video_frame(
      frame_, video_width, video_height,
      video_caption_lines(step.step, step.seconds, step.legs[0], step.legs[1], step.camera.view));
  rgb_to_yuv420(frame_, video_width, video_height, yuv_);
  ffmpeg_.write_frame(yuv_);
}

void VideoRecorder::on_end(const RunRecord & /*run*/) {
  // A video whose ffmpeg failed on the way is no longer open, and its loss is
  // still to be told. One that ffmpeg says it finished must still be an MP4
  // file of every frame it took: a program that exits 0 without writing a
  // byte is no video.
  if (output_ < 0) return;
  std::string failure = ffmpeg_.finish();
  if (const std::string problem =
          failure.empty() ? mp4_problem(output_, ffmpeg_.frames_written()) : "";
      !problem.empty())
    failure = "ffmpeg ended without a word, but the file it left is no whole video: " + problem;
  ::close(output_);
  output_ = -1;
  outputs_.complete("run.mp4", failure);
}

}  // namespace sim
