// A record written as the run goes (the trace, the state log): opened under
// its partial name when the run starts, completed under its own name at the
// end, or reported lost with the first reason it failed.
#pragma once

#include <cstddef>
#include <cstdio>
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

  // Writes bytes; a failure is kept for complete() to report.
  void write(const char *bytes, std::size_t size);
  // Closes the file, then renames it into place or reports its loss. Once.
  void complete();

 private:
  const OutputSink &outputs_;
  std::string name_;
  std::FILE *file_ = nullptr;
  std::string failure_;  // why the first failed write or the close failed
};

}  // namespace sim
