// The folder a run writes into. One run at a time holds it; every file in it
// is written under a temporary name and renamed when whole, so a reader never
// sees half a file; and a new run first removes the stand-in's own earlier
// outputs there, and nothing else.
#pragma once

#include <string>
#include <string_view>

namespace sim {

class OutputFolder {
 public:
  // Creates the folder if need be, takes its lock and removes earlier
  // outputs. Throws RunError if any of that cannot be done, or if another
  // run holds the folder.
  explicit OutputFolder(std::string path);
  ~OutputFolder();
  OutputFolder(const OutputFolder &) = delete;
  OutputFolder &operator=(const OutputFolder &) = delete;

  const std::string &path() const { return path_; }
  // Where an output is written until it is whole.
  std::string partial(std::string_view name) const;
  // Renames the partial file to its own name. On failure, returns the
  // system's reason; empty on success.
  std::string commit(std::string_view name) const;
  // Writes a whole file: partial, then renamed. Empty, or the reason it failed.
  std::string write(std::string_view name, std::string_view content) const;

 private:
  std::string path_;
  int lock_ = -1;  // file descriptor holding the folder's lock
};

// Whether a file name is one the stand-in writes (or leaves half-written
// after a crash), so that a new run may remove it.
bool is_stand_in_output(std::string_view name);

// The system's text for errno, e.g. "No space left on device".
std::string system_reason(int error);

}  // namespace sim
