// run.mp4: frames piped as raw RGB to the ffmpeg program, which encodes them
// as H.264. The file appears under its own name only once ffmpeg has
// finished it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/core/third_person_view.h"
#include "sim/record/outputs.h"
#include "sim/record/recorder.h"

namespace sim {

class VideoWriter {
 public:
  using Clock = std::chrono::steady_clock;
  // How long ffmpeg may go without taking any frame data, or take to finish
  // the video once its frames are all given, before it counts as stalled
  // and is stopped: a run never waits on it for ever.
  static constexpr std::chrono::milliseconds default_patience{20'000};
  // The same, once a signal has asked the run to end.
  static constexpr std::chrono::milliseconds patience_once_stopped{3'000};

  explicit VideoWriter(std::chrono::milliseconds patience = default_patience)
      : patience_(patience) {}
  ~VideoWriter();
  VideoWriter(const VideoWriter &) = delete;
  VideoWriter &operator=(const VideoWriter &) = delete;

  // Starts ffmpeg writing into `output`, a new file open for reading and
  // writing (an mp4 file is finished by going back to its start), which the
  // writer takes over. Empty, or why it could not start.
  std::string open(int output, int width, int height, double frames_per_second);
  bool is_open() const { return pipe_ >= 0; }
  // One frame of width x height x 3 bytes, rows top to bottom. False once
  // ffmpeg has stopped taking frames, or was stopped for stalling.
  bool add(std::span<const unsigned char> frame);
  // Ends the stream and waits for ffmpeg to finish. Empty, or why the video
  // is not whole: a write that failed, a stall, ffmpeg's exit status and what
  // it printed. Only a video that ffmpeg finished without a word is whole.
  std::string close();

 private:
  // Waits, reading ffmpeg's messages meanwhile, until the pipe takes frame
  // data again (for_frames) or ffmpeg has exited. False when ffmpeg has
  // taken longer than its patience since `since`.
  bool wait(bool for_frames, Clock::time_point since);
  // Reads what ffmpeg printed so far, without waiting.
  void read_messages();
  // Stops a stalled ffmpeg.
  void stop(const std::string &why);
  // Reaps ffmpeg, stopping it if it has not exited by the deadline; what its
  // end says of the video, or empty for a clean exit.
  std::string reap(Clock::time_point deadline);

  std::chrono::milliseconds patience_;
  int pipe_ = -1;      // ffmpeg's standard input: the frames
  int messages_ = -1;  // its standard error
  pid_t ffmpeg_ = -1;
  std::int64_t frames_ = 0;
  bool stopped_ = false;                         // ffmpeg was stopped for stalling
  std::optional<Clock::time_point> stop_asked_;  // when a signal asked the run to end
  std::string failure_;
  std::string said_;  // ffmpeg's messages
};

// run.mp4 of a run: a frame every other 32 ms step (real time), filmed from
// beside the robot, with the robot's own camera image in the top-left corner.
class VideoRecorder final : public Recorder {
 public:
  // Starts ffmpeg. Throws RunError when it cannot.
  VideoRecorder(const OutputSink &outputs, ThirdPersonView &view, double time_step_ms);

  void on_step(const StepEvent &step) override;
  bool wants_camera_image(std::int64_t step) const override;
  void on_end(const RunRecord &run) override;

 private:
  const OutputSink &outputs_;
  ThirdPersonView &view_;
  int steps_per_frame_;
  VideoWriter video_;
  std::vector<unsigned char> frame_;
};

}  // namespace sim
