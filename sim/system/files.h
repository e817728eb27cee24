// Reading files, and the system's words for why a file operation failed.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace sim {

// A file that cannot be read: the reason alone, for the caller to place
// after the path and whatever else it names.
struct FileError : std::runtime_error {
  explicit FileError(const std::string &why) : std::runtime_error(why), reason(why) {}
  std::string reason;
};

// Files larger than this are a mistake (or /dev/zero) wherever the stand-in
// reads one.
inline constexpr std::uint64_t largest_file_read = 16u << 20;  // bytes: 16 MiB

// The whole content of the regular file at path. `kind` says what the file
// should be ("a world file"), for the reasons it gives: a directory, a FIFO,
// a device or a file over max_bytes is refused before any byte is read, as a
// FIFO or a device may never end. Throws FileError.
std::string read_file(const std::string &path, std::string_view kind = "a file",
                      std::uint64_t max_bytes = largest_file_read);

// The system's text for errno, e.g. "No space left on device".
std::string system_reason(int error);
// Why the last call that sets errno failed, as far as the system says; for
// a failure that set none (a short write), "write error".
std::string last_system_reason();

}  // namespace sim
