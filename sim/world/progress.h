// A progress bar on stderr for runs long enough to wait for, and only when
// stderr is a terminal: logs and pipes get nothing.
#pragma once

#include <chrono>
#include <cstdint>

namespace sim {

class Progress {
 public:
  explicit Progress(std::int64_t total_steps);
  ~Progress() { clear(); }
  void step(std::int64_t steps_done);
  // Removes the bar, before other lines are written to stderr.
  void clear();

 private:
  std::int64_t total_;
  bool terminal_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_;
};

}  // namespace sim
