#include "sim/system/files.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace sim {

std::string system_reason(int error) { return std::strerror(error); }

std::string last_system_reason() { return errno != 0 ? system_reason(errno) : "write error"; }

std::string read_file(const std::string &path, std::string_view kind, std::uint64_t max_bytes) {
  const std::string not_it = ", not " + std::string(kind);
  struct stat about {};
  if (::stat(path.c_str(), &about) != 0)
    throw FileError("cannot be opened (" + system_reason(errno) + ")");
  if (S_ISDIR(about.st_mode)) throw FileError("is a directory" + not_it);
  if (S_ISFIFO(about.st_mode)) throw FileError("is a FIFO (named pipe)" + not_it);
  if (S_ISCHR(about.st_mode) || S_ISBLK(about.st_mode)) throw FileError("is a device" + not_it);
  if (S_ISSOCK(about.st_mode)) throw FileError("is a socket" + not_it);
  if (!S_ISREG(about.st_mode)) throw FileError("is not a regular file");
  const auto size = static_cast<std::uint64_t>(about.st_size);
  if (size > max_bytes) {
    std::string limit = std::to_string(max_bytes);
    if (max_bytes % (1u << 20) == 0) limit += " (" + std::to_string(max_bytes >> 20) + " MiB)";
    throw FileError("is " + std::to_string(size) + " bytes; " + std::string(kind) +
                    " may have at most " + limit);
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) throw FileError("cannot be opened (" + system_reason(errno) + ")");
  std::string text(static_cast<std::size_t>(size), '\0');
  file.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (file.gcount() != static_cast<std::streamsize>(text.size()) || file.bad())
    throw FileError("cannot be read (" + system_reason(errno) + ")");
  return text;
}

}  // namespace sim
