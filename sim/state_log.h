// state.csv: one row per step, for the tools people plot with: time, every
// joint's set-point and position, both front feet and the camera's view.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "sim/engine.h"

namespace sim {

class StateLog {
 public:
  StateLog() = default;
  ~StateLog();
  StateLog(const StateLog &) = delete;
  StateLog &operator=(const StateLog &) = delete;

  // Starts the file at path with its header; false if it cannot be written.
  bool open(const std::string &path);
  bool is_open() const { return file_ != nullptr; }
  // The row after a step; `view` is the side the image shows.
  void add(std::int64_t step, double seconds, const Engine &engine, const SetPoints &set_points,
           View view);
  // Completes the file; false if any row could not be written.
  bool close();

 private:
  std::FILE *file_ = nullptr;
  bool failed_ = false;
};

// The header line, without its newline: the column names.
std::string state_log_header();

}  // namespace sim
