// run.mp4: frames piped as raw RGB to the ffmpeg program, which encodes them
// as H.264. The file appears under its own name only once ffmpeg has
// finished it and it holds, as an MP4 file, every frame it was sent.
#pragma once

#include <string>
#include <vector>

#include "sim/core/third_person_view.h"
#include "sim/record/outputs.h"
#include "sim/record/recorder.h"
#include "sim/system/ffmpeg_pipe.h"

namespace sim {

// run.mp4 of a run: a frame every other 32 ms step (real time), filmed from
// beside the robot, with the robot's own camera image in the top-left corner.
class VideoRecorder final : public Recorder {
 public:
  // Throws RunError, naming the output folder, when ffmpeg cannot be found:
  // for a run to call before it makes or removes any file there.
  static void check_ffmpeg(const std::string &folder);
  // Starts ffmpeg. Throws RunError when it cannot, leaving no file behind.
  VideoRecorder(const OutputSink &outputs, ThirdPersonView &view, double time_step_ms);
  ~VideoRecorder() override;
  VideoRecorder(const VideoRecorder &) = delete;
  VideoRecorder &operator=(const VideoRecorder &) = delete;

  void on_step(const StepEvent &step) override;
  bool wants_camera_image(std::int64_t step) const override;
  void on_end(const RunRecord &run) override;

 private:
  const OutputSink &outputs_;
  ThirdPersonView &view_;
  int steps_per_frame_;
  int output_ = -1;  // run.mp4's partial file, read back once ffmpeg is done
  FfmpegPipe ffmpeg_;
  std::vector<unsigned char> frame_;
  std::vector<unsigned char> yuv_;  // frame_ as the encoder takes it
};

}  // namespace sim
