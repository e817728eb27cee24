// run.mp4: frames piped as raw RGB to the ffmpeg program, which encodes them
// as H.264. The file appears under its own name only once ffmpeg has
// finished it.
#pragma once

#include <sys/types.h>

#include <span>
#include <string>

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

}  // namespace sim
