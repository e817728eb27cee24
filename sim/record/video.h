// run.mp4: frames piped as raw RGB to the ffmpeg program, which encodes them
// as H.264. The file appears under its own name only once ffmpeg has
// finished it.
#pragma once

#include <sys/types.h>

#include <span>
#include <string>
#include <vector>

#include "sim/model/third_person_view.h"
#include "sim/record/outputs.h"
#include "sim/record/recorder.h"

namespace sim {

class VideoWriter {
 public:
  VideoWriter() = default;
  ~VideoWriter();
  VideoWriter(const VideoWriter &) = delete;
  VideoWriter &operator=(const VideoWriter &) = delete;

  // Starts ffmpeg writing path. Empty, or why it could not start.
  std::string open(const std::string &path, int width, int height, double frames_per_second);
  bool is_open() const { return pipe_ >= 0; }
  // One frame of width x height x 3 bytes, rows top to bottom. False once
  // ffmpeg has stopped taking frames.
  bool add(std::span<const unsigned char> frame);
  // Ends the stream and waits for ffmpeg. Empty, or why the video is not whole.
  std::string close();

 private:
  int pipe_ = -1;
  pid_t ffmpeg_ = -1;
  std::string failure_;
};

// run.mp4 of a run: a frame every other 32 ms step (real time), filmed from
// beside the robot, with the robot's own camera image in the top-left corner.
class VideoRecorder final : public Recorder {
 public:
  // Starts ffmpeg. Throws RunError when it cannot.
  VideoRecorder(const OutputSink &outputs, ThirdPersonView &view, double time_step_ms);

  void on_step(const StepEvent &step) override;
  void on_end(const RunRecord &run) override;

 private:
  const OutputSink &outputs_;
  ThirdPersonView &view_;
  int steps_per_frame_;
  VideoWriter video_;
  std::vector<unsigned char> frame_;
};

}  // namespace sim
