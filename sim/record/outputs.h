// The run's outputs in its folder: which file names are the stand-in's, and
// how a recorder completes a file or reports it lost.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "sim/system/output_folder.h"

namespace sim {

// Whether a file name is one the stand-in writes (or leaves half-written
// after a crash), so that a new run may remove it.
bool is_stand_in_output(std::string_view name);

// Where recorders write: the output folder, and the run's way of reporting an
// output that could not be written.
class OutputSink {
 public:
  using Failed = std::function<void(const std::string &name, const std::string &reason)>;
  OutputSink(const OutputFolder &folder, Failed failed)
      : folder_(folder), failed_(std::move(failed)) {}

  const std::string &path() const { return folder_.path(); }
  // The output's partial file made new for writing: a file descriptor, or -1
  // with errno set (see OutputFolder::create).
  int create(std::string_view name, int access) const { return folder_.create(name, access); }
  // Renames the output written under its partial name into place, or
  // reports why it is missing: `failure`, or the rename's own reason.
  void complete(const std::string &name, std::string failure) const;
  // Removes the partial file of an output that was never begun after all.
  void discard(const std::string &name) const { folder_.discard(name); }
  // Writes a whole output: partial, then renamed; or reports its loss.
  void write(const std::string &name, std::string_view content) const;
  // The same for a picture, whose drawing gives no bytes when it failed.
  void write_picture(const std::string &name, std::string_view png) const;

 private:
  const OutputFolder &folder_;
  Failed failed_;
};

}  // namespace sim
