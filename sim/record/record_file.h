// A record written as the run goes (the trace, the state log): opened under
// its partial name when the run starts, completed under its own name at the
// end, or reported lost with the first reason it failed, its partial file
// removed at once. A write that finds the disk full first asks the outputs
// to make room by giving up a less valuable one.
#pragma once

#include <cstddef>
#include <string>

#include "sim/record/outputs.h"

namespace sim {

class RecordFile {
 public:
  // Opens the partial file of `name`. Throws RunError naming the folder and
  // the file when it cannot.
  RecordFile(const OutputSink &outputs, std::string name);
  ~RecordFile();
  RecordFile(const RecordFile &) = delete;
  RecordFile &operator=(const RecordFile &) = delete;

  // Writes bytes, gathered and written out a buffer at a time; a large
  // piece goes straight to the file.
  void write(const char *bytes, std::size_t size);
  // Writes out what is gathered, closes the file, then renames it into place
  // or reports its loss. Once.
  void complete();

 private:
  // Writes out the gathered bytes. False once the record is lost.
  bool flush();
  bool write_out(const char *bytes, std::size_t size);
  void give_up(const std::string &reason);

  const OutputSink &outputs_;
  std::string name_;
  int file_ = -1;  // -1 once completed or lost
  std::string buffer_;
};

}  // namespace sim
