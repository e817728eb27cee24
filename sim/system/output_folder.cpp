#include "sim/system/output_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "sim/model/errors.h"
#include "sim/system/files.h"

namespace sim {

namespace {
namespace fs = std::filesystem;

constexpr std::string_view lock_name = ".sim.lock";
constexpr std::string_view partial_suffix = ".partial";
}  // namespace

OutputFolder::OutputFolder(std::string path, const IsOutput &is_output) : path_(std::move(path)) {
  std::error_code failed;
  fs::create_directories(path_, failed);
  if (failed)
    throw RunError("SIM_OUTPUT: " + path_ + ": cannot create the folder (" + failed.message() +
                   ")");
  const std::string lock_path = (fs::path(path_) / lock_name).string();
  lock_ = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lock_ < 0)
    throw RunError("SIM_OUTPUT: " + path_ + ": cannot write there (" + system_reason(errno) + ")");
  // The lock goes with the process, however it ends, so a crashed run never
  // leaves the folder locked.
  if (::flock(lock_, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(lock_);
    lock_ = -1;
    if (error == EWOULDBLOCK)
      throw RunError("SIM_OUTPUT: " + path_ +
                     ": another run is writing there; wait for it to end or choose another "
                     "folder");
    throw RunError("SIM_OUTPUT: " + path_ + ": cannot lock the folder (" + system_reason(error) +
                   ")");
  }
  for (const fs::directory_entry &entry : fs::directory_iterator(path_, failed)) {
    const std::string name = entry.path().filename().string();
    if (!is_output(name)) continue;
    std::error_code removed;
    fs::remove(entry.path(), removed);
    if (removed)
      throw RunError("SIM_OUTPUT: " + path_ + ": cannot remove the earlier " + name + " (" +
                     removed.message() + ")");
  }
  if (failed)
    throw RunError("SIM_OUTPUT: " + path_ + ": cannot list the folder (" + failed.message() + ")");
}

OutputFolder::~OutputFolder() {
  if (lock_ >= 0) ::close(lock_);
}

std::string OutputFolder::partial(std::string_view name) const {
  return (fs::path(path_) / ("." + std::string(name) + std::string(partial_suffix))).string();
}

std::string OutputFolder::output_named(std::string_view file_name) {
  std::string name(file_name);
  if (name.size() > partial_suffix.size() + 1 && name[0] == '.' && name.ends_with(partial_suffix))
    name = name.substr(1, name.size() - 1 - partial_suffix.size());
  return name;
}

std::string OutputFolder::commit(std::string_view name) const {
  const std::string target = (fs::path(path_) / std::string(name)).string();
  if (std::rename(partial(name).c_str(), target.c_str()) != 0) return system_reason(errno);
  return "";
}

std::string OutputFolder::write(std::string_view name, std::string_view content) const {
  const std::string temporary = partial(name);
  std::FILE *file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) return system_reason(errno);
  bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
  int error = written ? 0 : errno;
  if (std::fclose(file) != 0 && written) {
    written = false;
    error = errno;
  }
  if (!written) {
    std::remove(temporary.c_str());
    return system_reason(error);
  }
  return commit(name);
}

}  // namespace sim
