// The folder a run writes into. One run at a time holds it; every file in it
// is written under a temporary name and renamed when whole, so a reader never
// sees half a file; and a new run first removes the stand-in's own earlier
// outputs there, and nothing else. Nothing is ever written through a symbolic
// link found in the folder: every file is made afresh where its name is.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

class OutputFolder {
 public:
  // Which file names are the stand-in's own outputs (or what a crash left of
  // them), so that a new run may remove them.
  using IsOutput = std::function<bool(std::string_view name)>;

  // Creates the folder if need be, takes its lock and removes earlier
  // outputs. Throws RunError if any of that cannot be done, or if another
  // run holds the folder.
  OutputFolder(std::string path, const IsOutput &is_output);
  ~OutputFolder();
  OutputFolder(const OutputFolder &) = delete;
  OutputFolder &operator=(const OutputFolder &) = delete;

  const std::string &path() const { return path_; }
  // Where an output is written until it is whole.
  std::string partial(std::string_view name) const;
  // The output a file name stands for: the name itself, or for a partial
  // file the output it was becoming.
  static std::string output_named(std::string_view file_name);
  // Makes the partial file of an output new and empty, open for writing
  // (O_WRONLY or O_RDWR in `access`), and returns its file descriptor
  // (close-on-exec), or -1 with errno set. Whatever had that name before,
  // a symbolic link included, is removed first, never written through.
  int create(std::string_view name, int access) const;
  // Renames the partial file to its own name. On failure, returns the
  // system's reason; empty on success.
  std::string commit(std::string_view name) const;
  // Writes a whole file: partial, then renamed. Empty, or the reason it failed.
  std::string write(std::string_view name, std::string_view content) const;
  // The same, giving the errno of the failure (0: written). A file that
  // could not be written whole leaves no partial file behind.
  int try_write(std::string_view name, std::string_view content) const;
  // Removes an output's partial file, if there is one, so that its space
  // serves the rest.
  void discard(std::string_view name) const;
  // Removes a finished output. Empty, or the reason it failed.
  std::string remove(std::string_view name) const;
  // The size of a finished output in bytes, 0 if there is none.
  std::uint64_t size_of(std::string_view name) const;
  // The space free for this process's files on the folder's file system, in
  // bytes; nothing if the system cannot say.
  std::optional<std::uint64_t> free_bytes() const;

 private:
  std::string path_;
  int folder_ = -1;  // the folder itself, which every file is made and renamed in
  int lock_ = -1;    // file descriptor holding the folder's lock
};

}  // namespace sim
