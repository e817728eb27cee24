// The ffmpeg program as a child process: frames written to its standard
// input through a pipe, its messages read from its standard error, and its
// output file handed to it as /dev/fd/3. No call waits on it longer than its
// patience, which a stop signal shortens, and a stalled ffmpeg is killed.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sim {

class FfmpegPipe {
 public:
  using Clock = std::chrono::steady_clock;
  // How long ffmpeg may go without taking any frame data, or take to finish
  // its output once its frames are all given, before it counts as stalled
  // and is stopped: a run never waits on it for ever.
  static constexpr std::chrono::milliseconds default_patience{20'000};
  // The same, once a signal has asked the run to end.
  static constexpr std::chrono::milliseconds patience_once_stopped{3'000};

  explicit FfmpegPipe(std::chrono::milliseconds patience = default_patience)
      : patience_(patience) {}
  ~FfmpegPipe();
  FfmpegPipe(const FfmpegPipe &) = delete;
  FfmpegPipe &operator=(const FfmpegPipe &) = delete;

  // Why ffmpeg could not be started, found before anything is made: empty
  // when a program of that name is on PATH.
  static std::string missing();

  // Starts ffmpeg with `arguments` (those after its name) and "/dev/fd/3":
  // `output`, a file open for reading and writing (an mp4 file is finished
  // by going back to its start), which the caller keeps open as well. Empty,
  // or why it could not start.
  std::string start(int output, const std::vector<std::string> &arguments);
  bool is_open() const { return pipe_ >= 0; }
  // The frames ffmpeg has taken whole.
  std::int64_t frames_written() const { return frames_; }
  // One frame's bytes. False once ffmpeg has stopped taking frames, or was
  // stopped for stalling.
  bool write_frame(std::span<const unsigned char> frame);
  // Ends the stream and waits for ffmpeg to finish. Empty, or why its output
  // is not whole: a write that failed, a stall, ffmpeg's exit status and what
  // it printed. At "-loglevel error", anything ffmpeg says is an error.
  std::string finish();

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
  // end says of its output, or empty for a clean exit.
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

}  // namespace sim
